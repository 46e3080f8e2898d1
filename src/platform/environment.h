#pragma once
// The helper's own environment block, and the system's words for an error code.
#include <cstdint>
#include <string>

namespace zub {

class Environment {
public:
    virtual ~Environment() = default;
    // Null with `error` set on failure.
    virtual const char16_t* get_environment_strings_w(std::uint32_t* error) = 0;
    virtual void free_environment_strings_w(const char16_t* block) = 0;
    // FormatMessageW's text for a Win32 error code, trailing line end removed;
    // empty when the system has none.
    virtual std::string format_message(std::uint32_t code) = 0;
};

}  // namespace zub
