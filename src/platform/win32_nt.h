#pragma once
// The few pieces of the NT interface that the backend uses, in one place so
// that every compiler sees the same declarations. The Windows SDK's
// <winternl.h> declares NtCreateFile, OBJECT_ATTRIBUTES, IO_STATUS_BLOCK,
// UNICODE_STRING, RtlNtStatusToDosError and the create options; what it may
// lack is defined or declared here, with the values and signatures Microsoft
// documents (ZwCreateFile's CreateOptions, the NTSTATUS values, the Rtl
// routines).
#include <windows.h>
#include <winternl.h>

#ifndef FILE_COMPLETE_IF_OPLOCKED
#define FILE_COMPLETE_IF_OPLOCKED 0x00000100
#endif
#ifndef FILE_OPEN_REPARSE_POINT
#define FILE_OPEN_REPARSE_POINT 0x00200000
#endif
#ifndef FILE_OPEN_FOR_BACKUP_INTENT
#define FILE_OPEN_FOR_BACKUP_INTENT 0x00004000
#endif
#ifndef FILE_SYNCHRONOUS_IO_NONALERT
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#endif
#ifndef FILE_OPEN
#define FILE_OPEN 0x00000001
#endif

// Not in the SDK's <winternl.h>, which declares no information class but
// FileDirectoryInformation. ZwQueryInformationFile's signature as Microsoft
// documents it (mingw's header declares the same, which C++ accepts twice),
// and FILE_INTERNAL_INFORMATION (class 6): the file's 64-bit ID.
extern "C" NTSTATUS NTAPI NtQueryInformationFile(HANDLE file, PIO_STATUS_BLOCK io_status, PVOID information,
                                                 ULONG length, FILE_INFORMATION_CLASS information_class);

namespace zub::nt {

struct FileInternalInformation {
    LARGE_INTEGER index_number;
};
constexpr FILE_INFORMATION_CLASS FILE_INTERNAL_INFORMATION_CLASS = static_cast<FILE_INFORMATION_CLASS>(6);

// RtlValidRelativeSecurityDescriptor: a self-relative descriptor checked
// against its length (its header, and every part's offset, size and entries
// within it). Documented for drivers only: neither SDK's user-mode headers
// declare it, and the Windows SDK's import library for ntdll is not known to
// list it, so it is looked up in ntdll, which every process has loaded and
// which exports it on every Windows the helper supports, and in Wine. Null if
// it is missing, and then no descriptor counts as valid.
using ValidRelativeSecurityDescriptor = BOOLEAN(NTAPI*)(PSECURITY_DESCRIPTOR descriptor, ULONG length,
                                                        SECURITY_INFORMATION required);
inline ValidRelativeSecurityDescriptor valid_relative_security_descriptor() {
    static const auto routine = reinterpret_cast<ValidRelativeSecurityDescriptor>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlValidRelativeSecurityDescriptor")));
    return routine;
}

}  // namespace zub::nt

namespace zub::win32 {

// Success and information statuses are both successes: an open that completes
// while an oplock break is still in progress (STATUS_OPLOCK_BREAK_IN_PROGRESS,
// 0x00000108) gives a usable handle.
constexpr bool nt_success(NTSTATUS status) { return status >= 0; }

}  // namespace zub::win32
