#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "common/unique_handle.h"

namespace crypto {

inline void close_algorithm_provider(BCRYPT_ALG_HANDLE handle) noexcept {
    ::BCryptCloseAlgorithmProvider(handle, 0);
}

using AlgorithmHandle = common::UniqueAny<BCRYPT_ALG_HANDLE, close_algorithm_provider>;
using HashHandle = common::UniqueAny<BCRYPT_HASH_HANDLE, ::BCryptDestroyHash>;
using KeyHandle = common::UniqueAny<BCRYPT_KEY_HANDLE, ::BCryptDestroyKey>;

}  // namespace crypto
