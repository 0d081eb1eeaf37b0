#pragma once

#include <cstddef>
#include <string>

namespace crypto {

// Lowercase hex of a byte string, high nibble first: how hashes, signatures, keys and random names
// travel as text. Free of Windows headers: the release tool builds it too.
std::string hex_from_bytes(const unsigned char* bytes, size_t length);

}  // namespace crypto
