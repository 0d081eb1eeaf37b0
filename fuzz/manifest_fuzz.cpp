// The manifest as it arrives from the network: parsed as the installer parses it, then every field
// check up to (not including) the signature, which random bytes never pass.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "release/manifest_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const nlohmann::json manifest = release::parse_release_manifest(body);
    try {
        const release::CheckedManifest checked = release::check_release_manifest_fields(manifest);
        // What passed must be what gets signed: the text is rebuilt from the checked fields alone.
        if (checked.signedText !=
                release::release_signed_text(checked.version, checked.size, checked.sha256, checked.url) ||
            checked.signature.size() != 64) {
            std::abort();
        }
    } catch (const std::runtime_error&) {
        // A refusal is the expected answer to most inputs; only a crash or a sanitizer report counts.
    }
    return 0;
}
