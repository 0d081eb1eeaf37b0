#include <gtest/gtest.h>

#include <set>
#include <string>

#include "crypto/random_hex.h"

namespace {

TEST(RandomHex, LengthAlphabetAndFreshness) {
    for (size_t bytes : {0u, 8u, 12u}) {
        const std::string hex = crypto::random_hex(bytes);
        EXPECT_EQ(hex.size(), bytes * 2);
        EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << hex;
    }
    std::set<std::string> drawn;
    for (int i = 0; i < 100; ++i) {
        drawn.insert(crypto::random_hex(12));
    }
    EXPECT_EQ(drawn.size(), 100u);
}

TEST(RandomHex, UsesEveryDigit) {
    // 64 draws of 24 digits: a missing hex digit or an upper-case one would show here.
    std::set<char> seen;
    for (int i = 0; i < 64; ++i) {
        for (char c : crypto::random_hex(12))
            seen.insert(c);
    }
    EXPECT_EQ(std::string(seen.begin(), seen.end()), "0123456789abcdef");
}

}  // namespace
