// NUL-device handles, handle inheritance, file writes and the module path.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32_platform.h"
#include "support/scratch_dir.h"
#include "win32_test.h"

namespace zub {
namespace {

using win32_test::u16;

constexpr std::uint32_t FILE_GENERIC_READ_ACCESS = 0x120089;
constexpr std::uint32_t FILE_GENERIC_WRITE_ACCESS = 0x120116;
constexpr std::uint32_t OPEN_EXISTING_DISPOSITION = 3;

bool is_inheritable(Handle handle) {
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(handle), &flags));
    return (flags & HANDLE_FLAG_INHERIT) != 0;
}

class Win32HandlesTest : public ::testing::Test {
protected:
    Win32Platform platform;
};

TEST_F(Win32HandlesTest, InheritableNulHandlesReadEmptyAndSwallowWrites) {
    const SecurityAttributes inheritable{sizeof(SecurityAttributes), nullptr, 1};
    const HandleResult in = platform.create_file_w(u"NUL", FILE_GENERIC_READ_ACCESS, 1,
                                                   &inheritable, OPEN_EXISTING_DISPOSITION, 0);
    const HandleResult out = platform.create_file_w(u"NUL", FILE_GENERIC_WRITE_ACCESS, 7,
                                                    &inheritable, OPEN_EXISTING_DISPOSITION, 0);
    ASSERT_TRUE(is_closable_handle(in.handle)) << in.error;
    ASSERT_TRUE(is_closable_handle(out.handle)) << out.error;
    EXPECT_TRUE(is_inheritable(in.handle));
    EXPECT_TRUE(is_inheritable(out.handle));

    char byte = 0;
    DWORD read = 1;
    EXPECT_TRUE(ReadFile(reinterpret_cast<HANDLE>(in.handle), &byte, 1, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(platform.write_file(out.handle, "discarded line\n").ok);

    EXPECT_TRUE(platform.close_handle(in.handle));
    EXPECT_TRUE(platform.close_handle(out.handle));
}

TEST_F(Win32HandlesTest, SetHandleInformationTogglesInheritance) {
    const HandleResult nul = platform.create_file_w(u"NUL", FILE_GENERIC_WRITE_ACCESS, 7, nullptr,
                                                    OPEN_EXISTING_DISPOSITION, 0);
    ASSERT_TRUE(is_closable_handle(nul.handle)) << nul.error;
    EXPECT_FALSE(is_inheritable(nul.handle));
    EXPECT_TRUE(platform.set_handle_information(nul.handle, HANDLE_FLAG_INHERIT, 1).ok);
    EXPECT_TRUE(is_inheritable(nul.handle));
    EXPECT_TRUE(platform.set_handle_information(nul.handle, HANDLE_FLAG_INHERIT, 0).ok);
    EXPECT_FALSE(is_inheritable(nul.handle));
    EXPECT_TRUE(platform.close_handle(nul.handle));
}

TEST_F(Win32HandlesTest, CreateFileFailureCarriesError) {
    test_support::ScratchDir scratch;
    const HandleResult missing =
        platform.create_file_w(u16(scratch.join(L"missing")).c_str(), FILE_GENERIC_READ_ACCESS, 1,
                               nullptr, OPEN_EXISTING_DISPOSITION, 0);
    EXPECT_EQ(missing.handle, INVALID_HANDLE);
    EXPECT_EQ(missing.error, ERROR_FILE_NOT_FOUND_CODE);
}

TEST_F(Win32HandlesTest, WriteFileWritesEveryByte) {
    test_support::ScratchDir scratch;
    const std::u16string path = u16(scratch.join(L"out.bin"));
    const HandleResult file = platform.create_file_w(path.c_str(), GENERIC_WRITE | GENERIC_READ, 0,
                                                     nullptr, CREATE_NEW, 0);
    ASSERT_TRUE(is_closable_handle(file.handle)) << file.error;
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    EXPECT_TRUE(platform.write_file(file.handle, bytes).ok);

    const HANDLE raw = reinterpret_cast<HANDLE>(file.handle);
    std::string back(bytes.size() + 1, '\0');
    DWORD read = 0;
    SetFilePointer(raw, 0, nullptr, FILE_BEGIN);
    EXPECT_TRUE(ReadFile(raw, back.data(), static_cast<DWORD>(back.size()), &read, nullptr));
    back.resize(read);
    EXPECT_EQ(back, bytes);
    EXPECT_FALSE(platform.get_console_mode(file.handle)) << "a file is no console";
    EXPECT_TRUE(platform.close_handle(file.handle));
}

// The entry point drops its line silently on exactly this error.
TEST_F(Win32HandlesTest, WritesToNoHandleFailWithInvalidHandle) {
    const BoolResult file = platform.write_file(NO_HANDLE, "line\n");
    EXPECT_FALSE(file.ok);
    EXPECT_EQ(file.error, ERROR_INVALID_HANDLE_CODE);
    const BoolResult console = platform.write_console_w(NO_HANDLE, u"line\n");
    EXPECT_FALSE(console.ok);
    EXPECT_NE(console.error, 0u);
}

TEST_F(Win32HandlesTest, ModuleFileNameAndCommandLineAreTheProcessOwn) {
    const OsString module = platform.get_module_file_name();
    const std::u16string suffix = u"zub_win32_tests.exe";
    ASSERT_GT(module.size(), suffix.size());
    std::u16string tail = module.substr(module.size() - suffix.size());
    for (char16_t& c : tail) c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    EXPECT_EQ(tail, suffix);
    EXPECT_EQ(platform.get_command_line(), OsString(u16(GetCommandLineW())));
}

}  // namespace
}  // namespace zub
