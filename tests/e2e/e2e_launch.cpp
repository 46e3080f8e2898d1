#include "e2e_launch.h"

#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "child/command_line.h"
#include "base/os_string.h"

namespace e2e {
namespace {

std::wstring own_directory() {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L'\\'));
}

std::wstring beside_tests(const wchar_t* relative) {
    const std::wstring joined = own_directory() + L"\\" + relative;
    wchar_t full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameW(joined.c_str(), MAX_PATH * 4, full, nullptr);
    return length ? std::wstring(full, length) : joined;
}

void drain(HANDLE pipe, std::string* sink) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) sink->append(buffer, got);
}

// A pipe whose `child_end` is inheritable and whose other end is not.
bool make_pipe(HANDLE* read_end, HANDLE* write_end, bool child_reads) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(read_end, write_end, &inheritable, 0)) return false;
    SetHandleInformation(child_reads ? *write_end : *read_end, HANDLE_FLAG_INHERIT, 0);
    return true;
}

std::mutex live_scratch_lock;
std::vector<std::wstring> live_scratch;

void close_if(HANDLE& handle) {
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

std::wstring helper_path() { return beside_tests(ZUB_E2E_HELPER_REL); }
bool targets_production() {
    wchar_t value[32];
    const DWORD length = GetEnvironmentVariableW(L"ZUB_E2E_TARGET", value, 32);
    return length > 0 && length < 32 && std::wstring(value, length) == L"production";
}

std::wstring winetest_path() {
    return targets_production() ? helper_path() : beside_tests(ZUB_E2E_WINETEST_REL);
}
std::wstring probe_path() { return beside_tests(ZUB_E2E_PROBE_REL); }

std::wstring to_wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }
std::u16string to_u16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::u16string quote_item(const std::u16string& item) {
    if (zub::is_valid_unicode(item)) return zub::quote_arg(item);
    return item;
}

std::wstring join_command_line(const std::vector<std::u16string>& items) {
    std::u16string line;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) line += u' ';
        line += quote_item(items[i]);
    }
    return to_wide(line);
}

std::vector<std::u16string> helper_items(const RunFlags& flags) {
    std::vector<std::u16string> items = {u"--protocol-version", u"1",
                                         u"--appcontainer-name", flags.container,
                                         u"--stdio-stdin", flags.stdin_mode,
                                         u"--stdio-stdout", flags.stdout_mode,
                                         u"--stdio-stderr", flags.stderr_mode};
    items.insert(items.end(), flags.extra.begin(), flags.extra.end());
    items.push_back(u"--");
    return items;
}

Launched::Launched(const LaunchOptions& options) {
    HANDLE in_read = nullptr, in_write = nullptr, out_write = nullptr, err_write = nullptr;
    if (!make_pipe(&in_read, &in_write, true) || !make_pipe(&out_read_, &out_write, false) ||
        !make_pipe(&err_read_, &err_write, false)) {
        create_error_ = GetLastError();
        close_if(in_read), close_if(in_write), close_if(out_write), close_if(err_write);
        return;
    }
    std_handles_ = {reinterpret_cast<std::uintptr_t>(in_read),
                    reinterpret_cast<std::uintptr_t>(out_write),
                    reinterpret_cast<std::uintptr_t>(err_write)};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in_read;
    startup.hStdOutput = out_write;
    startup.hStdError = options.stderr_unwritable ? in_read : err_write;
    PROCESS_INFORMATION info{};
    std::wstring command_line = options.command_line;
    const BOOL created = CreateProcessW(
        options.application.empty() ? nullptr : options.application.c_str(), command_line.data(),
        nullptr, nullptr, TRUE,
        (options.environment ? CREATE_UNICODE_ENVIRONMENT : 0) | (options.own_job ? CREATE_SUSPENDED : 0),
        options.environment ? const_cast<wchar_t*>(options.environment->c_str()) : nullptr,
        options.current_directory.empty() ? nullptr : options.current_directory.c_str(), &startup,
        &info);
    if (!created) create_error_ = GetLastError();
    // Only the child may hold its ends, so that the readers see EOF when it ends.
    close_if(in_read), close_if(out_write), close_if(err_write);
    out_reader_ = std::thread(drain, out_read_, &out_);
    err_reader_ = std::thread(drain, err_read_, &err_);
    if (created) {
        if (options.own_job) {
            job_ = CreateJobObjectW(nullptr, nullptr);
            if (!job_ || !AssignProcessToJobObject(job_, info.hProcess)) {
                create_error_ = GetLastError();
                TerminateProcess(info.hProcess, 0xDEAD);
                CloseHandle(info.hProcess);
                CloseHandle(info.hThread);
                close_if(in_write);
                return;
            }
            ResumeThread(info.hThread);
        }
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        DWORD written = 0;
        if (!options.stdin_data.empty())
            WriteFile(in_write, options.stdin_data.data(),
                      static_cast<DWORD>(options.stdin_data.size()), &written, nullptr);
    }
    close_if(in_write);
}

LaunchResult Launched::finish(DWORD timeout_ms) {
    LaunchResult result;
    result.started = process_ != nullptr;
    result.std_handles = std_handles_;
    result.create_error = create_error_;
    if (process_) {
        if (WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) {
            result.timed_out = true;
            if (job_) TerminateJobObject(job_, 0xDEAD);
            TerminateProcess(process_, 0xDEAD);
            WaitForSingleObject(process_, 5000);
        }
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        result.exit_code = code;
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        if (job_ && QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &accounting,
                                              sizeof accounting, nullptr))
            result.job_processes = accounting.TotalProcesses;
    }
    if (out_reader_.joinable()) out_reader_.join();
    if (err_reader_.joinable()) err_reader_.join();
    result.out = out_;
    result.err = err_;
    return result;
}

Launched::~Launched() {
    if (process_) {
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, 5000);
    }
    if (out_reader_.joinable()) out_reader_.join();
    if (err_reader_.joinable()) err_reader_.join();
    close_if(process_), close_if(job_), close_if(out_read_), close_if(err_read_);
}

LaunchResult launch(const LaunchOptions& options) {
    Launched launched(options);
    return launched.finish(options.timeout_ms);
}

ScratchDir::ScratchDir() {
    const std::lock_guard lock(live_scratch_lock);
    live_scratch.push_back(path());
}

ScratchDir::~ScratchDir() {
    const std::lock_guard lock(live_scratch_lock);
    std::erase(live_scratch, path());
}

LaunchOptions direct_run(const std::wstring& program, const std::vector<std::u16string>& args) {
    std::vector<std::u16string> items = {to_u16(program)};
    items.insert(items.end(), args.begin(), args.end());
    LaunchOptions options;
    options.application = program;
    options.command_line = join_command_line(items);
    return options;
}

LaunchOptions helper_run(const RunFlags& flags, const std::wstring& program,
                         const std::vector<std::u16string>& args) {
    RunFlags granted = flags;
    if (targets_production() && flags.test_grants) {
        const std::wstring probe = probe_path();
        granted.extra.insert(granted.extra.end(),
                             {u"--readable-dir", to_u16(probe.substr(0, probe.find_last_of(L'\\')))});
        const std::lock_guard lock(live_scratch_lock);
        for (const std::wstring& dir : live_scratch) granted.extra.insert(granted.extra.end(), {u"--writable-dir", to_u16(dir)});
    }
    std::vector<std::u16string> items = helper_items(granted);
    items.push_back(to_u16(program));
    items.insert(items.end(), args.begin(), args.end());
    return direct_run(winetest_path(), items);
}

std::u16string unique_name(const char16_t* prefix) {
    static std::atomic<unsigned> counter{0};
    return std::u16string(prefix) + u"-" + to_u16(std::to_wstring(GetCurrentProcessId())) + u"-" +
           to_u16(std::to_wstring(GetTickCount())) + u"-" + to_u16(std::to_wstring(counter++));
}

std::string argv_failure_line(const zub::ArgvError& error) {
    return "zub-sandbox-helper: argv parse failed: " + zub::render(error) + "\n";
}

std::string run_failure_line(const zub::SandboxError& error) {
    return "zub-sandbox-helper: " + zub::render(error) + "\n";
}

bool process_gone(DWORD pid, DWORD timeout_ms) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
    const bool ended = WaitForSingleObject(process, timeout_ms) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

void end_process(DWORD pid) {
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process) return;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
}

std::wstring env_value(const wchar_t* name) {
    wchar_t value[32768];
    const DWORD length = GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

std::optional<bool> admits_app_packages(const std::wstring& path, DWORD rights, DWORD& error) {
    const HANDLE handle = CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return std::nullopt;
    }
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    error = GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor);
    CloseHandle(handle);
    if (error) return std::nullopt;
    SID_IDENTIFIER_AUTHORITY app_package = {{0, 0, 0, 0, 0, 15}};
    PSID all_packages = nullptr;
    AllocateAndInitializeSid(&app_package, 2, 2, 1, 0, 0, 0, 0, 0, 0, &all_packages);  // S-1-15-2-1
    GENERIC_MAPPING file_mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    bool admits = false;
    for (DWORD i = 0; dacl && all_packages && i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (!GetAce(dacl, i, &raw)) continue;
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (ace->Header.AceFlags & INHERIT_ONLY_ACE)) continue;
        DWORD mask = ace->Mask;
        MapGenericMask(&mask, &file_mapping);
        if (EqualSid(const_cast<DWORD*>(&ace->SidStart), all_packages) && (mask & rights) == rights) admits = true;
    }
    if (all_packages) FreeSid(all_packages);
    LocalFree(descriptor);
    return admits;
}

}  // namespace e2e
