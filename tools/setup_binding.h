#pragma once

// What a built Korvane-Setup.exe trusts: the release public key and the release host it was built
// with, which the build writes into the program as the RCDATA resource "KORVANE_RELEASE":
//   KORVANE-RELEASE-v1\nkey=<128 lowercase hex>\nhost=<host[:port]>\n
// The tool reads it from the PE resource section (no search through the file's bytes), so what it
// checks against is what the program's players will have.

#include <filesystem>
#include <string>

namespace tools {

struct SetupBinding {
    std::string publicKey;  // 128 lowercase hex characters
    std::string host;
};

// Throws an English message naming the file: missing, not a 64-bit Windows program, or without the
// resource (built before the resource existed, or not a Korvane Setup program).
SetupBinding read_setup_binding(const std::filesystem::path& exe);

}  // namespace tools
