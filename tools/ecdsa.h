#pragma once

// ECDSA P-256 over SHA-256 with OpenSSL 3, in the forms the installer takes: the public key as
// X || Y and signatures as r || s (64 bytes each, big-endian halves).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// Writes a new private key (PEM, mode 0600; an existing file is never replaced) and returns the
// public key as 128 lowercase hex characters.
std::string generate_release_key(const std::filesystem::path& privateKeyFile);

// Loads a P-256 private key from a PEM file and signs the message; returns r || s.
std::vector<unsigned char> sign_release_text(const std::filesystem::path& privateKeyFile, std::string_view message);

// The 128-hex public key of a PEM private key file.
std::string public_key_of(const std::filesystem::path& privateKeyFile);

// True when the r || s signature is valid for the message under the 128-hex public key.
bool verify_release_text(std::string_view publicKeyHex, std::string_view message,
                         const std::vector<unsigned char>& signature);

// SHA-256 of a file as 64 lowercase hex characters.
std::string sha256_file_hex(const std::filesystem::path& file);

}  // namespace tools
