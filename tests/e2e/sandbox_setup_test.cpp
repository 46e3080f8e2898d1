// The sandbox steps as far as Wine lets them be seen: the profile is created
// once and reused, the security capabilities handed to process creation carry
// the container SID and the optional InternetClient capability, and directory
// grants on a real tree do not get in the way of the run (Wine keeps no DACLs,
// so their content is checked by the unit tests against the fake platform).
#include <gtest/gtest.h>

#include <windows.h>
#include <winver.h>

#include <string>

#include "e2e_launch.h"
#include "wine_standin_registry.h"

namespace {

std::wstring registry_text(const std::wstring& key, const wchar_t* value) {
    wchar_t buffer[1024];
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return L"(missing)";
    return buffer;
}

e2e::LaunchResult run_exit_zero(const e2e::RunFlags& flags) {
    return e2e::launch(e2e::helper_run(flags, e2e::probe_path(), {u"-", u"exit", u"0"}));
}

void expect_silent_success(const e2e::LaunchResult& result) {
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 0u);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "");
}

TEST(SandboxSetup, ProfileCreatedOnceThenReused) {
    // The stand-in's records are what this test reads; the real service keeps its own.
    if (e2e::targets_production()) GTEST_SKIP() << "reads the Wine stand-in's records";
    e2e::RunFlags flags;
    flags.container = e2e::unique_name(u"e2e.profile");
    flags.extra = {u"--grant-internet-client"};
    expect_silent_success(run_exit_zero(flags));

    const std::wstring profile = zub::winetest::profile_key(flags.container);
    EXPECT_EQ(registry_text(profile, L"DisplayName"), L"ZUB Sandbox Lifecycle Child");
    EXPECT_EQ(registry_text(profile, L"Description"),
              L"Sandbox container for npm-package lifecycle scripts spawned by zub");
    const std::wstring sid = registry_text(profile, L"Sid");
    ASSERT_EQ(sid.rfind(L"S-1-15-2-", 0), 0u) << "profile not created";
    const std::wstring launch = zub::winetest::launch_key(sid);
    EXPECT_EQ(registry_text(launch, L"SecurityCapabilities"), L"1;S-1-15-3-1:4");

    // Second run: the profile exists, the SID is derived, and InternetClient is
    // a property of this launch only, never of the profile.
    flags.extra.clear();
    expect_silent_success(run_exit_zero(flags));
    EXPECT_EQ(registry_text(launch, L"SecurityCapabilities"), L"0");
}

TEST(SandboxSetup, GrantsOnARealTreeRunFine) {
    e2e::ScratchDir dir;
    for (const wchar_t* name : {L"read only", L"read only\\sub", L"writable \u00fc"}) {
        ASSERT_TRUE(dir.make_dir(name));
    }
    for (const wchar_t* name : {L"read only\\a.txt", L"read only\\sub\\b.txt", L"writable \u00fc\\c.txt"}) {
        ASSERT_TRUE(dir.make_file(name));
    }
    const std::wstring readable = dir.join(L"read only");
    const std::wstring writable = dir.join(L"writable \u00fc");
    e2e::RunFlags flags;
    flags.extra = {u"--readable-dir", e2e::to_u16(readable),
                   u"--readable-dir", e2e::to_u16(readable + L"\\a.txt"),  // a file root
                   u"--writable-dir", e2e::to_u16(writable),
                   u"--readable-dir-best-effort", e2e::to_u16(dir.join(L"missing")),
                   u"--readable-dir", e2e::to_u16(dir.join(L"also missing"))};
    expect_silent_success(run_exit_zero(flags));
}

TEST(SandboxSetup, ManifestAndVersionReadBack) {
    for (const std::wstring& exe : {e2e::helper_path(), e2e::winetest_path()}) {
        SCOPED_TRACE(std::string(exe.begin(), exe.end()));
        const HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        const HRSRC found = module ? FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST) : nullptr;
        ASSERT_NE(found, nullptr) << "no manifest";
        const std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, found))),
                                   SizeofResource(module, found));
        FreeLibrary(module);
        for (const char* part : {"level=\"asInvoker\"", "<ws2:longPathAware>true</ws2:longPathAware>",
                                 "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                                 "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
            EXPECT_NE(manifest.find(part), std::string::npos) << part;
        std::string info(GetFileVersionInfoSizeW(exe.c_str(), nullptr), '\0');
        wchar_t* text = nullptr;
        UINT length = 0;
        ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()) &&
                    VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                                   reinterpret_cast<void**>(&text), &length));
        EXPECT_EQ(std::wstring(text), ZUB_E2E_VERSION);
    }
}

}  // namespace
