/* zub-bench-launcher COMMAND LINE...
 * The floor for one launch: starts the rest of its own command line with
 * CreateProcessW, waits for it and exits with its exit code. Nothing else.
 * Built a second time as zub-bench-launcher-dlls, which also imports the two
 * system DLLs the helper needs (ADVAPI32, USERENV) without calling them: under
 * Wine their loading is a large part of a process start. */
#include <windows.h>

#ifdef ZUB_BENCH_IMPORT_HELPER_DLLS
#include <userenv.h>

static DWORD(WINAPI* volatile keep_advapi32)(UCHAR);
static BOOL(WINAPI* volatile keep_userenv)(HANDLE, LPWSTR, LPDWORD);
#endif

static wchar_t command_line[32768];

int wmain(void) {
#ifdef ZUB_BENCH_IMPORT_HELPER_DLLS
    keep_advapi32 = GetSidLengthRequired;
    keep_userenv = GetUserProfileDirectoryW;
#endif
    const wchar_t* rest = GetCommandLineW();
    /* Skip argument zero (quoted or not) and the blanks after it. */
    if (*rest == L'"') {
        ++rest;
        while (*rest && *rest != L'"') ++rest;
        if (*rest) ++rest;
    } else {
        while (*rest && *rest != L' ' && *rest != L'\t') ++rest;
    }
    while (*rest == L' ' || *rest == L'\t') ++rest;
    lstrcpynW(command_line, rest, (int)(sizeof command_line / sizeof command_line[0]));

    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {0};
    if (!CreateProcessW(NULL, command_line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
        return 120;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 121;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
