#include "release/manifest.h"

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstring>
#include <stdexcept>

#include "common/windows_call.h"
#include "crypto/sha256.h"

namespace release {

namespace {

constexpr char kSignatureInvalid[] = "Подпись обновления недействительна. Установка отменена";
constexpr char kArchiveChanged[] = "Архив обновления изменён. Установка отменена";

constexpr size_t kCoordinateBytes = 32;

// BCRYPT_ECCKEY_BLOB followed by X and Y, as BCryptImportKeyPair takes a public P-256 key.
std::array<unsigned char, sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinateBytes> public_key_blob() {
    const std::vector<unsigned char> coordinates = decode_hex(release_public_key, 2 * kCoordinateBytes);
    std::array<unsigned char, sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinateBytes> blob{};
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateBytes};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, coordinates.data(), coordinates.size());
    return blob;
}

}  // namespace

VerifiedRelease verify_release_manifest(const nlohmann::json& manifest) {
    const CheckedManifest checked = check_release_manifest_fields(manifest);
    const std::string digestHex = crypto::sha256_hex(checked.signedText.data(), checked.signedText.size());
    std::vector<unsigned char> digest = decode_hex(digestHex, 32);
    auto blob = public_key_blob();
    std::vector<unsigned char> signature = checked.signature;

    EcdsaKeyHandles handles;
    common::throw_if_failed(
        BCryptOpenAlgorithmProvider(handles.provider.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0),
        kSignatureInvalid);
    common::throw_if_failed(BCryptImportKeyPair(handles.provider.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                                handles.key.put(), blob.data(), static_cast<ULONG>(blob.size()), 0),
                            kSignatureInvalid);
    common::throw_if_failed(
        BCryptVerifySignature(handles.key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                              signature.data(), static_cast<ULONG>(signature.size()), 0),
        kSignatureInvalid);
    return {checked.version, checked.url, checked.size, checked.sha256};
}

void verify_downloaded_archive(const nlohmann::json& manifest, const std::filesystem::path& archive,
                               const std::atomic<bool>* cancel) {
    const VerifiedRelease release = verify_release_manifest(manifest);
    // A file of the wrong length is refused before a byte of it is hashed.
    if (std::filesystem::file_size(archive) != release.size ||
        !crypto::same_digest(crypto::sha256_file_hex(archive, cancel), release.sha256)) {
        throw std::runtime_error(kArchiveChanged);
    }
}

}  // namespace release
