#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <string>

#include "crypto/bcrypt_handles.h"
#include "crypto/hex.h"

namespace crypto {

// Raises "Ошибка криптографии Windows" when a CNG call reports failure (a negative status).
void check_crypto_status(NTSTATUS status);

// Incremental SHA-256 on CNG. Each hasher opens its own provider; nothing is shared between them,
// so hashers may be used on any thread.
class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* bytes, size_t length);
    // Completes the hash; call once.
    std::string finish_hex();

    // For callers that feed the hash themselves (the streaming download) and check each status
    // with check_crypto_status.
    BCRYPT_HASH_HANDLE native_handle() const noexcept { return hash_.get(); }

private:
    // Declared provider first so the hash is destroyed before the provider it came from.
    crypto::AlgorithmHandle provider_;
    crypto::HashHandle hash_;
};

std::string sha256_hex(const void* bytes, size_t length);

// Whether two hex digests are equal. Compares every character, so the time taken says nothing about
// where they differ.
bool same_digest(const std::string& left, const std::string& right);

// Reads the file in 64 KiB chunks; never holds it whole in memory.
// Throws "Не удалось проверить файл" when it cannot be opened, "Ошибка чтения файла" on a read error,
// and "Установка отменена" between chunks once `cancel` (may be null) is set.
std::string sha256_file_hex(const std::filesystem::path& file, const std::atomic<bool>* cancel = nullptr);

}  // namespace crypto
