// The helper's own environment block and the system's texts for error codes.
#include <windows.h>

#include "platform/win32_cast.h"
#include "platform/win32_platform.h"

namespace zub {
namespace {

// Longer than any system message text.
constexpr DWORD MESSAGE_BUFFER_UNITS = 2048;

bool is_trailing_blank(char c) { return c == '\r' || c == '\n' || c == ' '; }

}  // namespace

const char16_t* Win32Platform::get_environment_strings_w(std::uint32_t* error) {
    const wchar_t* block = GetEnvironmentStringsW();
    *error = block == nullptr ? static_cast<std::uint32_t>(GetLastError()) : 0;
    return win32::units(block);
}

void Win32Platform::free_environment_strings_w(const char16_t* block) {
    // Only GetEnvironmentStringsW's block comes here; the declaration lacks the const.
    FreeEnvironmentStringsW(const_cast<wchar_t*>(win32::wide(block)));
}

std::string Win32Platform::format_message(std::uint32_t code) {
    wchar_t buffer[MESSAGE_BUFFER_UNITS];
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       0, buffer, MESSAGE_BUFFER_UNITS, nullptr);
    std::string text = to_utf8_lossy(OsStringView{win32::units(buffer), length});
    while (!text.empty() && is_trailing_blank(text.back())) text.pop_back();
    return text;
}

}  // namespace zub
