// The scratch directories' clean-up: a test that plants a link must not make
// it delete what the link points to.
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "win32_test.h"

namespace zub {
namespace {

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(ScratchDir, RemovesALinkInsideAsALinkNeverEnteringIt) {
    const test_support::ScratchDir outside;
    ASSERT_TRUE(outside.make_file(L"keep.txt"));
    std::string link;
    {
        const test_support::ScratchDir scratch;
        ASSERT_TRUE(scratch.make_dir(L"sub"));
        ASSERT_TRUE(scratch.make_file(L"sub\\f.txt"));
        // Wine lists a Unix symbolic link in its drive as a directory with the reparse bit.
        const std::string target = win32_test::unix_path_of(outside.path());
        link = win32_test::unix_path_of(scratch.join(L"link"));
        if (target.empty() || link.empty()) GTEST_SKIP() << "not running under Wine";
        if (!win32_test::run_unix("/bin/ln", "-s", target, link)) {
            GTEST_SKIP() << "cannot run a Unix program from this Wine";
        }
        const DWORD attributes = GetFileAttributesW(scratch.join(L"link").c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        ASSERT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        ASSERT_TRUE(exists(scratch.join(L"link\\keep.txt")));
    }
    EXPECT_TRUE(exists(outside.join(L"keep.txt"))) << "the clean-up went through the link";
    // Wine cannot delete a Unix link through the Win32 calls, so it and its directory stay;
    // rm unlinks the link without following it.
    win32_test::run_unix("/bin/rm", "-rf", "--", link.substr(0, link.rfind('/')));
}

}  // namespace
}  // namespace zub
