#include "crypto/hex.h"

namespace crypto {

std::string hex_from_bytes(const unsigned char* bytes, size_t length) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        hex.push_back(digits[bytes[i] >> 4]);
        hex.push_back(digits[bytes[i] & 0x0f]);
    }
    return hex;
}

}  // namespace crypto
