#pragma once

#include <filesystem>

#include <nlohmann/json.hpp>

#include "release/bcrypt_handles.h"
#include "release/manifest_rules.h"

// The publisher's P-256 public key, X then Y, as 128 lowercase hex characters (set at build time).
extern const char release_public_key[];

// The provider and the key of one signature check. Members are destroyed in reverse order, so the
// key always goes before the provider it was imported into.
struct EcdsaKeyHandles {
    release::AlgorithmHandle provider;
    release::KeyHandle key;
};

// Returns when every member is present, well-formed, and signed by the publisher's key; otherwise
// throws std::runtime_error with the user-facing reason.
void verify_release_manifest(const nlohmann::json& manifest);

// verify_release_manifest again, then the archive's size and SHA-256 against the manifest's.
void verify_downloaded_archive(const nlohmann::json& manifest, const std::filesystem::path& archive);
