#pragma once

// ECDSA P-256 over SHA-256 with OpenSSL 3, in the forms the installer takes: the public key as
// X || Y and signatures as r || s (64 bytes each, big-endian halves).

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct evp_pkey_st;  // OpenSSL's EVP_PKEY

namespace tools {

// Where a private key comes from: its PEM file and, for a key protected by a passphrase, the file
// holding the passphrase (its first line). Without that file the passphrase is asked for on the
// terminal, once; it is never taken from the command line, where other users can read it.
struct PrivateKeySource {
    std::filesystem::path file;
    std::filesystem::path passphraseFile;  // empty: ask on the terminal when the key needs one
};

// Writes a new private key (PEM, mode 0600; an existing file is never replaced; encrypted with
// AES-256 under the passphrase when `passphraseFile` is given) and returns the public key as 128
// lowercase hex characters.
std::string generate_release_key(const std::filesystem::path& privateKeyFile,
                                 const std::filesystem::path& passphraseFile);

// A P-256 private key, loaded (and its passphrase asked for) once.
class SigningKey {
public:
    // Throws an English message naming the file: missing, not a private key (with what it is), a
    // public key given instead, another curve or algorithm, a wrong or missing passphrase.
    explicit SigningKey(const PrivateKeySource& source);

    // The public key as 128 lowercase hex characters (X then Y).
    std::string public_hex() const;
    // Signs the message (ECDSA over SHA-256); returns r || s.
    std::vector<unsigned char> sign(std::string_view message) const;

private:
    struct Free {
        void operator()(evp_pkey_st* key) const noexcept;
    };
    std::unique_ptr<evp_pkey_st, Free> key_;
};

// The 128-hex public key of a PEM public key ("BEGIN PUBLIC KEY"); throws unless it is P-256.
std::string public_key_of_pem(std::string_view pem, const std::string& source);

// True when the r || s signature is valid for the message under the 128-hex public key.
bool verify_release_text(std::string_view publicKeyHex, std::string_view message,
                         const std::vector<unsigned char>& signature);

// The key's fingerprint, as the build's configure step prints it: the first 16 hex digits of the
// SHA-256 of its 128 lowercase hex characters.
std::string key_fingerprint(std::string_view publicKeyHex);

// SHA-256 of a file as 64 lowercase hex characters.
std::string sha256_file_hex(const std::filesystem::path& file);

}  // namespace tools
