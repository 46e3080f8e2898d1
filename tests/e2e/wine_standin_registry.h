#pragma once
// Where the Wine stand-in keeps its state, for the stand-in that writes it and
// the tests that read it back. Keys below HKEY_CURRENT_USER:
//   <root>\Profiles\<name as hex UTF-16 units>   DisplayName, Description, Sid
//   <root>\Launches\<container SID>              SecurityCapabilities
// where SecurityCapabilities reads "<count>" followed by ";<SID>:<attributes>"
// for each capability, as the helper handed them over.
#include <string>
#include <string_view>

namespace zub::winetest {

// The production executable must not hold this text (check_no_standin.cmake).
inline constexpr wchar_t REGISTRY_ROOT[] = L"Software\\zub-sandbox-helper-winetest";

// Each UTF-16 unit as four hex digits: any name, a lone surrogate included,
// makes a valid key name that no other name shares.
inline std::wstring profile_key(std::u16string_view name) {
    static constexpr wchar_t DIGITS[] = L"0123456789abcdef";
    std::wstring key = std::wstring(REGISTRY_ROOT) + L"\\Profiles\\";
    for (const char16_t unit : name) {
        for (int shift = 12; shift >= 0; shift -= 4) key += DIGITS[(unit >> shift) & 0xF];
    }
    return key;
}

inline std::wstring launch_key(const std::wstring& container_sid) {
    return std::wstring(REGISTRY_ROOT) + L"\\Launches\\" + container_sid;
}

}  // namespace zub::winetest
