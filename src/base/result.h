#pragma once
// A value or a failure, handed up the call chain; nothing here throws.
#include <type_traits>
#include <utility>
#include <variant>

namespace zub {

struct Ok {
    bool operator==(const Ok&) const = default;
};

template <class T, class E>
class [[nodiscard]] Result {
    static_assert(!std::is_same_v<T, E>, "value and failure types must differ");

public:
    // Implicit on purpose: "return value;" and "return failure;" build the result.
    // cppcheck-suppress noExplicitConstructor
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    // cppcheck-suppress noExplicitConstructor
    Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    E& error() & { return std::get<1>(state_); }
    const E& error() const& { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, E> state_;
};

template <class E>
using Status = Result<Ok, E>;

}  // namespace zub
