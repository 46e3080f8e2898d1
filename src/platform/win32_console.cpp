// Command line, own path, standard handles, console and file output, exit.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/win32_cast.h"
#include "platform/win32_platform.h"

namespace zub {
namespace {

// WriteFile and WriteConsoleW take a 32-bit count; larger texts go in pieces.
constexpr std::size_t MAX_WRITE_CHUNK = 1u << 30;

// Paths are at most 32767 units long; a buffer this large always fits one.
constexpr DWORD MAX_MODULE_PATH = 32768;

// A call that reported success but wrote nothing would loop forever.
constexpr std::uint32_t ERROR_WRITE_FAULT_CODE = 29;

}  // namespace

OsString Win32Platform::get_command_line() {
    const wchar_t* line = GetCommandLineW();
    return line == nullptr ? OsString{} : OsString{win32::units(line)};
}

OsString Win32Platform::get_module_file_name() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) return {};
        // A result that fills the whole buffer means the path was cut short.
        if (length < size) return OsString{win32::units(buffer.data()), length};
        if (size >= MAX_MODULE_PATH) return {};
        buffer.resize(std::min<std::size_t>(buffer.size() * 2, MAX_MODULE_PATH));
    }
}

Handle Win32Platform::get_std_handle(std::uint32_t which) {
    return win32::from_win(GetStdHandle(static_cast<DWORD>(which)));
}

bool Win32Platform::get_console_mode(Handle handle) {
    DWORD mode = 0;
    return GetConsoleMode(win32::to_win(handle), &mode) != 0;
}

std::uint32_t Win32Platform::get_console_output_cp() { return GetConsoleOutputCP(); }

BoolResult Win32Platform::write_console_w(Handle handle, std::u16string_view text) {
    do {
        const DWORD chunk = static_cast<DWORD>(std::min(text.size(), MAX_WRITE_CHUNK));
        DWORD written = 0;
        if (!WriteConsoleW(win32::to_win(handle), text.data(), chunk, &written, nullptr)) {
            return {false, static_cast<std::uint32_t>(GetLastError())};
        }
        if (written == 0 && chunk != 0) return {false, ERROR_WRITE_FAULT_CODE};
        text.remove_prefix(std::min<std::size_t>(written, text.size()));
    } while (!text.empty());
    return {true, 0};
}

BoolResult Win32Platform::write_file(Handle handle, std::string_view bytes) {
    do {
        const DWORD chunk = static_cast<DWORD>(std::min(bytes.size(), MAX_WRITE_CHUNK));
        DWORD written = 0;
        if (!WriteFile(win32::to_win(handle), bytes.data(), chunk, &written, nullptr)) {
            return {false, static_cast<std::uint32_t>(GetLastError())};
        }
        if (written == 0 && chunk != 0) return {false, ERROR_WRITE_FAULT_CODE};
        bytes.remove_prefix(std::min<std::size_t>(written, bytes.size()));
    } while (!bytes.empty());
    return {true, 0};
}

void Win32Platform::exit_process(std::uint32_t status) { ExitProcess(status); }

}  // namespace zub
