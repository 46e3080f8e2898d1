#pragma once
// What zub-probe.exe wrote about itself, decoded back from its hex report.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// One valid handle value in the probe's table ("handles" mode).
struct ProbeHandle {
    std::uintptr_t value = 0;
    std::string type;     // "disk", "char", "pipe" or "other"
    std::u16string name;  // a file's final path or a pipe's name; may be empty
};

struct ProbeReport {
    std::u16string command_line;
    std::vector<std::u16string> argv;  // the C runtime's argv, argv[0] included
    std::vector<std::u16string> env;   // GetEnvironmentStringsW, in block order
    std::u16string cwd;
    std::string stdin_status;          // "eof", "none" or "error N"
    std::string stdin_data;
    std::string stdout_status;         // "ok", "none" or "error N"
    std::string stderr_status;
    std::uint32_t pid = 0;
    bool alive = false;
    std::vector<std::uintptr_t> std_handles;  // stdin, stdout, stderr ("handles" mode)
    std::vector<ProbeHandle> handles;
    std::vector<std::string> leaks;           // "<value> wrote" or "<value> refused"

};

// Nothing when the file is missing or unreadable.
std::optional<ProbeReport> read_probe_report(const std::wstring& path);

// Waits up to `timeout_ms` for the report to appear.
std::optional<ProbeReport> wait_probe_report(const std::wstring& path, unsigned timeout_ms);

}  // namespace e2e
