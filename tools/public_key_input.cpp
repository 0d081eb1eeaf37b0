#include "tools/public_key_input.h"

#include <cctype>
#include <stdexcept>

#include "tools/ecdsa.h"
#include "tools/file_kind.h"
#include "tools/files.h"

namespace tools {

std::string normalised_public_key_hex(std::string text) {
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!text.empty() && space(text.back()))
        text.pop_back();
    std::size_t first = 0;
    while (first < text.size() && space(text[first]))
        ++first;
    text.erase(0, first);
    if (text.size() != 128) return {};
    for (char& c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string read_public_key_argument(const std::string& value) {
    if (std::string hex = normalised_public_key_hex(value); !hex.empty()) return hex;
    const FileKind kind = sniff_file(value);
    if (kind == FileKind::HexPublicKey) return normalised_public_key_hex(read_text_file(value));
    if (kind == FileKind::PemPublicKey) return public_key_of_pem(read_text_file(value), value);
    if (kind == FileKind::Missing) {
        throw std::runtime_error("--public-key " + value +
                                 ": neither 128 hex characters nor an existing file (give the key keygen "
                                 "printed, the .pub file it wrote, or a PEM public key)");
    }
    if (kind == FileKind::PemPrivateKey || kind == FileKind::PemEncryptedPrivateKey) {
        throw std::runtime_error("--public-key " + value +
                                 " is a private key; give the public key (`korvane-release pubkey " + value +
                                 "` prints it)");
    }
    throw std::runtime_error("--public-key " + value + " is " + describe_file_kind(kind) +
                             ", not a public key (give the 128 hex characters keygen printed, the .pub file it "
                             "wrote, or a PEM public key)");
}

}  // namespace tools
