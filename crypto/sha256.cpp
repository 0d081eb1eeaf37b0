#include "crypto/sha256.h"

#include <algorithm>
#include <array>
#include <climits>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "common/cancellation.h"
#include "common/windows_call.h"

namespace crypto {

namespace {

constexpr char kCryptoFailed[] = "Ошибка криптографии Windows";
constexpr char kCannotOpenFile[] = "Не удалось проверить файл";
constexpr char kReadFailed[] = "Ошибка чтения файла";

constexpr size_t kFileChunk = 65536;
constexpr size_t kDigestLength = 32;

}  // namespace

void check_crypto_status(NTSTATUS status) {
    common::throw_if_failed(status, kCryptoFailed);
}

Sha256::Sha256() {
    check_crypto_status(BCryptOpenAlgorithmProvider(provider_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    check_crypto_status(BCryptCreateHash(provider_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0));
}

void Sha256::update(const void* bytes, size_t length) {
    // CNG takes a 32-bit count: feed larger buffers in slices rather than truncating the length.
    auto cursor = static_cast<PUCHAR>(const_cast<void*>(bytes));
    do {
        const ULONG slice = static_cast<ULONG>(std::min<size_t>(length, ULONG_MAX));
        check_crypto_status(BCryptHashData(hash_.get(), cursor, slice, 0));
        cursor += slice;
        length -= slice;
    } while (length > 0);
}

std::string Sha256::finish_hex() {
    std::array<unsigned char, kDigestLength> digest{};
    check_crypto_status(BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
    return hex_from_bytes(digest.data(), digest.size());
}

std::string sha256_hex(const void* bytes, size_t length) {
    Sha256 hasher;
    hasher.update(bytes, length);
    return hasher.finish_hex();
}

std::string sha256_file_hex(const std::filesystem::path& file, const std::atomic<bool>* cancel) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream.is_open()) {
        throw std::runtime_error(kCannotOpenFile);
    }
    Sha256 hasher;
    std::vector<char> buffer(kFileChunk, '\0');
    // The last, short read sets both eof and fail; its bytes are hashed before the loop ends.
    while (stream) {
        common::throw_if_cancelled(cancel, common::kInstallCancelled);
        stream.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        hasher.update(buffer.data(), static_cast<size_t>(stream.gcount()));
    }
    if (!stream.eof()) {
        throw std::runtime_error(kReadFailed);
    }
    return hasher.finish_hex();
}

bool same_digest(const std::string& left, const std::string& right) {
    if (left.size() != right.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (size_t i = 0; i < left.size(); ++i) {
        difference |= static_cast<unsigned char>(left[i] ^ right[i]);
    }
    return difference == 0;
}

}  // namespace crypto
