// Ending a child that never ran: used only when it could not be confined.
#include <windows.h>

#include "platform/win32_platform.h"

namespace zub {

void Win32Platform::terminate_process(Handle process, std::uint32_t exit_code) {
    TerminateProcess(reinterpret_cast<HANDLE>(process), exit_code);
}

}  // namespace zub
