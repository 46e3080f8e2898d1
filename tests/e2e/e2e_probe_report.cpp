#include "e2e_probe_report.h"

#include <windows.h>

#include <sstream>

namespace e2e {
namespace {

unsigned hex_digit(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>(c - 'a' + 10);
}

std::u16string decode_units(const std::string& hex) {
    std::u16string out;
    for (std::size_t i = 0; i + 4 <= hex.size(); i += 4) {
        unsigned unit = 0;
        for (std::size_t k = 0; k < 4; ++k) unit = unit * 16 + hex_digit(hex[i + k]);
        out += static_cast<char16_t>(unit);
    }
    return out;
}

std::string decode_bytes(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 2 <= hex.size(); i += 2)
        out += static_cast<char>(hex_digit(hex[i]) * 16 + hex_digit(hex[i + 1]));
    return out;
}

std::optional<std::string> read_file(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string text;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

}  // namespace

std::optional<ProbeReport> read_probe_report(const std::wstring& path) {
    const std::optional<std::string> text = read_file(path);
    if (!text) return std::nullopt;
    ProbeReport report;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "cmdline") report.command_line = decode_units(value);
        else if (key == "argv") report.argv.push_back(decode_units(value));
        else if (key == "env") report.env.push_back(decode_units(value));
        else if (key == "cwd") report.cwd = decode_units(value);
        else if (key == "stdout") report.stdout_status = value;
        else if (key == "stderr") report.stderr_status = value;
        else if (key == "pid") report.pid = static_cast<std::uint32_t>(std::stoul(value));
        else if (key == "alive") report.alive = value == "1";
        else if (key == "std") report.std_handles.push_back(std::stoull(value, nullptr, 16));
        else if (key == "leak") report.leaks.push_back(value);
        else if (key == "handle") {
            std::istringstream fields(value);
            std::string number, name;
            ProbeHandle handle;
            fields >> number >> handle.type >> name;
            handle.value = std::stoull(number, nullptr, 16);
            handle.name = decode_units(name);
            report.handles.push_back(handle);
        }
        else if (key == "stdin") {
            if (value.rfind("eof", 0) == 0) {
                report.stdin_status = "eof";
                report.stdin_data = decode_bytes(value.size() > 4 ? value.substr(4) : "");
            } else {
                report.stdin_status = value;
            }
        }
    }
    return report;
}

std::optional<ProbeReport> wait_probe_report(const std::wstring& path, unsigned timeout_ms) {
    for (unsigned waited = 0;; waited += 20) {
        if (auto report = read_probe_report(path)) return report;
        if (waited >= timeout_ms) return std::nullopt;
        Sleep(20);
    }
}

}  // namespace e2e
