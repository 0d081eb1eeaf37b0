#pragma once

#include <gtest/gtest.h>

#include <string>

#include "net/network_error.h"
#include "tests/support/loopback_server.h"

namespace test {

// Every network test starts with a server that has forgotten earlier scripts and records.
class NetTest : public ::testing::Test {
protected:
    void SetUp() override { server().reset(); }
    static LoopbackServer& server() { return LoopbackServer::get(); }
};

// Runs the action and checks that it fails with a NetworkError of this code and exact text.
template <typename Action>
void expect_network_error(Action&& action, uint32_t code, const std::string& message) {
    try {
        action();
        ADD_FAILURE() << "no exception; expected \"" << message << "\"";
    } catch (const kr::NetworkError& error) {
        EXPECT_EQ(error.code, code);
        EXPECT_EQ(error.what(), message);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "not a NetworkError: " << error.what();
    }
}

}  // namespace test
