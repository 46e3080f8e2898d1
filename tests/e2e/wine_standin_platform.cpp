// Stand-ins for what Wine 8 lacks; see wine_standin_platform.h.
#include "wine_standin_platform.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "child/env_block.h"
#include "support/env_entries.h"
#include "wine_standin_registry.h"

namespace zub {
namespace {

constexpr std::uint32_t HRESULT_INVALID_ARG = 0x80070057;
constexpr std::uint32_t ERROR_ENVVAR_MISSING = 203;  // ERROR_ENVVAR_NOT_FOUND
// The names Windows takes: 1 to 64 of [-_. A-Za-z0-9]; the profile service
// refuses any other with E_INVALIDARG.
constexpr std::size_t MAX_NAME_UNITS = 64;

std::uint32_t hresult_from_win32(LONG error) {
    return error == 0 ? 0 : (static_cast<std::uint32_t>(error) & 0xFFFF) | 0x80070000u;
}

const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

std::size_t length_of(const char16_t* text) {
    std::size_t n = 0;
    while (text[n]) ++n;
    return n;
}

bool valid_container_name(const char16_t* name) {
    const std::u16string_view text(name, length_of(name));
    const auto allowed = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' ||
               c == u'_' || c == u'.' || c == u' ';
    };
    return !text.empty() && text.size() <= MAX_NAME_UNITS && std::all_of(text.begin(), text.end(), allowed);
}

// The sub-authorities of S-1-15-2-...: 2, then seven hashed from the name
// (FNV-1a, one seed each).
std::array<DWORD, 8> container_sid_parts(const char16_t* name) {
    std::array<DWORD, 8> parts{2};
    for (std::uint64_t seed = 0; seed < 7; ++seed) {
        std::uint64_t hash = 0xcbf29ce484222325ull ^ (seed * 0x9E3779B97F4A7C15ull);
        for (const char16_t* unit = name; *unit; ++unit) {
            hash ^= static_cast<std::uint64_t>(*unit);
            hash *= 0x100000001b3ull;
        }
        parts[seed + 1] = static_cast<DWORD>(hash ^ (hash >> 32));
    }
    return parts;
}

std::wstring container_sid_text(const char16_t* name) {
    std::wstring text = L"S-1-15";
    for (const DWORD part : container_sid_parts(name)) text += L"-" + std::to_wstring(part);
    return text;
}

// A SID that FreeSid releases, as the real profile service hands it out.
std::uint32_t make_container_sid(const char16_t* name, Sid* sid) {
    SID_IDENTIFIER_AUTHORITY app_package = {{0, 0, 0, 0, 0, 15}};
    const std::array<DWORD, 8> p = container_sid_parts(name);
    PSID allocated = nullptr;
    if (!AllocateAndInitializeSid(&app_package, 8, p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7],
                                  &allocated))
        return hresult_from_win32(static_cast<LONG>(GetLastError()));
    *sid = allocated;
    return 0;
}

std::wstring sid_text(void* sid) {
    wchar_t* text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) return L"(invalid)";
    std::wstring out = text;
    LocalFree(text);
    return out;
}

// Opens (creating when needed) one of the stand-in's keys.
LONG open_key(const std::wstring& path, HKEY* key, DWORD* disposition) {
    return RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE, nullptr, key, disposition);
}

LONG set_text(HKEY key, const wchar_t* value_name, const std::wstring& text) {
    return RegSetValueExW(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

// An environment block's entries.
std::vector<std::u16string> entries_of(const char16_t* block) {
    std::vector<std::u16string> entries;
    for (const char16_t* entry = block; *entry; entry += length_of(entry) + 1) entries.emplace_back(entry);
    return entries;
}

using test_support::entry_value;
using test_support::folded_entry_name;

const std::u16string* find_entry(const std::vector<std::u16string>& entries, std::string_view name) {
    for (const std::u16string& entry : entries)
        if (folded_entry_name(entry) == name) return &entry;
    return nullptr;
}

// Replaces the variable, or adds it where the sorted block puts it.
void set_entry(std::vector<std::u16string>& entries, const std::u16string& name, const std::u16string& value) {
    const std::u16string line = name + u"=" + value;
    const std::string folded = fold_env_name(name);
    auto at = std::find_if(entries.begin(), entries.end(),
                           [&](const std::u16string& entry) { return folded_entry_name(entry) >= folded; });
    if (at != entries.end() && folded_entry_name(*at) == folded) {
        *at = line;
    } else {
        entries.insert(at, line);
    }
}

// The profile's folder, as the profile service makes it: below the user's
// LOCALAPPDATA (here the helper's own), the container's AC\Temp.
void make_profile_folder(const char16_t* name) {
    wchar_t local[32768];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, 32768);
    if (length == 0 || length >= 32768) return;
    std::wstring path(local, length);
    for (const std::wstring& part : {std::wstring(L"Packages"), std::wstring(wide(name)), std::wstring(L"AC"),
                                     std::wstring(L"Temp")}) {
        path += L"\\" + part;
        CreateDirectoryW(path.c_str(), nullptr);
    }
}

}  // namespace

std::uint32_t WineStandinPlatform::create_app_container_profile(const char16_t* name,
                                                                const char16_t* display_name,
                                                                const char16_t* description,
                                                                Sid* sid) {
    if (!valid_container_name(name)) return HRESULT_INVALID_ARG;
    // Creating the key is atomic in the registry, so two helpers racing on one
    // name see exactly one creation.
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (const LONG error = open_key(winetest::profile_key(name), &key, &disposition))
        return hresult_from_win32(error);
    if (disposition == REG_OPENED_EXISTING_KEY) {
        RegCloseKey(key);
        return HRESULT_ALREADY_EXISTS;
    }
    std::uint32_t result = hresult_from_win32(set_text(key, L"DisplayName", wide(display_name)));
    if (result == 0) result = hresult_from_win32(set_text(key, L"Description", wide(description)));
    if (result == 0) result = hresult_from_win32(set_text(key, L"Sid", container_sid_text(name)));
    RegCloseKey(key);
    if (result != 0) return result;
    container_name_ = name;
    make_profile_folder(name);
    return make_container_sid(name, sid);
}

std::uint32_t WineStandinPlatform::derive_app_container_sid_from_app_container_name(
    const char16_t* name, Sid* sid) {
    if (!valid_container_name(name)) return HRESULT_INVALID_ARG;
    container_name_ = name;
    // A profile made by an earlier build of the stand-in has no folder yet.
    make_profile_folder(name);
    return make_container_sid(name, sid);
}

BoolResult WineStandinPlatform::create_well_known_sid(std::uint32_t type, Sid domain_sid,
                                                      void* buffer, std::uint32_t* size) {
    if (type != WIN_CAPABILITY_INTERNET_CLIENT_SID)
        return Win32Platform::create_well_known_sid(type, domain_sid, buffer, size);
    // S-1-15-3-1: authority 15 (SECURITY_APP_PACKAGE_AUTHORITY), sub-authorities 3, 1.
    const DWORD needed = GetSidLengthRequired(2);
    if (*size < needed) {
        *size = needed;
        return {false, ERROR_INSUFFICIENT_BUFFER};
    }
    SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, 15}};
    if (!InitializeSid(buffer, &authority, 2)) return {false, static_cast<std::uint32_t>(GetLastError())};
    *GetSidSubAuthority(buffer, 0) = 3;
    *GetSidSubAuthority(buffer, 1) = 1;
    *size = needed;
    return {true, 0};
}

BoolResult WineStandinPlatform::update_proc_thread_attribute(void* list, std::uint32_t flags,
                                                             std::uintptr_t attribute,
                                                             void* value, std::size_t size) {
    if (attribute != SECURITY_CAPABILITIES_ATTRIBUTE)
        return Win32Platform::update_proc_thread_attribute(list, flags, attribute, value, size);
    // Wine rejects this attribute. Record what the helper handed over, for the
    // tests to read back, and leave it out of the list.
    if (!value || size != sizeof(SecurityCapabilities)) return {false, ERROR_INVALID_PARAMETER};
    const auto* capabilities = static_cast<const SecurityCapabilities*>(value);
    std::wstring record = std::to_wstring(capabilities->capability_count);
    for (std::uint32_t i = 0; i < capabilities->capability_count && capabilities->capabilities; ++i)
        record += L";" + sid_text(capabilities->capabilities[i].sid) + L":" +
                  std::to_wstring(capabilities->capabilities[i].attributes);
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG error = open_key(winetest::launch_key(sid_text(capabilities->app_container_sid)), &key,
                          &disposition);
    if (error == 0) {
        error = set_text(key, L"SecurityCapabilities", record);
        RegCloseKey(key);
    }
    if (error != 0) return {false, static_cast<std::uint32_t>(error)};
    in_container_launch_ = true;
    return {true, 0};
}

HandleResult WineStandinPlatform::create_grant_mutex() {
    wchar_t value[2] = {};
    if (GetEnvironmentVariableW(L"ZUB_WINETEST_WITHOUT_GRANT_LOCK", value, 2) == 1 && value[0] == L'1') {
        return {INVALID_HANDLE, ERROR_ACCESS_DENIED};
    }
    return Win32Platform::create_grant_mutex();
}

BoolResult WineStandinPlatform::create_process_w(char16_t* command_line, bool inherit_handles,
                                                 std::uint32_t creation_flags, const char16_t* environment,
                                                 const char16_t* current_directory,
                                                 StartupInfoEx* startup_info,
                                                 ProcessInformation* process_information) {
    if (!in_container_launch_ || !environment)
        return Win32Platform::create_process_w(command_line, inherit_handles, creation_flags, environment,
                                               current_directory, startup_info, process_information);
    // Windows requires both names to be present, whatever their values, and
    // then points the child at the container's own folders.
    std::vector<std::u16string> entries = entries_of(environment);
    const std::u16string* local = find_entry(entries, "localappdata");
    if (!local || !find_entry(entries, "systemroot")) return {false, ERROR_ENVVAR_MISSING};
    const std::u16string container = std::u16string(entry_value(*local)) + u"\\Packages\\" +
                                     container_name_ + u"\\AC";
    set_entry(entries, u"LOCALAPPDATA", container);
    set_entry(entries, u"TEMP", container + u"\\Temp");
    set_entry(entries, u"TMP", container + u"\\Temp");
    std::u16string block;
    for (const std::u16string& entry : entries) block += entry + u'\0';
    block += u'\0';
    return Win32Platform::create_process_w(command_line, inherit_handles, creation_flags, block.c_str(),
                                           current_directory, startup_info, process_information);
}

}  // namespace zub
