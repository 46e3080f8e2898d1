#pragma once
// The helper's whole life: read the command line, run, exit. Never returns.
#include <cstdint>

#include "platform/platform.h"

namespace zub {

constexpr std::uint32_t EXIT_ARGV_ERROR = 64;
constexpr std::uint32_t EXIT_PROTOCOL_MISMATCH = 65;
constexpr std::uint32_t EXIT_RUN_ERROR = 66;
constexpr std::uint32_t EXIT_FATAL = 101;

[[noreturn]] void helper_main(Platform& platform);

}  // namespace zub
