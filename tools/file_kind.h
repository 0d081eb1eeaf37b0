#pragma once

// What a file given on the command line looks like, so a publisher who gives the manifest where the
// package belongs (or a public key where the private key belongs) is told so, not shown the
// installer's message about a damaged file.

#include <filesystem>
#include <string>

namespace tools {

enum class FileKind {
    Missing,
    Folder,
    Unreadable,
    Empty,
    Zip,
    Json,
    PemPrivateKey,
    PemEncryptedPrivateKey,
    PemPublicKey,
    PemOther,
    HexPublicKey,  // 128 hex digits, as keygen prints and writes
    WindowsProgram,
    Other,
};

FileKind sniff_file(const std::filesystem::path& file);

// "a ZIP archive", "a JSON text", ... for a message.
const char* describe_file_kind(FileKind kind);

// Throws "what FILE: no such file" and the like unless the file exists as a regular file.
void require_regular_file(const std::filesystem::path& file, const std::string& what);

}  // namespace tools
