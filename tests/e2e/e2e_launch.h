#pragma once
// Starting the real executables from the test program: paths, command lines,
// pipes for the three standard streams, and the full 32-bit exit code.
#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/argv_error.h"
#include "protocol/sandbox_error.h"
#include "support/scratch_dir.h"

namespace e2e {

std::wstring helper_path();    // the production zub-sandbox-helper.exe
// The helper that performs sandboxed launches: zub-sandbox-helper-winetest.exe
// under Wine, or the production executable when ZUB_E2E_TARGET=production (on
// real Windows, which has the AppContainer calls).
std::wstring winetest_path();
bool targets_production();
std::wstring probe_path();     // zub-probe.exe

std::wstring to_wide(const std::u16string& text);
std::u16string to_u16(const std::wstring& text);

// One command-line item as the parent writes it: quote_arg for valid text; an
// item holding an unpaired surrogate is passed raw and must need no quoting.
std::u16string quote_item(const std::u16string& item);
// Items quoted and joined by single spaces.
std::wstring join_command_line(const std::vector<std::u16string>& items);

// The helper's protocol flags for a run, up to and including "--". The child's
// streams default to "null": the test's pipes then carry only the helper's output.
struct RunFlags {
    std::u16string container = u"zub-e2e";
    std::u16string stdin_mode = u"null";
    std::u16string stdout_mode = u"null";
    std::u16string stderr_mode = u"null";
    std::vector<std::u16string> extra;  // further flags and values, before "--"
    // Against the production helper the container can reach nothing the test
    // does not grant: the probe's directory (readable) and every live scratch
    // directory (writable), added to the request. A test that grants exactly
    // what it means to check turns this off.
    bool test_grants = true;
};
std::vector<std::u16string> helper_items(const RunFlags& flags);

struct LaunchOptions {
    std::wstring application;        // empty: taken from the command line
    std::wstring command_line;
    std::string stdin_data;          // written to the stdin pipe, which is then closed
    std::optional<std::wstring> environment;  // a block: entries NUL-separated, ending in two NULs
    std::wstring current_directory;  // empty: the test's own
    DWORD timeout_ms = 20000;
    // The process and all it starts run in a job of their own (not killed on
    // close), ended whole on timeout: without a helper, nothing else would end
    // a hung grandchild that holds the output pipes open.
    bool own_job = false;
    // Its stderr is the read end of its stdin pipe, which no write can reach.
    bool stderr_unwritable = false;
};

struct LaunchResult {
    // The values the started process received as its stdin, stdout and stderr
    // (pipes of this test program, inheritable; closed here once it started).
    std::array<std::uintptr_t, 3> std_handles{};
    bool started = false;
    DWORD create_error = 0;
    bool timed_out = false;
    std::uint32_t exit_code = 0;
    std::uint32_t job_processes = 0;  // own_job: every process the job has held
    std::string out;
    std::string err;
};

// A started process with its stdout and stderr drained by two threads.
class Launched {
public:
    explicit Launched(const LaunchOptions& options);
    ~Launched();
    Launched(const Launched&) = delete;
    Launched& operator=(const Launched&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD create_error() const { return create_error_; }
    HANDLE process() const { return process_; }
    // Waits (terminating the process on timeout), joins the readers, reads the exit code.
    LaunchResult finish(DWORD timeout_ms);

private:
    HANDLE process_ = nullptr;
    HANDLE job_ = nullptr;
    DWORD create_error_ = 0;
    HANDLE out_read_ = nullptr;
    HANDLE err_read_ = nullptr;
    std::array<std::uintptr_t, 3> std_handles_{};
    std::string out_;
    std::string err_;
    std::thread out_reader_;
    std::thread err_reader_;
};

LaunchResult launch(const LaunchOptions& options);

// `program` started directly, its path as argument zero and `args` after it.
LaunchOptions direct_run(const std::wstring& program, const std::vector<std::u16string>& args);

// The winetest helper asked to run `program` with `args`.
LaunchOptions helper_run(const RunFlags& flags, const std::wstring& program,
                         const std::vector<std::u16string>& args);

// The tests' files live in scratch directories, as the Win32 tests' do; each
// is known while it lives, so that runs against the production helper grant it.
class ScratchDir : public zub::test_support::ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
};

// The helper's one line on stderr for a bad command line, and for a failed run.
std::string argv_failure_line(const zub::ArgvError& error);
std::string run_failure_line(const zub::SandboxError& error);

// A name no other test run uses, for container names and files.
std::u16string unique_name(const char16_t* prefix);

// True when the process is gone, or ends within `timeout_ms`.
bool process_gone(DWORD pid, DWORD timeout_ms);
// Ends the process (exit code 1) and waits up to 5 s for it to be gone.
void end_process(DWORD pid);

// The variable's value in this process's environment; empty when unset.
std::wstring env_value(const wchar_t* name);

// Whether an allow entry of the object's DACL that applies to the object
// itself gives ALL APPLICATION PACKAGES (every AppContainer) all of `rights`;
// nullopt, with `error` set, when the DACL cannot be read.
std::optional<bool> admits_app_packages(const std::wstring& path, DWORD rights, DWORD& error);

}  // namespace e2e
