#pragma once
// The one role the environment block needs: it hands out an environment block
// and takes it back, and checks that it is taken back once.
#include <cstdint>
#include <string>

#include "platform/environment.h"

namespace zub::fuzz {

class EnvPlatform final : public Environment {
public:
    explicit EnvPlatform(std::u16string block) : block_(std::move(block)) {}

    int gets() const { return gets_; }
    int frees() const { return frees_; }

    const char16_t* get_environment_strings_w(std::uint32_t* error) override;
    void free_environment_strings_w(const char16_t* block) override;
    std::string format_message(std::uint32_t) override;

private:
    std::u16string block_;  // NUL-terminated strings, then one more NUL
    int gets_ = 0;
    int frees_ = 0;
};

}  // namespace zub::fuzz
