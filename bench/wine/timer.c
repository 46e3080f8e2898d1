/* zub-bench-timer COMMANDS RUNS WARMUP
 * Times whole process lifetimes from the Windows side, so the Linux-side cost
 * of starting Wine itself is not in the figures. COMMANDS is a UTF-8 file of lines
 * "LABEL<TAB>COMMAND LINE", or "LABEL<TAB>DIRECTORY<TAB>COMMAND LINE" to start
 * the command in DIRECTORY (a lifecycle script runs in its package's directory). Each round runs every command once, the order
 * reversed on odd rounds so a drift in the machine's speed hits all commands
 * alike; the first WARMUP rounds are run but not reported. Each run is timed
 * with QueryPerformanceCounter from CreateProcessW until the process handle is
 * signalled. Prints one line per run: "LABEL ROUND MILLISECONDS EXITCODE". */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_COMMANDS 8

static char labels[MAX_COMMANDS][64];
static wchar_t commands[MAX_COMMANDS][8192];
static wchar_t directories[MAX_COMMANDS][1024];
static wchar_t scratch[8192];

static int read_commands(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return -1;
    static char text[65536];
    DWORD size = 0;
    const BOOL ok = ReadFile(file, text, sizeof text - 1, &size, NULL);
    CloseHandle(file);
    if (!ok) return -1;
    text[size] = 0;
    int count = 0;
    for (char* line = text; *line && count < MAX_COMMANDS;) {
        char* end = line + strcspn(line, "\r\n");
        const char next = *end;
        *end = 0;
        char* tab = strchr(line, '\t');
        if (tab) {
            *tab = 0;
            lstrcpynA(labels[count], line, (int)sizeof labels[count]);
            char* command = tab + 1;
            char* second = strchr(command, '\t');
            directories[count][0] = 0;
            if (second) {
                *second = 0;
                if (!MultiByteToWideChar(CP_UTF8, 0, command, -1, directories[count], 1024)) return -1;
                command = second + 1;
            }
            if (!MultiByteToWideChar(CP_UTF8, 0, command, -1, commands[count], 8192)) return -1;
            ++count;
        }
        line = next ? end + 1 : end;
    }
    return count;
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        fputs("usage: zub-bench-timer COMMANDS RUNS WARMUP\n", stderr);
        return 2;
    }
    const int count = read_commands(argv[1]);
    const int runs = _wtoi(argv[2]);
    const int warmup = _wtoi(argv[3]);
    if (count <= 0) {
        fputs("zub-bench-timer: cannot read the commands file\n", stderr);
        return 2;
    }

    /* Every command gets the same standard handles: the null device. */
    SECURITY_ATTRIBUTES inheritable = {(DWORD)sizeof inheritable, NULL, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &inheritable, OPEN_EXISTING, 0, NULL);
    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int round = -warmup; round < runs; ++round) {
        for (int k = 0; k < count; ++k) {
            const int which = ((round + warmup) % 2 == 0) ? k : count - 1 - k;
            lstrcpynW(scratch, commands[which], 8192);  /* CreateProcessW may write to it */
            PROCESS_INFORMATION process = {0};
            LARGE_INTEGER start, end;
            QueryPerformanceCounter(&start);
            if (!CreateProcessW(NULL, scratch, NULL, NULL, TRUE, 0, NULL,
                                directories[which][0] ? directories[which] : NULL, &startup, &process)) {
                fprintf(stderr, "zub-bench-timer: cannot start %s: error %lu\n", labels[which],
                        GetLastError());
                return 3;
            }
            WaitForSingleObject(process.hProcess, INFINITE);
            QueryPerformanceCounter(&end);
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            if (round >= 0) {
                const double ms = (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
                printf("%s %d %.3f %lu\n", labels[which], round, ms, code);
            }
        }
        fflush(stdout);
    }
    return 0;
}
