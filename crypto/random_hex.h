#pragma once

#include <cstddef>
#include <string>

namespace crypto {

// 2n lowercase hex characters from n bytes of the system's preferred random generator: unguessable
// suffixes for staging folders, part files and temporary shortcut names.
std::string random_hex(size_t byteCount);

}  // namespace crypto
