// The exception an action must raise, kept for the checks of its code and text.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace tzn::test {

// Runs `action`, which must raise E: the exception raised, or nothing (and a test failure
// saying `note`) when the action returned. Any other exception reaches the test as it is.
template <class E, class Fn>
std::optional<E> Raised(Fn&& action, std::string_view note = "no error raised") {
    try {
        action();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << note;
    return std::nullopt;
}

} // namespace tzn::test
