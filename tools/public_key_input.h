#pragma once

#include <string>

namespace tools {

// The release public key as the installer holds it (128 lowercase hex characters, X then Y) from
// what a publisher passes as --public-key: the hex itself in either case, or a file holding that hex
// (the .pub file keygen writes) or a PEM public key. Throws an English message saying which forms
// are taken.
std::string read_public_key_argument(const std::string& value);

// Lower-cases hex of any case; empty when `text` (white space around it aside) is not 128 hex digits.
std::string normalised_public_key_hex(std::string text);

}  // namespace tools
