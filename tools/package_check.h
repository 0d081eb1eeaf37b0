#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tools {

struct PackageReport {
    std::vector<std::string> problems;  // one line each; empty when the installer would accept the package
    std::uint32_t entries = 0;
    std::uint32_t files = 0;
};

// Runs the installer's entry rules over every entry (where the installer stops at the first
// refusal, this goes on, so the publisher sees every problem at once).
PackageReport check_package(const std::filesystem::path& archive);

}  // namespace tools
