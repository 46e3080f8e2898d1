// Real lifecycle scripts of real packages, run with the official node.exe on a
// real win32-x64 node_modules (laid out by prepare.sh): each once directly, the
// way npm runs it (cmd.exe /d /s /c "<script>"), and once through the helper,
// the way a package manager would confine it. The two runs must agree on the
// full exit code, standard output and standard error.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../e2e/e2e_launch.h"

#include <tlhelp32.h>  // after <windows.h>, which it needs
#include "base/os_string.h"

namespace {

const std::wstring LAYOUT = L"C:\\zub-realworld";

// How the helper is asked to run a script. Its command line quotes every item
// by the C runtime's rules, so cmd.exe cannot be handed a script with quotes
// as one item; a node command is run as node.exe with its arguments, anything
// else from a .cmd file holding the script.
struct Script {
    const char* name;     // for the test's name
    const char* package;  // below node_modules, '/' separated
    const char* event;
    const char* text;     // as the package declares it (checked against its package.json)
    std::vector<std::u16string> node_args;  // empty: run the text from a .cmd file
    std::uint32_t exit_code;
    const char* expect_out;  // the output holds this (both runs)
    bool leaves_grandchild = false;
    // Node starts a child with piped stdio: in a real AppContainer libuv's pipe
    // name is refused and retried without end, so the confined run hangs there.
    bool pipes_a_child = false;
    // Node starts a child with ignored stdio, for which libuv opens NUL, which
    // refuses containers on many Windows builds.
    bool opens_nul = false;
};

const Script SCRIPTS[] = {
    // Runs the native esbuild.exe to check its version; prints nothing when all is well.
    {"esbuild_postinstall", "esbuild", "postinstall", "node install.js", {u"install.js"}, 0, "", false, true},
    {"corejs_postinstall", "core-js", "postinstall",
     "node -e \"try{require('./postinstall')}catch(e){}\"",
     {u"-e", u"try{require('./postinstall')}catch(e){}"}, 0, "Thank you for using core-js"},
    // cmd -> the node-gyp-build shim -> node -> cmd -> the node-gyp-build-test
    // shim -> node loading the prebuilt addon; a failed load would try node-gyp and fail.
    // node-gyp-build execs its test command, which pipes its output.
    {"bufferutil_install", "bufferutil", "install", "node-gyp-build", {}, 0, "", false, true},
    {"fixture_report", "zub-rw-fixture", "report", "node report.js one \"two words\"",
     {u"report.js", u"one", u"two words"}, 0, "temp directory: temp directory"},
    {"fixture_bundle", "zub-rw-fixture", "bundle",
     "esbuild \"src/entry file.js\" --bundle --format=esm --log-level=warning", {}, 0,
     "console.log(greet(\"confined\"));"},
    {"fixture_fail_node", "zub-rw-fixture", "fail-node", "node -e \"process.exit(-1073741819)\"",
     {u"-e", u"process.exit(-1073741819)"}, 0xC0000005u, ""},
    {"fixture_fail_cmd", "zub-rw-fixture", "fail-cmd",
     "echo failing on purpose>&2 && exit 305419896", {}, 305419896u, ""},
    {"fixture_grandchild", "zub-rw-fixture", "grandchild", "node grandchild.js",
     {u"grandchild.js"}, 0, "grandchild started", true, false, true},
};

struct Place {
    const char* name;
    std::wstring project;
    std::wstring node_dir;
    bool recipe_only = false;   // run with the guide's recipe (--env-clear) alone
    const char* wine_skip = nullptr;  // why it cannot run under Wine 8
    bool machines_own_on_windows = false;  // a node this suite does not pin
};

// Node 18 everywhere; the later pinned nodes on the plain project. On Windows
// C:\Program Files\nodejs is the machine's own node.
const Place PLACES[] = {
    {"plain", LAYOUT + L"\\project", LAYOUT + L"\\node"},
    {"spaced_unicode", LAYOUT + L"\\my project \u00e9 \u540d", LAYOUT + L"\\node"},
    {"program_files", LAYOUT + L"\\project", L"C:\\Program Files\\nodejs", false, nullptr, true},
    {"node22", LAYOUT + L"\\project", LAYOUT + L"\\node22", true},
    {"node26", LAYOUT + L"\\project", LAYOUT + L"\\node26", true,
     "node 26 aborts at start under Wine 8 (V8 out of memory in SegmentedTable::InitializeTable)"},
};

struct Case {
    const Script* script;
    const Place* place;
    bool env_clear;
};

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (const Script& script : SCRIPTS)
        for (const Place& place : PLACES)
            for (bool clear : {false, true})
                if (clear || !place.recipe_only) cases.push_back({&script, &place, clear});
    return cases;
}

std::wstring widen(const std::string& utf8) {
    return e2e::to_wide(zub::to_utf16(utf8));
}

// Names compared without regard to ASCII case, as Windows does.
struct FoldedLess {
    static std::wstring fold(const std::wstring& text) {
        std::wstring folded = text;
        for (wchar_t& c : folded)
            if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 0x20);
        return folded;
    }
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return fold(a) < fold(b);
    }
};
using Environment = std::map<std::wstring, std::wstring, FoldedLess>;

// Variables with which the machine running the suite (a CI service, a
// developer's shell, a job started by npm) would change what the scripts print:
// install banners stay quiet under the CI markers, colours and node's options
// change the output. Neither run inherits them, nor any npm_ variable, so that
// the expected output holds wherever the suite runs.
const wchar_t* const OUTPUT_CHANGING[] = {
    L"CI", L"CONTINUOUS_INTEGRATION", L"BUILD_NUMBER", L"RUN_ID", L"DRONE", L"ADBLOCK",
    L"DISABLE_OPENCOLLECTIVE", L"OPEN_SOURCE_CONTRIBUTOR", L"NO_COLOR", L"FORCE_COLOR",
    L"NODE_OPTIONS", L"NODE_PATH", L"NODE_DEBUG"};

// The environment a parent that does not clear it hands on: this process's own,
// less the variables above. Both runs start from it.
Environment inherited_environment() {
    Environment env;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const std::size_t equals = text.find(L'=', 1);
        if (equals != std::wstring::npos) env[text.substr(0, equals)] = text.substr(equals + 1);
    }
    FreeEnvironmentStringsW(block);
    for (const wchar_t* name : OUTPUT_CHANGING) env.erase(name);
    std::erase_if(env, [](const auto& entry) {
        return FoldedLess::fold(entry.first).compare(0, 4, L"NPM_") == 0;
    });
    return env;
}

// What a careful parent passes when it clears the environment: what Windows
// programs (cmd.exe, node's os.tmpdir and os.homedir) expect to find.
const wchar_t* const BASE_VARIABLES[] = {
    L"SystemRoot", L"windir", L"ComSpec", L"PATHEXT", L"SystemDrive", L"USERPROFILE",
    L"APPDATA", L"LOCALAPPDATA", L"ProgramData", L"ProgramFiles", L"HOMEDRIVE", L"HOMEPATH",
    L"USERNAME", L"COMPUTERNAME", L"OS", L"NUMBER_OF_PROCESSORS", L"PROCESSOR_ARCHITECTURE"};

std::wstring package_dir(const Case& c) {
    std::wstring package = widen(c.script->package);
    for (wchar_t& ch : package)
        if (ch == L'/') ch = L'\\';
    return c.place->project + L"\\node_modules\\" + package;
}

// The variables npm sets for a lifecycle script, a PATH that finds node and
// the project's command shims, and the run's own directory for the
// grandchild's pid. The direct run also gets a temp directory of its own; the
// confined run is given none, as the guide says: Windows points TEMP and TMP at
// the container's own folder (the test build's stand-in does so under Wine).
Environment script_variables(const Case& c, const std::wstring& temp, bool confined) {
    const std::wstring package = package_dir(c);
    const std::wstring node = c.place->node_dir + L"\\node.exe";
    const std::wstring windows = e2e::env_value(L"SystemRoot");
    Environment env;
    env[L"npm_lifecycle_event"] = widen(c.script->event);
    env[L"npm_lifecycle_script"] = widen(c.script->text);
    env[L"npm_package_name"] = widen(c.script->package);
    env[L"npm_package_json"] = package + L"\\package.json";
    env[L"npm_node_execpath"] = node;
    env[L"npm_config_user_agent"] = L"zub/0.1.0 node/v18.20.8 win32 x64";
    env[L"NODE"] = node;
    env[L"INIT_CWD"] = c.place->project;
    env[L"PATH"] = package + L"\\node_modules\\.bin;" + c.place->project +
                   L"\\node_modules\\.bin;" + c.place->node_dir + L";" + windows +
                   L"\\system32;" + windows;
    if (!confined) env[L"TEMP"] = env[L"TMP"] = temp;
    // A new Wine prefix reports Windows 7, which node 18 refuses to start on.
    env[L"NODE_SKIP_PLATFORM_CHECK"] = L"1";
    env[L"ZUB_RW_PIDFILE"] = temp + L"\\grandchild.pid";
    if (c.env_clear)
        for (const wchar_t* name : BASE_VARIABLES) {
            const std::wstring value = e2e::env_value(name);
            if (!value.empty()) env[name] = value;
        }
    return env;
}

std::wstring env_block(const Environment& env) {
    std::wstring block;
    for (const auto& [name, value] : env) {
        block += name;
        block += L'=';
        block += value;
        block += L'\0';
    }
    return block + L'\0';
}

std::uint32_t read_pid(const std::wstring& path) {
    std::ifstream in{std::filesystem::path(path)};
    std::uint32_t pid = 0;
    in >> pid;
    return pid;
}

// How many processes run an image from `dir` once `timeout_ms` has passed
// (or as soon as none does); with `end_them`, those left are then ended.
int processes_from(const std::wstring& dir, DWORD timeout_ms, bool end_them = false) {
    const std::wstring prefix = FoldedLess::fold(dir + L"\\");
    for (DWORD waited = 0;; waited += 100) {
        const bool last = waited >= timeout_ms;
        const bool end = last && end_them;
        int count = 0;
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            wchar_t image[32768];
            DWORD size = 32768;
            const HANDLE process =
                OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | (end ? PROCESS_TERMINATE : 0), FALSE, entry.th32ProcessID);
            if (process && QueryFullProcessImageNameW(process, 0, image, &size) &&
                FoldedLess::fold(std::wstring(image, size)).starts_with(prefix)) {
                ++count;
                if (end) TerminateProcess(process, 1);
            }
            if (process) CloseHandle(process);
        }
        CloseHandle(snapshot);
        if (count == 0 || last) return count;
        Sleep(100);
    }
}

// package, event -> script, from the packages' own package.json files.
std::map<std::pair<std::string, std::string>, std::string> declared_scripts() {
    std::map<std::pair<std::string, std::string>, std::string> scripts;
    std::ifstream in(std::filesystem::path(LAYOUT + L"\\scripts.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t a = line.find('\t'), b = line.find('\t', a + 1);
        if (b != std::string::npos)
            scripts[{line.substr(0, a), line.substr(a + 1, b - a - 1)}] = line.substr(b + 1);
    }
    return scripts;
}

// What one attempt found wrong, one line each; empty when the two runs agree
// and every expectation holds.
struct Disagreements {
    std::string text;
    void add(const std::string& line) { text += line + "\n"; }
    bool none() const { return text.empty(); }
};

std::string shown(const e2e::LaunchResult& run) {
    std::ostringstream out;
    out << "exit 0x" << std::hex << run.exit_code << (run.timed_out ? " (timed out)" : "")
        << ", stdout \"" << run.out << "\", stderr \"" << run.err << "\"";
    return out.str();
}

std::string case_name(const Case& c) {
    return std::string(c.script->name) + "__" + c.place->name + (c.env_clear ? "__env_clear" : "__env");
}

// Runs the script directly, then through the helper, and checks the pair.
Disagreements run_pair(const Case& c) {
    const Script& script = *c.script;
    const std::wstring package = package_dir(c);
    const std::wstring comspec = e2e::env_value(L"SystemRoot") + L"\\system32\\cmd.exe";
    e2e::ScratchDir direct_temp, confined_temp;
    Disagreements found;

    // Directly, as npm runs it: the script is one verbatim item behind /s /c.
    // In a job of its own, so that a run that hangs is ended whole.
    e2e::LaunchOptions direct;
    direct.application = comspec;
    direct.command_line = L"cmd.exe /d /s /c \"" + widen(script.text) + L"\"";
    const Environment inherited = inherited_environment();
    Environment direct_env = c.env_clear ? Environment{} : inherited;
    for (const auto& [name, value] : script_variables(c, direct_temp.path(), false))
        direct_env[name] = value;
    direct.environment = env_block(direct_env);
    direct.current_directory = package;
    direct.timeout_ms = 60000;
    direct.own_job = true;
    const e2e::LaunchResult direct_run = e2e::launch(direct);
    if (!direct_run.started) {
        found.add("the direct run did not start: error " + std::to_string(direct_run.create_error));
        return found;
    }
    if (direct_run.timed_out || direct_run.exit_code != script.exit_code)
        found.add("direct run: " + shown(direct_run));
    if (direct_run.out.find(script.expect_out) == std::string::npos)
        found.add(std::string("the direct run's stdout lacks \"") + script.expect_out + "\"");
    if (script.leaves_grandchild) {
        // Run directly, nothing ends the process the script left behind.
        const std::uint32_t pid = read_pid(direct_temp.join(L"grandchild.pid"));
        if (pid == 0)
            found.add("the direct run left no grandchild");
        else if (e2e::process_gone(pid, 0))
            found.add("the direct run's grandchild ended with it");
        if (pid != 0) e2e::end_process(pid);
    }

    // Through the helper, as a package manager confines it.
    e2e::RunFlags flags;
    // A container of the case's own. Its temporary directory (where Windows
    // points TEMP) outlives the run, unlike the direct run's, and core-js shows
    // its banner once per three minutes per temporary directory: start it empty.
    const std::string container = "zub-rw." + case_name(c);
    flags.container = zub::to_utf16(container);
    DeleteFileW((e2e::env_value(L"LOCALAPPDATA") + L"\\Packages\\" + widen(container) + L"\\AC\\Temp\\core-js-banners").c_str());
    flags.stdout_mode = flags.stderr_mode = u"inherit";
    flags.extra = {u"--readable-dir", e2e::to_u16(c.place->project + L"\\node_modules"),
                   u"--readable-dir", e2e::to_u16(c.place->node_dir),
                   u"--writable-dir", e2e::to_u16(package),
                   u"--writable-dir", e2e::to_u16(confined_temp.path()),
                   u"--working-dir", e2e::to_u16(package)};
    if (c.env_clear) flags.extra.push_back(u"--env-clear");
    for (const auto& [name, value] : script_variables(c, confined_temp.path(), true)) {
        flags.extra.push_back(u"--env");
        std::wstring entry = name;
        entry += L'=';
        entry += value;
        flags.extra.push_back(e2e::to_u16(entry));
    }
    e2e::LaunchOptions confined;
    if (!script.node_args.empty()) {
        confined = e2e::helper_run(flags, c.place->node_dir + L"\\node.exe", script.node_args);
    } else {
        const std::wstring recipe = confined_temp.join(L"script.cmd");
        std::ofstream(std::filesystem::path(recipe), std::ios::binary) << "@echo off\r\n" << script.text << "\r\n";
        confined = e2e::helper_run(flags, comspec, {u"/d", u"/s", u"/c", e2e::to_u16(recipe)});
    }
    confined.environment = env_block(inherited);
    if (e2e::targets_production() && script.pipes_a_child) {
        // Ended at 30 s as a parent would end it, by killing the helper: its
        // kill-on-close job must take node and all it started along. Any left
        // are ended here, since they hold the output pipes this test reads.
        e2e::Launched helper(confined);
        if (!helper.started()) {
            found.add("the helper did not start: error " + std::to_string(helper.create_error()));
            return found;
        }
        const bool ended = WaitForSingleObject(helper.process(), 30000) == WAIT_OBJECT_0;
        if (!ended) TerminateProcess(helper.process(), 0xDEAD);
        const int left = processes_from(c.place->node_dir, 5000, true);
        const e2e::LaunchResult confined_run = helper.finish(5000);
        if (ended) found.add("expected a hang on Windows; the helper ended: " + shown(confined_run));
        if (left) found.add(std::to_string(left) + " node process(es) outlived the killed helper");
        std::cout << "[ HANG     ] the confined run was ended at 30 s: " << shown(confined_run) << std::endl;
        return found;
    }
    confined.timeout_ms = 60000;
    const e2e::LaunchResult confined_run = e2e::launch(confined);
    if (!confined_run.started) {
        found.add("the helper did not start: error " + std::to_string(confined_run.create_error));
        return found;
    }
    if (confined_run.timed_out || confined_run.exit_code != direct_run.exit_code ||
        confined_run.out != direct_run.out || confined_run.err != direct_run.err)
        found.add("the runs differ; through the helper: " + shown(confined_run) +
                  "; directly: " + shown(direct_run));
    if (script.leaves_grandchild) {
        const std::uint32_t pid = read_pid(confined_temp.join(L"grandchild.pid"));
        if (pid == 0) {
            found.add("the confined run left no grandchild to look for");
        } else if (!e2e::process_gone(pid, 5000)) {
            e2e::end_process(pid);
            found.add("the grandchild outlived the helper");
        }
    }
    return found;
}

// One registered test per case, named after it (a parameterised test would
// add its parameter's bytes to the names that ctest lists).
class LifecycleScript : public testing::Test {
public:
    explicit LifecycleScript(const Case& c) : c_(c) {}
    void TestBody() override;

private:
    Case c_;
};

// Wine 8 now and then fails to start a program from a script under load, seen
// here in direct runs, where the helper plays no part: its cmd.exe reports
// "Can't recognize" with 9009 when CreateProcessW fails, or a start hangs. So
// a pair that disagrees is run once more, and the case passes only if the
// second pair agrees throughout; the first pair's disagreement is printed
// either way. A fault of the helper's own shows in both pairs.
void LifecycleScript::TestBody() {
    const Case& c = c_;
    const Script& script = *c.script;
    if (c.place->wine_skip && !e2e::targets_production()) GTEST_SKIP() << c.place->wine_skip;
    if (e2e::targets_production() && script.pipes_a_child && c.place->machines_own_on_windows)
        GTEST_SKIP() << "the machine's own node: whether it hangs depends on its libuv, which this suite does not pin";
    if (e2e::targets_production() && script.opens_nul) {
        DWORD error = 0;
        const std::optional<bool> admits = e2e::admits_app_packages(L"\\\\.\\NUL", FILE_READ_DATA | FILE_WRITE_DATA, error);
        ASSERT_TRUE(admits.has_value()) << "the NUL device's DACL: error " << error;
        if (!*admits) GTEST_SKIP() << "NUL refuses containers on this Windows (see the guide): a spawn with ignored stdio fails";
    }
    ASSERT_NE(GetFileAttributesW((c.place->node_dir + L"\\node.exe").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << "no node.exe: the realworld_prepare test lays out the packages";
    EXPECT_EQ((declared_scripts()[{script.package, script.event}]), script.text)
        << "the package declares another script than the one this test runs";

    const Disagreements first = run_pair(c);
    if (first.none()) return;
    std::cout << "[ RETRY    ] the first pair disagreed:\n" << first.text << std::flush;
    const Disagreements second = run_pair(c);
    EXPECT_TRUE(second.none()) << second.text;
}

// The pinned nodes are the ones laid out, and the libuv each carries is on
// record: libuv fixed its pipe names for AppContainers in July 2026 (#5181).
TEST(RealworldNodes, PinnedVersionsAndTheirLibuv) {
    const std::pair<const wchar_t*, const char*> pinned[] = {
        {L"node", "v18.20.8"}, {L"node22", "v22.23.3"}, {L"node26", "v26.10.0"}};
    for (const auto& [dir, version] : pinned) {
        if (std::wstring(dir) == L"node26" && !e2e::targets_production()) continue;  // aborts under Wine 8
        e2e::LaunchOptions run;
        run.application = LAYOUT + L"\\" + dir + L"\\node.exe";
        run.command_line = L"node.exe -p \"process.version + ' uv ' + process.versions.uv\"";
        run.environment = env_block([] {
            Environment env = inherited_environment();
            env[L"NODE_SKIP_PLATFORM_CHECK"] = L"1";
            return env;
        }());
        const e2e::LaunchResult result = e2e::launch(run);
        std::cout << "node " << version << ": " << result.out << std::flush;
        EXPECT_EQ(result.out.substr(0, result.out.find(' ')), version) << result.err;
        RecordProperty(version, result.out);
    }
}

const bool CASES_REGISTERED = [] {
    for (const Case& c : all_cases())
        testing::RegisterTest("LifecycleScript", case_name(c).c_str(), nullptr, nullptr, __FILE__,
                              __LINE__, [c]() -> testing::Test* { return new LifecycleScript(c); });
    return true;
}();

}  // namespace
