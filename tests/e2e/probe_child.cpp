// zub-probe.exe: the child the end-to-end tests start, directly or through the
// helper. It reports what it received, exactly:
//
//   zub-probe REPORT report             command line, C-runtime argv, environment,
//                                       current directory, stdin (read to EOF), and
//                                       the results of marker writes to stdout/stderr
//   zub-probe REPORT exit CODE          exits with the 32-bit CODE (decimal or 0x hex)
//   zub-probe REPORT crash              dies of an access violation
//   zub-probe REPORT stderr TEXT CODE   writes TEXT and a line feed to stderr (UTF-8), exits CODE
//   zub-probe REPORT grandchild         starts "zub-probe - sleep", reports its pid, exits 0
//   zub-probe REPORT hang               reports its own pid, then sleeps
//   zub-probe REPORT sleep              sleeps (the grandchild)
//   zub-probe REPORT handles            what a hostile script would find: every valid
//                                       handle value in its table with its file type and
//                                       name, its standard handles, and the result of
//                                       writing a marker into every pipe or file handle
//                                       that is not one of its standard handles
//   zub-probe REPORT token              whether its token is an AppContainer's, the
//                                       container SID, the capability SIDs, the
//                                       integrity level's RID
//   zub-probe REPORT access PATH OP     the Win32 error (0: done) of one operation on
//                                       PATH: read, write, create, delete, rename, list
//   zub-probe REPORT breakaway          the error of starting a plain child (the control),
//                                       then of starting itself out of its job
//   zub-probe REPORT connect HOST PORT  the address HOST gave and the error of one TCP
//                                       connection to it, 5 s at most
//
// REPORT is a file path, or "-" for standard output. Every string is written as
// hex UTF-16 units and stdin as hex bytes, so nothing is lost on the way to the
// test. A report file is held unshared until it is whole, so a test that
// polls for it never reads half of it.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr DWORD SLEEP_LIMIT_MS = 30000;  // a probe that escaped its job still goes away

std::string hex_units(const wchar_t* text, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned unit = static_cast<unsigned>(text[i]) & 0xFFFFu;
        for (int shift = 12; shift >= 0; shift -= 4) out += digits[(unit >> shift) & 0xF];
    }
    return out;
}

std::string hex_units(const std::wstring& text) { return hex_units(text.data(), text.size()); }

std::string utf8(const std::wstring& text) {
    std::string out(text.size() * 3, '\0');
    out.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                            out.data(), static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

std::string hex_bytes(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const unsigned b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

class Report {
public:
    void line(const std::string& key, const std::string& value) { text_ += key + " " + value + "\n"; }

    // Writes PATH, holding it unshared until the report is whole: a test that
    // polls for it cannot open it earlier. (A rename into place would need DELETE,
    // which a confined probe is not granted.) "-" writes to standard output,
    // which is all a confined probe may be able to write.
    bool publish(const wchar_t* path) const {
        const bool to_stdout = std::wstring(path) == L"-";
        HANDLE file = to_stdout ? GetStdHandle(STD_OUTPUT_HANDLE)
                                : CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == nullptr || file == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        const BOOL ok = WriteFile(file, text_.data(), static_cast<DWORD>(text_.size()), &written,
                                  nullptr);
        if (!to_stdout) CloseHandle(file);
        return ok && written == text_.size();
    }

private:
    std::string text_;
};

void report_stdin(Report& report) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) {
        report.line("stdin", "none");
        return;
    }
    std::string data;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr)) {
            const DWORD error = GetLastError();
            if (error != ERROR_BROKEN_PIPE) {
                report.line("stdin", "error " + std::to_string(error));
                return;
            }
            break;
        }
        if (got == 0) break;
        data.append(buffer, got);
    }
    report.line("stdin", "eof " + hex_bytes(data));
}

void report_write(Report& report, const char* key, DWORD which, const std::string& marker) {
    HANDLE out = GetStdHandle(which);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        report.line(key, "none");
        return;
    }
    DWORD written = 0;
    if (!WriteFile(out, marker.data(), static_cast<DWORD>(marker.size()), &written, nullptr)) {
        report.line(key, "error " + std::to_string(GetLastError()));
        return;
    }
    report.line(key, "ok");
}

int do_report(int argc, wchar_t** argv, const wchar_t* path) {
    Report report;
    report.line("cmdline", hex_units(GetCommandLineW()));
    report.line("argc", std::to_string(argc));
    for (int i = 0; i < argc; ++i) report.line("argv", hex_units(argv[i]));

    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry && *entry; entry += wcslen(entry) + 1)
        report.line("env", hex_units(entry));
    if (block) FreeEnvironmentStringsW(block);

    wchar_t cwd[MAX_PATH * 4];
    const DWORD cwd_length = GetCurrentDirectoryW(MAX_PATH * 4, cwd);
    report.line("cwd", hex_units(cwd, cwd_length));

    report_stdin(report);
    report_write(report, "stdout", STD_OUTPUT_HANDLE, "probe-stdout\n");
    report_write(report, "stderr", STD_ERROR_HANDLE, "probe-stderr\n");
    return report.publish(path) ? 0 : 3;
}

// Handle values are multiples of 4; a process that inherited a few handles
// holds them far below this.
constexpr ULONG_PTR HANDLE_SCAN_LIMIT = 0x4000;

std::string hex_value(ULONG_PTR value) {
    char text[32];
    (void)std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

const char* file_type_name(DWORD type) {
    switch (type) {
        case FILE_TYPE_DISK: return "disk";
        case FILE_TYPE_CHAR: return "char";
        case FILE_TYPE_PIPE: return "pipe";
        default: return "other";
    }
}

// A file's final path, or a pipe's name as the file system gives it; empty when none.
std::wstring handle_name(HANDLE handle, DWORD type) {
    if (type == FILE_TYPE_DISK) {
        wchar_t path[MAX_PATH * 4];
        const DWORD length = GetFinalPathNameByHandleW(handle, path, MAX_PATH * 4, 0);
        if (length > 0 && length < MAX_PATH * 4) return std::wstring(path, length);
    }
    if (type == FILE_TYPE_PIPE) {
        alignas(FILE_NAME_INFO) char buffer[sizeof(FILE_NAME_INFO) + MAX_PATH * 4 * sizeof(wchar_t)];
        if (GetFileInformationByHandleEx(handle, FileNameInfo, buffer, sizeof buffer)) {
            const auto* info = reinterpret_cast<const FILE_NAME_INFO*>(buffer);
            return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
        }
    }
    return {};
}

int do_handles(const wchar_t* path) {
    // The scan comes before anything of our own is opened.
    struct Found {
        ULONG_PTR value;
        DWORD type;
    };
    std::vector<Found> found;
    for (ULONG_PTR value = 4; value < HANDLE_SCAN_LIMIT; value += 4) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (GetHandleInformation(handle, &flags)) found.push_back({value, GetFileType(handle)});
    }
    const HANDLE streams[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                              GetStdHandle(STD_ERROR_HANDLE)};
    Report report;
    for (const HANDLE stream : streams) report.line("std", hex_value(reinterpret_cast<ULONG_PTR>(stream)));
    for (const Found& entry : found) {
        const HANDLE handle = reinterpret_cast<HANDLE>(entry.value);
        report.line("handle", hex_value(entry.value) + " " + file_type_name(entry.type) + " " +
                                  hex_units(handle_name(handle, entry.type)));
        const bool stream = std::find(std::begin(streams), std::end(streams), handle) != std::end(streams);
        if (stream || (entry.type != FILE_TYPE_PIPE && entry.type != FILE_TYPE_DISK)) continue;
        static const char marker[] = "zub-probe-leak\n";
        DWORD written = 0;
        const BOOL wrote = WriteFile(handle, marker, sizeof marker - 1, &written, nullptr);
        report.line("leak", hex_value(entry.value) + (wrote ? " wrote" : " refused"));
    }
    return report.publish(path) ? 0 : 3;
}

// This probe's own path, empty when it cannot be read.
std::wstring own_path() {
    wchar_t self[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4) return {};
    return std::wstring(self, length);
}

int do_grandchild(const wchar_t* path) {
    const std::wstring self = own_path();
    if (self.empty()) return 4;
    std::wstring command_line = L"\"" + self + L"\" - sleep";

    // No inherited handles and no standard handles: the grandchild must not keep
    // the test's pipes open, so its survival is seen only through its pid.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(self.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return 5;
    Report report;
    report.line("pid", std::to_string(info.dwProcessId));
    report.line("alive", WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT ? "1" : "0");
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return report.publish(path) ? 0 : 3;
}

int do_hang(const wchar_t* path) {
    Report report;
    report.line("pid", std::to_string(GetCurrentProcessId()));
    if (!report.publish(path)) return 3;
    Sleep(SLEEP_LIMIT_MS);
    return 0;
}

// The token's own view of its confinement. A query that fails reports its error.
std::string sid_text(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return "error " + std::to_string(GetLastError());
    std::string out;
    for (const wchar_t* unit = text; *unit; ++unit) out += static_cast<char>(*unit);  // SID strings are ASCII
    LocalFree(text);
    return out;
}

std::vector<unsigned char> token_information(HANDLE token, TOKEN_INFORMATION_CLASS kind, DWORD* error) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : sizeof(DWORD));
    *error = GetTokenInformation(token, kind, buffer.data(), static_cast<DWORD>(buffer.size()), &size)
                 ? 0
                 : GetLastError();
    return buffer;
}

int do_token(const wchar_t* path) {
    Report report;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 4;
    DWORD error = 0;
    auto data = token_information(token, TokenIsAppContainer, &error);
    report.line("appcontainer",
                error ? "error " + std::to_string(error)
                      : std::to_string(*reinterpret_cast<const DWORD*>(data.data())));
    data = token_information(token, TokenAppContainerSid, &error);
    const PSID container =
        error ? nullptr : reinterpret_cast<const TOKEN_APPCONTAINER_INFORMATION*>(data.data())->TokenAppContainer;
    report.line("container_sid", error ? "error " + std::to_string(error) : container ? sid_text(container) : "none");
    data = token_information(token, TokenCapabilities, &error);
    if (error) {
        report.line("capability", "error " + std::to_string(error));
    } else {
        const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(data.data());
        if (groups->GroupCount == 0) report.line("capability", "none");
        for (DWORD i = 0; i < groups->GroupCount; ++i) report.line("capability", sid_text(groups->Groups[i].Sid));
    }
    data = token_information(token, TokenIntegrityLevel, &error);
    if (error) {
        report.line("integrity", "error " + std::to_string(error));
    } else {
        const PSID label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(data.data())->Label.Sid;
        const DWORD rid = *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1u);
        report.line("integrity", hex_value(rid));
    }
    CloseHandle(token);
    return report.publish(path) ? 0 : 3;
}

// Opens PATH as an operation of that kind needs, and does it once.
DWORD try_access(const std::wstring& path, const std::wstring& op) {
    constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (op == L"delete") return DeleteFileW(path.c_str()) ? 0 : GetLastError();
    if (op == L"attributes") return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ? 0 : GetLastError();
    if (op == L"rename")
        return MoveFileExW(path.c_str(), (path + L".renamed").c_str(), 0) ? 0 : GetLastError();
    if (op == L"list") {
        WIN32_FIND_DATAW data{};
        const HANDLE find = FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &data,
                                             FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE) return GetLastError();
        FindClose(find);
        return 0;
    }
    const bool reading = op == L"read";
    if (!reading && op != L"write" && op != L"create") return ERROR_INVALID_PARAMETER;
    const HANDLE file = CreateFileW(path.c_str(), reading ? GENERIC_READ : GENERIC_WRITE, SHARE_ALL,
                                    nullptr, op == L"create" ? CREATE_NEW : OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    char byte = 'w';
    DWORD moved = 0;
    const BOOL done = reading ? ReadFile(file, &byte, 1, &moved, nullptr)
                              : WriteFile(file, &byte, 1, &moved, nullptr);
    const DWORD error = done ? 0 : GetLastError();
    CloseHandle(file);
    return error;
}

// TARGET may name variables (%TEMP%), expanded in the probe's own environment.
int do_access(const wchar_t* path, const std::wstring& target, const std::wstring& op) {
    Report report;
    wchar_t expanded[32768];
    const DWORD length = ExpandEnvironmentStringsW(target.c_str(), expanded, 32768);
    const std::wstring where = length > 0 && length <= 32768 ? std::wstring(expanded) : target;
    report.line("target", utf8(where));
    report.line("access", std::to_string(try_access(where, op)));
    return report.publish(path) ? 0 : 3;
}

// The error of starting this image suspended with `flags`; a started one is ended.
DWORD start_self(const std::wstring& self, DWORD flags) {
    std::wstring command_line = L"\"" + self + L"\" - exit 0";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(self.c_str(), command_line.data(), nullptr, nullptr, FALSE, flags | CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &info))
        return GetLastError();
    TerminateProcess(info.hProcess, 0);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}

// The job gives no permission to break away: the creation itself must fail,
// where the same creation without the flag (the control) succeeds.
int do_breakaway(const wchar_t* path) {
    const std::wstring self = own_path();
    if (self.empty()) return 4;
    Report report;
    report.line("control", std::to_string(start_self(self, 0)));
    report.line("breakaway", std::to_string(start_self(self, CREATE_BREAKAWAY_FROM_JOB)));
    return report.publish(path) ? 0 : 3;
}

// "resolve N" when the name cannot be resolved, "timeout", or the connection's error.
std::string try_connect(const wchar_t* host, const wchar_t* port, Report& report) {
    constexpr long CONNECT_LIMIT_S = 5;
    WSADATA wsa{};
    if (const int error = WSAStartup(MAKEWORD(2, 2), &wsa)) return "startup " + std::to_string(error);
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    if (const int error = GetAddrInfoW(host, port, &hints, &found)) return "resolve " + std::to_string(error);
    char address[64];
    if (getnameinfo(found->ai_addr, static_cast<int>(found->ai_addrlen), address, sizeof address, nullptr, 0,
                    NI_NUMERICHOST) == 0)
        report.line("address", address);
    std::string result;
    const SOCKET sock = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    u_long non_blocking = 1;
    if (sock == INVALID_SOCKET || ioctlsocket(sock, FIONBIO, &non_blocking) != 0) {
        result = std::to_string(WSAGetLastError());
    } else if (connect(sock, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0) {
        result = "0";
    } else if (const int error = WSAGetLastError(); error != WSAEWOULDBLOCK) {
        result = std::to_string(error);
    } else {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(sock, &writable);
        FD_SET(sock, &failed);
        timeval limit{CONNECT_LIMIT_S, 0};
        const int ready = select(0, nullptr, &writable, &failed, &limit);
        int so_error = 0;
        int length = static_cast<int>(sizeof so_error);
        getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &length);
        const bool made = ready > 0 && FD_ISSET(sock, &writable) && so_error == 0;
        result = ready == 0 ? "timeout" : made ? "0" : std::to_string(so_error ? so_error : WSAECONNREFUSED);
    }
    if (sock != INVALID_SOCKET) closesocket(sock);
    FreeAddrInfoW(found);
    WSACleanup();
    return result;
}

int do_connect(const wchar_t* path, const wchar_t* host, const wchar_t* port) {
    Report report;
    report.line("connect", try_connect(host, port, report));
    return report.publish(path) ? 0 : 3;
}

// The process ends with the code of the fault it took, as an unhandled
// exception would end it; Wine's unhandled-exception path takes seconds.
LONG WINAPI end_with_exception_code(EXCEPTION_POINTERS* pointers) {
    TerminateProcess(GetCurrentProcess(), pointers->ExceptionRecord->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

[[noreturn]] void crash() {
    AddVectoredExceptionHandler(1, end_with_exception_code);
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
    ExitProcess(6);  // not reached
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        (void)std::fputs("usage: zub-probe REPORT report|exit CODE|crash|grandchild|hang|sleep|handles|"
                         "token|access PATH OP|breakaway|connect HOST PORT\n",
                         stderr);
        return 2;
    }
    const wchar_t* path = argv[1];
    const std::wstring action = argv[2];
    if (action == L"report") return do_report(argc, argv, path);
    if (action == L"exit" && argc >= 4) ExitProcess(std::wcstoul(argv[3], nullptr, 0));
    if (action == L"crash") crash();
    if (action == L"stderr" && argc >= 5) {
        const std::string line = utf8(argv[3]) + "\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        ExitProcess(std::wcstoul(argv[4], nullptr, 0));
    }
    if (action == L"grandchild") return do_grandchild(path);
    if (action == L"hang") return do_hang(path);
    if (action == L"handles") return do_handles(path);
    if (action == L"token") return do_token(path);
    if (action == L"access" && argc >= 5) return do_access(path, argv[3], argv[4]);
    if (action == L"breakaway") return do_breakaway(path);
    if (action == L"connect" && argc >= 5) return do_connect(path, argv[3], argv[4]);
    if (action == L"sleep") {
        Sleep(SLEEP_LIMIT_MS);
        return 0;
    }
    (void)std::fputs("zub-probe: unknown action\n", stderr);
    return 2;
}
