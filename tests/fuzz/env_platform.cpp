#include "env_platform.h"

#include "fuzz_support.h"

namespace zub::fuzz {
namespace {

[[noreturn]] void unexpected_call(const char* name) { check_failed(name, "env_platform", 0); }

}  // namespace

const char16_t* EnvPlatform::get_environment_strings_w(std::uint32_t* error) {
    ++gets_;
    *error = 0;
    return block_.c_str();
}

void EnvPlatform::free_environment_strings_w(const char16_t* block) {
    FUZZ_CHECK(block == block_.c_str());
    FUZZ_CHECK(frees_ < gets_);
    ++frees_;
}

// The block never fails to come, so there is no error to put into words.
std::string EnvPlatform::format_message(std::uint32_t) {
    unexpected_call("unexpected platform call format_message");
}

}  // namespace zub::fuzz
