#include "helper_appcontainer/entry_point.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <variant>

#include "helper_appcontainer/run_sandboxed.h"
#include "protocol/command_line_split.h"
#include "protocol/fatal_stop.h"
#include "protocol/parse_args.h"

namespace zub {
namespace {

// Ends the process. GCC does not carry the attribute of a virtual function to
// its call site, so there the abort states what exit_process guarantees; MSVC
// does, and would call the abort unreachable code (C4702).
[[noreturn]] void exit_with(Platform& platform, std::uint32_t status) {
    platform.exit_process(status);
#ifndef _MSC_VER
    // cppcheck-suppress unreachableCode
    std::abort();
#endif
}

constexpr std::uint32_t UTF8_CODE_PAGE = 65001;
constexpr char LINE_PREFIX[] = "zub-sandbox-helper: ";
constexpr char ARGV_PREFIX[] = "argv parse failed: ";

// Writes the line to standard error. Returns the Win32 error of a failed write
// that is not ERROR_INVALID_HANDLE; a missing handle drops the line silently.
std::optional<std::uint32_t> write_stderr_line(Platform& platform, const std::string& line) {
    const Handle handle = platform.get_std_handle(STD_ERROR_HANDLE_ID);
    if (!is_closable_handle(handle)) return std::nullopt;
    // A console that does not decode UTF-8 gets the characters as UTF-16.
    const bool wide_console =
        platform.get_console_mode(handle) && platform.get_console_output_cp() != UTF8_CODE_PAGE;
    const BoolResult written = wide_console ? platform.write_console_w(handle, to_utf16(line))
                                            : platform.write_file(handle, line);
    if (written.ok || written.error == ERROR_INVALID_HANDLE_CODE) return std::nullopt;
    return written.error;
}

[[noreturn]] void fatal_stop(Platform& platform, const std::string& message) {
    // The report itself may fail too; there is nothing left to tell it to.
    (void)write_stderr_line(platform, std::string(LINE_PREFIX) + "fatal error: " + message + "\n");
    exit_with(platform, EXIT_FATAL);
}

[[noreturn]] void fail_with_line(Platform& platform, const std::string& message,
                                 std::uint32_t status) {
    if (const auto error = write_stderr_line(platform, LINE_PREFIX + message + "\n")) {
        fatal_stop(platform, "failed to write to standard error: " +
                                 os_error_text(platform.format_message(*error), *error));
    }
    exit_with(platform, status);
}

}  // namespace

void helper_main(Platform& platform) {
    HelperRequest request;
    {
        const OsString command_line = platform.get_command_line();
        const OsString module_path =
            command_line.empty() ? platform.get_module_file_name() : OsString();
        std::vector<OsString> arguments = split_command_line(command_line, module_path);
        arguments.erase(arguments.begin());  // the helper's own path, never read
        auto parsed = parse_helper_args(std::move(arguments));
        if (!parsed) {
            const bool mismatch =
                std::holds_alternative<argv_error::ProtocolVersionMismatch>(parsed.error());
            fail_with_line(platform, ARGV_PREFIX + render(parsed.error()),
                           mismatch ? EXIT_PROTOCOL_MISMATCH : EXIT_ARGV_ERROR);
        }
        request = std::move(parsed).value();
    }

    auto run = run_sandboxed(platform, std::move(request));
    if (run) exit_with(platform, run.value());
    if (auto* error = std::get_if<SandboxError>(&run.error())) {
        fail_with_line(platform, render(*error), EXIT_RUN_ERROR);
    }
    fatal_stop(platform, std::get<FatalStop>(run.error()).message);
}

}  // namespace zub
