#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "release/package_verdict.h"

namespace tools {

struct PackageReport {
    // One line each: where, the rule broken (in English), and the message a player would see.
    // Empty when the installer would accept the package.
    std::vector<std::string> problems;
    std::uint32_t entries = 0;
    std::uint32_t files = 0;
    std::string hint;  // what to do about the problems as a whole, when one thing explains them
};

// One line per problem of the verdict, for the publisher. A required file spelt in another letter
// case is one problem (the entry and the rule it broke), not also a missing file.
std::vector<std::string> describe_package_problems(const release::PackageVerdict& verdict);

// Runs the installer's verdict over the archive, every entry (where the installer stops at the
// first refusal, this goes on, so the publisher sees every problem at once). Throws when the file
// is missing or a folder.
PackageReport check_package(const std::filesystem::path& archive);

}  // namespace tools
