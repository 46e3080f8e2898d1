/* zub-bench-grant-floor ROOT [--count]
 * The floor for the helper's directory grants: the same walk (list a directory
 * to its end, then go into its subdirectories, last found first), the same
 * listing (FindFirstFileExW / FindNextFileW) and, for the root and every object
 * below it that is not a link, the same security calls (GetNamedSecurityInfoW,
 * SetEntriesInAclW, SetNamedSecurityInfoW, LocalFree), with nothing else. The
 * trustee is a fixed well-known SID, ALL APPLICATION PACKAGES (S-1-15-2-1), in
 * static memory. --count prints how many objects were granted. */
#include <windows.h>

#include <aclapi.h>
#include <stdio.h>

#define MAX_PATH_UNITS 32768
#define MAX_PENDING 65536
#define MAX_NAME_UNITS (1 << 22)

static struct {
    BYTE revision;
    BYTE sub_authority_count;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD sub_authority[2];
} all_application_packages = {SID_REVISION, 2, {{0, 0, 0, 0, 0, 15}}, {2, 1}};

static wchar_t path[MAX_PATH_UNITS];
static wchar_t names[MAX_NAME_UNITS];  /* names of pending directories, stack order */
static struct {
    size_t parent_length;
    size_t name_offset;
} pending[MAX_PENDING];

static unsigned long granted;

static void grant(const wchar_t* object) {
    PACL old_dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetNamedSecurityInfoW(object, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL,
                              &old_dacl, NULL, &descriptor) != ERROR_SUCCESS)
        return;
    EXPLICIT_ACCESS_W entry;
    entry.grfAccessPermissions = 0x001200A9;
    entry.grfAccessMode = GRANT_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entry.Trustee.pMultipleTrustee = NULL;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    entry.Trustee.ptstrName = (LPWSTR)(void*)&all_application_packages;
    PACL new_dacl = NULL;
    if (SetEntriesInAclW(1, &entry, old_dacl, &new_dacl) == ERROR_SUCCESS) {
        if (SetNamedSecurityInfoW((LPWSTR)object, SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                                  NULL, NULL, new_dacl, NULL) == ERROR_SUCCESS)
            ++granted;
        LocalFree(new_dacl);
    }
    LocalFree(descriptor);
}

static size_t length_of(const wchar_t* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

/* Appends "\NAME" at `at`; returns the new length, or 0 when it does not fit. */
static size_t join(size_t at, const wchar_t* name, size_t name_length) {
    if (at + 1 + name_length + 3 > MAX_PATH_UNITS) return 0;
    path[at] = L'\\';
    for (size_t i = 0; i < name_length; ++i) path[at + 1 + i] = name[i];
    path[at + 1 + name_length] = 0;
    return at + 1 + name_length;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fputs("usage: zub-bench-grant-floor ROOT [--count]\n", stderr);
        return 2;
    }
    size_t length = length_of(argv[1]);
    if (length + 3 > MAX_PATH_UNITS) return 2;
    for (size_t i = 0; i <= length; ++i) path[i] = argv[1][i];
    grant(path);

    size_t depth = 0, names_used = 0;
    WIN32_FIND_DATAW data;
    for (;;) {
        const size_t directory_length = length;
        if (!join(directory_length, L"*", 1)) return 3;
        HANDLE find = FindFirstFileExW(path, FindExInfoBasic, &data, FindExSearchNameMatch, NULL, 0);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const wchar_t* name = data.cFileName;
                if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
                const size_t name_length = length_of(name);
                if (!join(directory_length, name, name_length)) return 3;
                grant(path);
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    if (depth == MAX_PENDING || names_used + name_length > MAX_NAME_UNITS) return 3;
                    pending[depth].parent_length = directory_length;
                    pending[depth].name_offset = names_used;
                    for (size_t i = 0; i < name_length; ++i) names[names_used + i] = name[i];
                    names_used += name_length;
                    ++depth;
                }
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        if (depth == 0) break;
        --depth;
        length = join(pending[depth].parent_length, names + pending[depth].name_offset,
                      names_used - pending[depth].name_offset);
        if (!length) return 3;
        names_used = pending[depth].name_offset;
    }
    if (argc > 2) printf("%lu\n", granted);
    return 0;
}
