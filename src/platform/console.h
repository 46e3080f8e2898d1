#pragma once
// The helper's own command line, its console output and its exit.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/os_string.h"
#include "platform/call_results.h"

namespace zub {

class Console {
public:
    virtual ~Console() = default;
    virtual OsString get_command_line() = 0;
    virtual OsString get_module_file_name() = 0;  // empty when the call fails
    virtual bool get_console_mode(Handle handle) = 0;  // true when the handle is a console
    virtual std::uint32_t get_console_output_cp() = 0;
    virtual BoolResult write_console_w(Handle handle, std::u16string_view text) = 0;
    virtual BoolResult write_file(Handle handle, std::string_view bytes) = 0;
    [[noreturn]] virtual void exit_process(std::uint32_t status) = 0;
};

}  // namespace zub
