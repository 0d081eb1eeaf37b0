#pragma once

#include <filesystem>
#include <string>

#include "release/manifest_rules.h"

namespace tools {

// The manifest in `file` checked as the installer checks one it fetched (everything short of the
// signature). Throws an English message naming the file and the rule, next to what players would
// see; a file of another kind (a ZIP, a key) is named as such.
release::CheckedManifest read_manifest_file(const std::filesystem::path& file);

// The same for a manifest's bytes (as fetched); `name` says where they came from in messages.
release::CheckedManifest check_manifest_text(const std::string& text, const std::string& name);

// Throws unless the signature verifies under the 128-hex public key.
void require_valid_signature(const release::CheckedManifest& manifest, const std::string& publicKeyHex,
                             const std::string& keySource);

// Throws unless the package has the manifest's size and SHA-256.
void require_matching_package(const release::CheckedManifest& manifest, const std::filesystem::path& package);

// "A < B" for versions as the installer reads them.
bool is_older_version(const release::ReleaseVersion& a, const release::ReleaseVersion& b);

}  // namespace tools
