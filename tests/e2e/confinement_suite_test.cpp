// What a confined child can and cannot do, seen from inside it: the helper runs
// the probe with one fixed request on a scratch tree, and the probe reports its
// token and tries each operation itself.
//
// One table holds what each target must show. "windows" is the production
// helper on Windows (ZUB_E2E_TARGET=production): a real AppContainer, DACLs
// enforced. "wine" is the test build under Wine, which has no AppContainer and
// enforces no DACLs: there every row still runs and asserts what Wine does.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <userenv.h>
#include <winioctl.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_launch.h"
#include "support/hostile_setup.h"
#include "wine_standin_registry.h"

namespace {

constexpr char16_t CONTAINER[] = u"zub-confinement";
constexpr char16_t SECOND_CONTAINER[] = u"zub-confinement-2";
// Microsoft's connectivity check answers on port 80 from everywhere. The probe
// looks it up outside the container, so the confined result is the connection's.
constexpr char16_t NET_HOST[] = u"www.msftconnecttest.com";
constexpr char16_t NET_PORT[] = u"80";

enum class Check {
    Token,        // `what` is a key of the probe's token report
    Access,       // the probe's error for `op` on `path`
    SecondRun,    // the same, in a later run whose request grants nothing
    Dacl,         // the container's entry on `path` as the helper left it
    Breakaway,    // the probe's error for CREATE_BREAKAWAY_FROM_JOB, after a plain child it must start
    Grandchild,   // the probe's grandchild, alive while the helper runs, after it
    Connect,      // the probe's error of a TCP connection to NET_HOST's address
    Refused,      // the helper's exit code when `path` is also a writable root, and
                  // ", reparse point" when its one error line refuses `path` as one
    // The walk on a fresh tree; "setup: ..." where the row's setup cannot be made.
    WalkParallel,  // two containers' helpers at once, ten rounds: both entries on every object
    WalkOplock,    // a batch oplock never acknowledged on a file: the helper ends, the file granted
    WalkJunction,  // a junction "foo" beside a directory "foo.": nothing behind the junction granted
    WalkRefs,      // on ReFS (the workflow's run there): 128-bit listing, whole tree granted
    // What Windows does to a confined script beyond the helper's grants.
    EnvRefused,     // exit and error of a run whose cleared environment lacks LOCALAPPDATA
    ContainerTemp,  // where the probe's %TEMP% is, and its error creating a file there
    Probe,          // the probe's error for `op` on the object `path` names
    Cmd,            // what cmd.exe /d /c `what` printed, or its exit code and output
    Node,           // what node.exe (ZUB_CONFINEMENT_NODE) printed for the check `what`
    NodeHang,       // a node that starts a child with piped stdio, bounded at 30 s
};

struct Row {
    const char* name;
    Check check;
    const char* what;  // token key, or "internet" to run with --grant-internet-client
    // Below the scratch tree; "%profile%" is the file in the user's profile, "%long%" the
    // long root (past MAX_PATH: the test reaches it as "\\?\" plus its full path).
    const wchar_t* path;
    const wchar_t* op;
    const char* windows;
    const char* wine;
};

// Win32 errors are decimal: 0 done, 2 not found, 3 path not found, 5 denied, 80 exists.
// "derived": equal to DeriveAppContainerSidFromAppContainerName of the name.
// DACL rows: the mask of the container's explicit entry, and for a directory
// whether it carries OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE; "inherited MASK"
// when the object holds only an inherited entry for it; "none" when it holds none.
// "A|B": A while `path` ("%root%": the drive root, "%nul%": the NUL device) has no
// allow entry for ALL APPLICATION PACKAGES (reading attributes, writing to NUL),
// B once it has (the drive root after the preparation the guide gives). "X*":
// any observation that begins with X.
const Row ROWS[] = {
    {"TokenIsAppContainer", Check::Token, "appcontainer", nullptr, nullptr, "1", "0"},
    {"TokenContainerSid", Check::Token, "container_sid", nullptr, nullptr, "derived", "none"},
    // Wine 8 does not implement TokenCapabilities (ERROR_INVALID_FUNCTION).
    {"TokenNoCapabilities", Check::Token, "capability", nullptr, nullptr, "none", "error 1"},
    {"TokenInternetClientWhenAsked", Check::Token, "capability internet", nullptr, nullptr,
     "S-1-15-3-1", "error 1"},
    // The RID of the integrity label: low 0x1000 (Wine gives every process high, 0x3000).
    {"TokenLowIntegrity", Check::Token, "integrity", nullptr, nullptr, "1000", "3000"},

    {"ReadableRead", Check::Access, nullptr, L"readable\\r.txt", L"read", "0", "0"},
    {"ReadableList", Check::Access, nullptr, L"readable\\sub", L"list", "0", "0"},
    {"ReadableWrite", Check::Access, nullptr, L"readable\\r.txt", L"write", "5", "0"},
    {"ReadableCreate", Check::Access, nullptr, L"readable\\new.txt", L"create", "5", "0"},
    {"WritableRead", Check::Access, nullptr, L"writable\\w.txt", L"read", "0", "0"},
    {"WritableWrite", Check::Access, nullptr, L"writable\\w.txt", L"write", "0", "0"},
    {"WritableCreate", Check::Access, nullptr, L"writable\\new.txt", L"create", "0", "0"},
    {"WritableDelete", Check::Access, nullptr, L"writable\\delete-me.txt", L"delete", "5", "0"},
    {"WritableRename", Check::Access, nullptr, L"writable\\rename-me.txt", L"rename", "5", "0"},
    {"SiblingRead", Check::Access, nullptr, L"sibling\\s.txt", L"read", "5", "0"},
    {"SiblingList", Check::Access, nullptr, L"sibling", L"list", "5", "0"},
    {"SiblingWrite", Check::Access, nullptr, L"sibling\\s.txt", L"write", "5", "0"},
    // Wine 8 cannot make a junction (FSCTL_SET_REPARSE_POINT fails with 50): the path is not there.
    {"JunctionRead", Check::Access, nullptr, L"writable\\link\\s.txt", L"read", "5", "3"},
    {"JunctionCreate", Check::Access, nullptr, L"writable\\link\\new.txt", L"create", "5", "3"},
    {"ProfileRead", Check::Access, nullptr, L"%profile%", L"read", "5", "0"},
    {"SecondRunStillReads", Check::SecondRun, nullptr, L"readable\\r.txt", L"read", "0", "0"},

    // Wine keeps no DACLs: a read-back is synthesised from Unix permissions.
    {"DaclReadableDir", Check::Dacl, nullptr, L"readable", nullptr, "0x001200a9 inherit", "none"},
    {"DaclReadableFile", Check::Dacl, nullptr, L"readable\\r.txt", nullptr, "0x001200a9", "none"},
    {"DaclReadableSubdir", Check::Dacl, nullptr, L"readable\\sub", nullptr, "0x001200a9 inherit", "none"},
    {"DaclWritableDir", Check::Dacl, nullptr, L"writable", nullptr, "0x001201bf inherit", "none"},
    {"DaclWritableFile", Check::Dacl, nullptr, L"writable\\w.txt", nullptr, "0x001201bf", "none"},
    {"DaclJunctionUntouched", Check::Dacl, nullptr, L"writable\\link", nullptr, "none", "open error 2"},
    {"DaclSiblingUntouched", Check::Dacl, nullptr, L"sibling", nullptr, "none", "none"},

    {"JobRefusesBreakaway", Check::Breakaway, nullptr, nullptr, nullptr, "5", "5"},
    {"JobEndsGrandchild", Check::Grandchild, nullptr, nullptr, nullptr, "gone", "gone"},

    // Network isolation drops the connection at the filtering platform: WSAEACCES, as read (unconfirmed).
    {"NetworkRefusedWithoutCapability", Check::Connect, nullptr, nullptr, nullptr, "10013", "0"},
    {"NetworkMadeWithInternetClient", Check::Connect, "internet", nullptr, nullptr, "0", "0"},

    // Wine keeps no DACLs, takes no oplocks and makes no junctions: these rows skip there.
    {"WalkParallelKeepsBothEntries", Check::WalkParallel, nullptr, nullptr, nullptr, "all granted", "-"},
    {"WalkPassesBatchOplock", Check::WalkOplock, nullptr, nullptr, nullptr, "ended, 0x001201bf", "-"},
    {"WalkStopsAtJunctionBesideLookalike", Check::WalkJunction, nullptr, nullptr, nullptr,
     "look-alike 0x001201bf, behind none none", "-"},
    {"WalkOnRefs", Check::WalkRefs, nullptr, nullptr, nullptr, "128-bit listing, all granted", "-"},

    // A writable root of about 300 units, granted whole. Beside it "foo" is a junction and "foo."
    // a directory: "foo." is "foo" by the Win32 rules, so it is refused (Wine 8 makes no junction).
    {"LongRootDacl", Check::Dacl, nullptr, L"%long%", nullptr, "0x001201bf inherit", "none"},
    {"LongRootFileDacl", Check::Dacl, nullptr, L"%long%\\sub\\l.txt", nullptr, "0x001201bf", "none"},
    {"LongRootLookalikeRefused", Check::Refused, nullptr, L"%long%\\foo.", nullptr, "66, reparse point", "0"},

    // Read in public reports, not measured here; the stand-in models the first two under Wine.
    {"EnvWithoutLocalAppDataRefused", Check::EnvRefused, nullptr, nullptr, nullptr, "66 203", "66 203"},
    {"TempIsTheContainers", Check::ContainerTemp, nullptr, nullptr, nullptr, "container temp, 0", "container temp, 0"},
    {"DriveRootAttributes", Check::Probe, nullptr, L"%root%", L"attributes", "5|0", "0"},
    {"CmdStartsAndEchoes", Check::Cmd, "echo zub", L"%root%", nullptr, "exit *|zub", "zub"},
    {"CmdWritesToNul", Check::Cmd, "echo x> nul", L"%nul%", nullptr, "exit *|ok", "ok"},
    {"NodeLstatsDriveRoot", Check::Node, "lstat", L"%root%", nullptr, "EPERM|0", "0"},
    {"NodeRealpathNativeDenied", Check::Node, "realpath", L"writable", nullptr, "EPERM", "0"},
    {"NodePipedChildHangs", Check::NodeHang, nullptr, nullptr, nullptr, "hung, nothing left", "ended 0"},
};

// The node scripts of the Node rows: each prints one word.
const std::map<std::string, std::u16string> NODE_CHECKS = {
    {"lstat", u"try{require('fs').lstatSync(process.argv[1]);console.log('0')}catch(e){console.log(e.code)}"},
    {"realpath", u"require('fs').realpath.native(process.argv[1],(e)=>console.log(e?e.code:'0'))"},
    {"hang", u"require('fs').writeFileSync(process.argv[1],String(process.pid));"
             u"require('child_process').execFileSync(process.execPath,['-e','0']);console.log('spawned')"},
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

using Lines = std::map<std::string, std::vector<std::string>>;

Lines parse_lines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        lines[line.substr(0, space)].push_back(space == std::string::npos ? "" : line.substr(space + 1));
    }
    return lines;
}

std::string first(const Lines& lines, const std::string& key) {
    const auto found = lines.find(key);
    return found == lines.end() ? "(missing)" : found->second.front();
}

// The values of `key` in a run's report. A probe that did not run, ended with
// anything but 0 or left the key out gives a text no row expects.
std::string reported(const Lines& lines, const std::string& key) {
    const std::string exit = first(lines, "exit");
    if (exit != "0") return "(probe run ended with " + exit + ")";
    const auto found = lines.find(key);
    if (found == lines.end()) return "(no " + key + " reported)";
    std::string joined;
    for (const std::string& value : found->second) joined += (joined.empty() ? "" : ",") + value;
    return joined;
}

std::string narrow(const std::wstring& ascii) {
    std::string out;
    for (const wchar_t unit : ascii) out += static_cast<char>(unit);
    return out;
}

std::string sid_text(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return "(unconvertible)";
    std::wstring out = text;
    LocalFree(text);
    return narrow(out);
}

std::wstring registry_text(const std::wstring& key, const wchar_t* value) {
    wchar_t buffer[256];
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size))
        return L"(missing)";
    return buffer;
}

// The SID the helper's entries name: the system's derivation on Windows, the
// stand-in's record under Wine.
std::string container_sid(const char16_t* name = CONTAINER) {
    if (!e2e::targets_production())
        return narrow(registry_text(zub::winetest::profile_key(name), L"Sid"));
    PSID sid = nullptr;
    if (DeriveAppContainerSidFromAppContainerName(e2e::to_wide(name).c_str(), &sid) != S_OK)
        return "(underivable)";
    std::string text = sid_text(sid);
    FreeSid(sid);
    return text;
}

// The long root below the scratch tree: two components of 120 units.
const std::wstring LONG_ROOT = L"long\\" + std::wstring(120, L'a') + L"\\" + std::wstring(120, L'b');

// The container's entry in the object's own DACL (a link is not followed).
std::string dacl_entry(const std::wstring& path, const std::string& sid) {
    const HANDLE handle = CreateFileW(path.c_str(), READ_CONTROL, 7, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return "open error " + std::to_string(GetLastError());
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, &dacl, nullptr, &descriptor);
    const bool directory = (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0;
    CloseHandle(handle);
    if (error) return "read error " + std::to_string(error);
    std::string found = "none";
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (!GetAce(dacl, i, &raw)) continue;
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        if (sid_text(const_cast<DWORD*>(&ace->SidStart)) != sid) continue;
        char mask[16];
        (void)std::snprintf(mask, sizeof mask, "0x%08lx", static_cast<unsigned long>(ace->Mask));
        // An explicit entry is what the helper wrote; an inherited one is shown only when alone.
        if (ace->Header.AceFlags & INHERITED_ACE) {
            if (found == "none") found = std::string("inherited ") + mask;
            continue;
        }
        constexpr BYTE BOTH = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        found = mask;
        if (directory) found += (ace->Header.AceFlags & BOTH) == BOTH ? " inherit" : " no-inherit";
    }
    LocalFree(descriptor);
    return found;
}

bool make_empty_file(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}

// A fresh tree of 1 + dirs * (files + 1) objects below `root`; every object's path.
std::vector<std::wstring> make_tree(const std::wstring& root, int dirs, int files) {
    std::vector<std::wstring> objects = {root};
    CreateDirectoryW(root.c_str(), nullptr);
    for (int d = 0; d < dirs; ++d) {
        objects.push_back(root + L"\\pkg" + std::to_wstring(d));
        CreateDirectoryW(objects.back().c_str(), nullptr);
        for (int f = 0; f < files; ++f) {
            objects.push_back(objects[objects.size() - 1 - f] + L"\\f" + std::to_wstring(f) + L".js");
            make_empty_file(objects.back());
        }
    }
    return objects;
}

// "all granted", or the first object without the write entry of one of `sids`.
std::string all_granted(const std::vector<std::wstring>& objects, const std::vector<std::string>& sids) {
    for (const std::wstring& object : objects)
        for (const std::string& sid : sids)
            if (!dacl_entry(object, sid).starts_with("0x001201bf"))
                return narrow(object) + ": " + dacl_entry(object, sid);
    return "all granted";
}

std::string file_system_of(const std::wstring& path) {
    wchar_t volume[MAX_PATH + 1], name[MAX_PATH + 1];
    if (!GetVolumePathNameW(path.c_str(), volume, MAX_PATH + 1) ||
        !GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1))
        return "(unknown)";
    return narrow(name);
}

// For the record, not checked: the first figures of the walk on NTFS and ReFS.
void print_walk_time(const char* what, std::chrono::steady_clock::time_point start, std::size_t objects,
                     const std::wstring& root) {
    const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    std::printf("%s on %s: %.1f us of wall time per object (%zu objects)\n", what,
                file_system_of(root).c_str(), spent.count() / static_cast<double>(objects), objects);
}

class Confinement : public ::testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite() {
        tree = std::make_unique<e2e::ScratchDir>();
        for (const wchar_t* dir : {L"bin", L"readable", L"readable\\sub", L"writable", L"sibling"})
            ASSERT_TRUE(tree->make_dir(dir));
        for (const wchar_t* file : {L"readable\\r.txt", L"writable\\w.txt", L"writable\\delete-me.txt",
                                    L"writable\\rename-me.txt", L"sibling\\s.txt"})
            ASSERT_TRUE(tree->make_file(file));
        // The probe runs from the granted tree: on Windows the container must be able to read it.
        ASSERT_TRUE(CopyFileW(e2e::probe_path().c_str(), tree->join(L"bin\\zub-probe.exe").c_str(), TRUE));
        const std::wstring root = target_path(L"%long%");  // made through "\\?\": past MAX_PATH
        for (const std::wstring& dir : {root.substr(0, root.size() - 242), root.substr(0, root.size() - 121), root,
                                        root + L"\\sub", root + L"\\foo."})
            ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
        ASSERT_TRUE(make_empty_file(root + L"\\sub\\l.txt"));
        if (const DWORD error = zub::test_support::make_junction(root + L"\\foo", tree->join(L"sibling"))) junction_error = error;
        const std::wstring link = tree->join(L"writable\\link");
        if (const DWORD error = zub::test_support::make_junction(link, tree->join(L"sibling"))) {
            junction_error = error;
            std::printf("no junction made here: error %lu\n", error);
        }
        wchar_t profile[MAX_PATH];
        const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
        ASSERT_TRUE(length > 0 && length < MAX_PATH);
        profile_file = std::wstring(profile, length) + L"\\" + e2e::to_wide(e2e::unique_name(u"zub-confinement")) + L".txt";
        const HANDLE file = CreateFileW(profile_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        // A new Wine prefix reports Windows 7, which node refuses to start on.
        SetEnvironmentVariableW(L"NODE_SKIP_PLATFORM_CHECK", L"1");
        // The first run of the name grants the trees; every row's run grants them again.
        const Lines first_run = run({u"token"});
        ASSERT_EQ(first(first_run, "exit"), "0");
    }
    static void TearDownTestSuite() {
        DeleteFileW(profile_file.c_str());
        zub::test_support::remove_tree(L"\\\\?\\" + tree->join(L"long"));
        tree.reset();
    }

    // The probe's report lines from one helper run with the fixed request, and
    // the helper's exit code under "exit".
    static Lines run(const std::vector<std::u16string>& probe_args, bool internet = false,
                     bool grant = true, const std::vector<std::u16string>& more_flags = {}) {
        e2e::RunFlags flags;
        flags.container = CONTAINER;
        flags.stdout_mode = u"inherit";
        flags.test_grants = false;
        flags.extra = {u"--readable-dir", e2e::to_u16(tree->join(L"bin"))};
        if (grant) {
            flags.extra.insert(flags.extra.end(), {u"--readable-dir", e2e::to_u16(tree->join(L"readable")),
                                                   u"--writable-dir", e2e::to_u16(tree->join(L"writable")),
                                                   u"--writable-dir", e2e::to_u16(tree->join(LONG_ROOT))});
        }
        flags.extra.insert(flags.extra.end(), more_flags.begin(), more_flags.end());
        if (internet) flags.extra.push_back(u"--grant-internet-client");
        std::vector<std::u16string> args = {u"-"};
        args.insert(args.end(), probe_args.begin(), probe_args.end());
        const e2e::LaunchResult result =
            e2e::launch(e2e::helper_run(flags, tree->join(L"bin\\zub-probe.exe"), args));
        Lines lines = parse_lines(result.out);
        lines["exit"].push_back(std::to_string(result.exit_code));
        if (!result.err.empty()) lines["helper_error"].push_back(result.err);
        return lines;
    }

    // A helper run that grants `roots` (and the probe's directory) and runs the probe to exit 0.
    static e2e::LaunchOptions grant_run(const std::vector<std::wstring>& roots, const char16_t* container) {
        e2e::RunFlags flags;
        flags.container = container;
        flags.test_grants = false;
        flags.extra = {u"--readable-dir", e2e::to_u16(tree->join(L"bin"))};
        for (const std::wstring& root : roots)
            flags.extra.insert(flags.extra.end(), {u"--writable-dir", e2e::to_u16(root)});
        return e2e::helper_run(flags, tree->join(L"bin\\zub-probe.exe"), {u"-", u"exit", u"0"});
    }

    static std::string failed(const e2e::LaunchResult& result) {
        if (result.exit_code == 0 && !result.timed_out) return {};
        return "helper ended with " + std::to_string(result.exit_code) + ": " + result.err;
    }

    std::string walk_parallel() {
        if (!e2e::targets_production()) return "setup: Wine keeps no DACLs to read back";
        const std::vector<std::string> sids = {container_sid(), container_sid(SECOND_CONTAINER)};
        for (int round = 0; round < 10; ++round) {
            const std::wstring root = tree->join(L"parallel" + std::to_wstring(round));
            const std::vector<std::wstring> objects = make_tree(root, 40, 49);
            const auto start = std::chrono::steady_clock::now();
            e2e::Launched first_helper(grant_run({root}, CONTAINER));
            e2e::Launched second_helper(grant_run({root}, SECOND_CONTAINER));
            std::string fault = failed(first_helper.finish(120000)) + failed(second_helper.finish(120000));
            print_walk_time("two helpers, one tree", start, 2 * objects.size(), root);
            if (!fault.empty()) return fault;
            const std::string granted = all_granted(objects, sids);
            if (granted != "all granted") return "round " + std::to_string(round) + ": " + granted;
        }
        return "all granted";
    }

    std::string walk_oplock() {
        const std::wstring root = tree->join(L"oplocked");
        const std::vector<std::wstring> objects = make_tree(root, 4, 9);
        zub::test_support::BatchOplock oplock(objects.back());
        if (!oplock.held()) return "setup: no batch oplock here: error " + std::to_string(oplock.error());
        const auto start = std::chrono::steady_clock::now();
        e2e::Launched helper(grant_run({root}, CONTAINER));
        const bool ended = helper.started() && WaitForSingleObject(helper.process(), 10000) == WAIT_OBJECT_0;
        print_walk_time("one oplocked file", start, objects.size(), root);
        oplock.release();
        const std::string fault = failed(helper.finish(20000));
        if (!ended) return "the helper did not end within 10 s of the oplock";
        return fault.empty() ? "ended, " + dacl_entry(objects.back(), container_sid()) : fault;
    }

    std::string walk_junction() {
        const std::wstring root = tree->join(L"lookalike"), outside = tree->join(L"outside");
        CreateDirectoryW(outside.c_str(), nullptr);
        make_empty_file(outside + L"\\s.txt");
        CreateDirectoryW(root.c_str(), nullptr);
        if (const DWORD error = zub::test_support::make_junction(root + L"\\foo", outside))
            return "setup: no junction here: error " + std::to_string(error);
        // Only an NT-style path keeps the trailing dot that Win32 paths trim
        // (the scratch tree's clean-up would take "foo." for the junction).
        const std::wstring lookalike = L"\\\\?\\" + root + L"\\foo.", inside = lookalike + L"\\f.txt";
        if (!CreateDirectoryW(lookalike.c_str(), nullptr))
            return "setup: no look-alike: error " + std::to_string(GetLastError());
        make_empty_file(inside);
        const auto start = std::chrono::steady_clock::now();
        const std::string fault = failed(e2e::launch(grant_run({root}, CONTAINER)));
        print_walk_time("junction beside a look-alike", start, 4, root);
        const std::string sid = container_sid();
        std::string seen = !fault.empty() ? fault
                                                : "look-alike " + dacl_entry(inside, sid) + ", behind " +
                                                      dacl_entry(outside, sid) + " " +
                                                      dacl_entry(outside + L"\\s.txt", sid);
        zub::test_support::remove_tree(lookalike);
        return seen;
    }

    std::string walk_refs() {
        const std::string file_system = file_system_of(tree->path());
        if (file_system != "ReFS") return "setup: the scratch tree is on " + file_system + ", not ReFS";
        const std::wstring root = tree->join(L"refs");
        const std::vector<std::wstring> objects = make_tree(root, 20, 9);
        const HANDLE directory = CreateFileW(root.c_str(), FILE_LIST_DIRECTORY, 7, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        alignas(8) unsigned char listing[4096];
        const bool wide =
            GetFileInformationByHandleEx(directory, FileIdExtdDirectoryInfo, listing, sizeof listing);
        const DWORD error = wide ? 0 : GetLastError();
        CloseHandle(directory);
        if (!wide) return "128-bit listing refused: " + std::to_string(error);
        const auto start = std::chrono::steady_clock::now();
        const std::string fault = failed(e2e::launch(grant_run({root}, CONTAINER)));
        print_walk_time("one helper", start, objects.size(), root);
        return fault.empty() ? "128-bit listing, " + all_granted(objects, {container_sid()}) : fault;
    }

    static std::u16string env(const wchar_t* name) { return e2e::to_u16(e2e::env_value(name)); }
    static std::string trimmed(const std::string& text) {
        const std::size_t end = text.find_last_not_of(" \r\n");
        return end == std::string::npos ? "" : text.substr(0, end + 1);
    }
    static std::wstring node_path() {
        const std::wstring node = e2e::to_wide(env(L"ZUB_CONFINEMENT_NODE"));
        return GetFileAttributesW(node.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : node;
    }
    // Why a node row cannot run: no node named (a skip, also on Windows: the
    // MSVC job names none), or the one named is not there (a failed setup).
    static std::string no_node() {
        if (env(L"ZUB_CONFINEMENT_NODE").empty()) return "no node: ZUB_CONFINEMENT_NODE names none";
        return node_path().empty() ? "setup: no node.exe where ZUB_CONFINEMENT_NODE says" : "";
    }
    static std::u16string node_dir() { return e2e::to_u16(node_path().substr(0, node_path().find_last_of(L'\\'))); }

    // A program run confined in the writable tree, its output captured.
    static e2e::LaunchOptions confined_run(const std::u16string& program, const std::vector<std::u16string>& args,
                                           const std::vector<std::u16string>& more_flags, DWORD timeout_ms = 20000) {
        e2e::RunFlags flags;
        flags.container = CONTAINER;
        flags.stdout_mode = flags.stderr_mode = u"inherit";
        flags.test_grants = false;
        flags.extra = {u"--writable-dir", e2e::to_u16(tree->join(L"writable")), u"--working-dir",
                       e2e::to_u16(tree->join(L"writable"))};
        flags.extra.insert(flags.extra.end(), more_flags.begin(), more_flags.end());
        e2e::LaunchOptions options = e2e::helper_run(flags, e2e::to_wide(program), args);
        options.timeout_ms = timeout_ms;
        return options;
    }

    // What a program run confined printed: its output, "ok" for none, or how it
    // ended when it did not end well ("helper: <line>" for the helper's own failure).
    static std::string printed(const std::u16string& program, const std::vector<std::u16string>& args,
                               const std::vector<std::u16string>& more_flags) {
        const e2e::LaunchResult result = e2e::launch(confined_run(program, args, more_flags));
        if (result.err.starts_with("zub-sandbox-helper: ")) return "helper: " + trimmed(result.err);
        if (result.exit_code == 0 && !result.timed_out) return trimmed(result.out).empty() ? "ok" : trimmed(result.out);
        return "exit " + std::to_string(result.exit_code) + ": " + trimmed(result.out + result.err);
    }

    // Waits 30 s for node, then kills the helper: its job must take node along.
    std::string node_hang() {
        if (std::string missing = no_node(); !missing.empty()) return missing;
        const std::wstring pid_file = tree->join(L"writable\\" + e2e::to_wide(e2e::unique_name(u"node")) + L".pid");
        e2e::Launched helper(confined_run(e2e::to_u16(node_path()), {u"-e", NODE_CHECKS.at("hang"), e2e::to_u16(pid_file)},
                                          {u"--readable-dir", node_dir()}, 0));
        const bool ended = helper.started() && WaitForSingleObject(helper.process(), 30000) == WAIT_OBJECT_0;
        if (ended) return "ended " + std::to_string(helper.finish(0).exit_code);
        // Killed as a parent would kill it; node, which shares the output pipes,
        // must be gone before they can be read to their end.
        TerminateProcess(helper.process(), 0xDEAD);
        std::ifstream in{std::filesystem::path(pid_file)};
        DWORD pid = 0;
        in >> pid;
        const bool gone = pid != 0 && e2e::process_gone(pid, 5000);
        if (pid != 0 && !gone) e2e::end_process(pid);
        const e2e::LaunchResult result = helper.finish(5000);
        if (pid == 0) return "hung before writing its pid: " + trimmed(result.out + result.err);
        return gone ? "hung, nothing left" : "hung, node left";
    }

    // The drive root of the scratch tree's volume.
    static std::wstring drive_root() {
        wchar_t volume[MAX_PATH + 1];
        return GetVolumePathNameW(tree->path().c_str(), volume, MAX_PATH + 1) ? volume : L"C:\\";
    }

    static std::wstring target_path(const wchar_t* path) {
        const std::wstring given = path ? path : L"";
        if (given == L"%root%") return drive_root();
        if (given == L"%nul%") return L"\\\\.\\NUL";
        if (given.starts_with(L"%long%")) return L"\\\\?\\" + tree->join(LONG_ROOT) + given.substr(6);
        return given == L"%profile%" ? profile_file : tree->join(path);
    }

    std::string observe(const Row& row) {
        const bool internet = row.what && std::string(row.what).ends_with("internet");
        switch (row.check) {
            case Check::Token: {
                const std::string key = std::string(row.what).substr(0, std::string(row.what).find(' '));
                const std::string value = reported(run({u"token"}, internet), key);
                return key == "container_sid" && value == container_sid() ? "derived" : value;
            }
            case Check::Access:
            case Check::SecondRun:
                return reported(run({u"access", e2e::to_u16(target_path(row.path)), e2e::to_u16(row.op)},
                                    false, row.check == Check::Access),
                                "access");
            case Check::Dacl: return dacl_entry(target_path(row.path), container_sid());
            case Check::Breakaway: {
                const Lines lines = run({u"breakaway"});
                const std::string control = reported(lines, "control");
                return control == "0" ? reported(lines, "breakaway") : "plain child: " + control;
            }
            case Check::Grandchild: {
                const Lines lines = run({u"grandchild"});
                if (reported(lines, "alive") != "1") return "not seen alive: " + reported(lines, "alive");
                const std::string pid = reported(lines, "pid");
                return e2e::process_gone(static_cast<DWORD>(std::stoul(pid)), 5000) ? "gone" : "alive";
            }
            case Check::Connect: return reported(run({u"connect", net_address, NET_PORT}, internet), "connect");
            case Check::WalkParallel: return walk_parallel();
            case Check::WalkOplock: return walk_oplock();
            case Check::WalkJunction: return walk_junction();
            case Check::WalkRefs: return walk_refs();
            case Check::Refused: {  // the root as a parent passes it: no prefix
                const std::u16string root = e2e::to_u16(target_path(row.path).substr(4));
                const Lines lines = run({u"exit", u"0"}, false, true, {u"--writable-dir", root});
                const std::string exit = first(lines, "exit"), line = first(lines, "helper_error");
                if (line == e2e::run_failure_line(zub::sandbox_error::ReparsePoint{root})) return exit + ", reparse point";
                return line == "(missing)" ? exit : exit + ", " + line;
            }
            case Check::EnvRefused: {
                const Lines lines = run({u"exit", u"0"}, false, true, {u"--env-clear", u"--env", u"SystemRoot=" + env(L"SystemRoot")});
                const std::string error = first(lines, "helper_error");
                return first(lines, "exit") + " " + error.substr(error.rfind(' ') + 1, error.find_last_not_of('\n') - error.rfind(' '));
            }
            case Check::ContainerTemp: {
                const std::u16string local = env(L"LOCALAPPDATA"), name = e2e::unique_name(u"zub-temp") + u".txt";
                const Lines lines = run({u"access", u"%TEMP%\\" + name, u"create"}, false, true,
                                        {u"--env-clear", u"--env", u"SystemRoot=" + env(L"SystemRoot"), u"--env", u"LOCALAPPDATA=" + local,
                                         u"--env", u"TEMP=" + e2e::to_u16(tree->join(L"writable"))});
                const std::wstring want = e2e::to_wide(local + u"\\Packages\\" + CONTAINER + u"\\AC\\Temp\\" + name);
                const std::string target = first(lines, "target");
                const bool container_temp = CompareStringOrdinal(want.c_str(), -1, std::wstring(target.begin(), target.end()).c_str(), -1, TRUE) == CSTR_EQUAL;
                return (container_temp ? "container temp" : "temp " + target) + ", " + reported(lines, "access");
            }
            case Check::Probe: return reported(run({u"access", e2e::to_u16(target_path(row.path)), e2e::to_u16(row.op)}), "access");
            case Check::Cmd:
                return printed(env(L"SystemRoot") + u"\\System32\\cmd.exe", {u"/d", u"/c", zub::to_utf16(row.what)}, {});
            case Check::Node:
                if (std::string missing = no_node(); !missing.empty()) return missing;
                return printed(e2e::to_u16(node_path()), {u"-e", NODE_CHECKS.at(row.what), e2e::to_u16(target_path(row.path))},
                               {u"--readable-dir", node_dir()});
            case Check::NodeHang: return node_hang();
        }
        return "(unknown check)";
    }

    static inline std::unique_ptr<e2e::ScratchDir> tree;
    static inline std::wstring profile_file;
    static inline DWORD junction_error = 0;
    static inline std::u16string net_address;
};

TEST_P(Confinement, AsTheTableSays) {
    const Row& row = GetParam();
    const bool windows = e2e::targets_production();
    if (row.check == Check::Connect) {
        // Unconfined, the probe looks the host up and must reach it.
        const Lines lines =
            parse_lines(e2e::launch(e2e::direct_run(e2e::probe_path(), {u"-", u"connect", NET_HOST, NET_PORT})).out);
        const std::string made = first(lines, "connect"), address = first(lines, "address");
        if (made.starts_with("resolve ")) GTEST_SKIP() << "no network here: looking up the host gave " << made;
        ASSERT_EQ(made, "0") << "an unconfined connection to " << address << ":80";
        net_address = std::u16string(address.begin(), address.end());
    }
    const std::wstring path = row.path ? row.path : L"";
    if (windows && (path.starts_with(L"writable\\link") || path.ends_with(L"foo."))) {
        ASSERT_EQ(junction_error, 0u) << "the junction could not be made";
    }
    const std::string observed = observe(row);
    // On Windows a row whose setup fails fails, except ReFS where no ReFS run was asked for.
    const bool refs_asked = GetEnvironmentVariableW(L"ZUB_EXPECT_REFS", nullptr, 0) != 0;
    if (observed.starts_with("no node: ")) GTEST_SKIP() << observed.substr(9);
    if (observed.starts_with("setup: ") && (!windows || (row.check == Check::WalkRefs && !refs_asked)))
        GTEST_SKIP() << observed.substr(7);
    std::string expected = windows ? row.windows : row.wine, state;
    if (const std::size_t bar = expected.find('|'); bar != std::string::npos) {
        const bool nul = std::wstring(row.path) == L"%nul%";
        DWORD error = 0;
        const std::optional<bool> root_admits = e2e::admits_app_packages(drive_root(), FILE_READ_ATTRIBUTES, error);
        const std::optional<bool> admits =
            nul ? e2e::admits_app_packages(target_path(row.path), FILE_WRITE_DATA, error) : root_admits;
        ASSERT_TRUE(admits && root_admits) << "the DACL of " << narrow(target_path(row.path)) << " or the drive root: error " << error;
        // cmd.exe does not start while the drive root refuses containers: NUL is shown once it does not.
        if (windows && nul && !*root_admits) GTEST_SKIP() << "the drive root refuses containers: the prepared pass shows NUL";
        state = narrow(target_path(row.path)) + (*admits ? " admits" : " does not admit") + " ALL APPLICATION PACKAGES; ";
        expected = *admits ? expected.substr(bar + 1) : expected.substr(0, bar);
        // The workflow says which pass this is: before or after its preparation of the drive root.
        const std::u16string pass = Confinement::env(L"ZUB_DRIVE_ROOT");
        if (windows && std::wstring(row.path) == L"%root%" && !pass.empty()) {
            EXPECT_EQ(*admits, pass == u"prepared") << state << "this pass expects the drive root " << zub::to_utf8_lossy(pass);
        }
    }
    const std::string where = state + (windows ? "production helper on Windows" : "test build under Wine");
    if (expected.ends_with('*')) {
        EXPECT_TRUE(observed.starts_with(expected.substr(0, expected.size() - 1))) << observed << " (" << where << ")";
    } else {
        EXPECT_EQ(observed, expected) << where;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Confinement, ::testing::ValuesIn(ROWS),
                         [](const ::testing::TestParamInfo<Row>& row_info) { return std::string(row_info.param.name); });

}  // namespace
