#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace tools {

// A refusal with one line per problem (pack lists them all).
struct Refusal : std::runtime_error {
    Refusal(const std::string& what, std::vector<std::string> problems)
        : std::runtime_error(what), lines(std::move(problems)) {}
    std::vector<std::string> lines;
};

struct PackSummary {
    std::uint32_t files = 0;
    std::uint64_t bytes = 0;  // the package's size
};

// Writes the launcher folder `folder` (the one holding KORLAUNCHER.exe) as a package: every file
// below it as "KORLAUNCHER/<relative name>", in byte order of the names, deflated, with the same
// time (1980-01-01 00:00) and no attributes, so the same folder always gives the same bytes. The
// names, limits and required files are judged by the installer's rules before anything is written,
// the written archive is judged again by the installer's whole verdict before it takes its name,
// and a refusal leaves nothing behind. Links and other non-files are refused, never followed.
PackSummary pack_launcher_folder(const std::filesystem::path& folder, const std::filesystem::path& output);

}  // namespace tools
