#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace test {

// Runs the action and checks that it fails with exactly this user-facing message.
template <typename Action>
void expect_error(Action&& action, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no exception; expected \"" << message << "\"";
    } catch (const std::exception& error) {
        EXPECT_EQ(error.what(), message);
    }
}

}  // namespace test
