#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "crypto/bcrypt_handles.h"
#include "release/manifest_rules.h"

namespace release {

// The publisher's P-256 public key, X then Y, as 128 lowercase hex characters (set at build time).
extern const char release_public_key[];

// The provider and the key of one signature check. Members are destroyed in reverse order, so the
// key always goes before the provider it was imported into.
struct EcdsaKeyHandles {
    crypto::AlgorithmHandle provider;
    crypto::KeyHandle key;
};

// What a verified manifest says, typed, for the steps after the check: nothing downstream looks a
// member up by name again.
struct VerifiedRelease {
    std::string version;
    std::string url;
    std::uint64_t size = 0;
    std::string sha256;
};

// Returns the signed values when every member is present, well-formed, and signed by the
// publisher's key; otherwise throws std::runtime_error with the user-facing reason.
VerifiedRelease verify_release_manifest(const nlohmann::json& manifest);

// verify_release_manifest again, then the archive's size and SHA-256 against the manifest's. The
// hashing stops with "Установка отменена" once `cancel` (may be null) is set.
void verify_downloaded_archive(const nlohmann::json& manifest, const std::filesystem::path& archive,
                               const std::atomic<bool>* cancel = nullptr);

}  // namespace release
