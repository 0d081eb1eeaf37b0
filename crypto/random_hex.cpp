#include "crypto/random_hex.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>
#include <vector>

#include "crypto/sha256.h"

namespace crypto {

std::string random_hex(size_t byteCount) {
    if (byteCount == 0) {
        return {};  // Wine's BCryptGenRandom refuses an empty buffer
    }
    std::vector<unsigned char> bytes(byteCount);
    if (byteCount > ULONG_MAX) {
        check_crypto_status(STATUS_INVALID_PARAMETER);
    }
    check_crypto_status(
        BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
    return hex_from_bytes(bytes.data(), bytes.size());
}

}  // namespace crypto
