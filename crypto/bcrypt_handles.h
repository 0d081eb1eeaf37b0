#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "common/unique_handle.h"

namespace crypto {

struct AlgorithmHandleTraits {
    using type = BCRYPT_ALG_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { BCryptCloseAlgorithmProvider(handle, 0); }
};

struct HashHandleTraits {
    using type = BCRYPT_HASH_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { BCryptDestroyHash(handle); }
};

struct KeyHandleTraits {
    using type = BCRYPT_KEY_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type handle) noexcept { BCryptDestroyKey(handle); }
};

using AlgorithmHandle = common::UniqueHandle<AlgorithmHandleTraits>;
using HashHandle = common::UniqueHandle<HashHandleTraits>;
using KeyHandle = common::UniqueHandle<KeyHandleTraits>;

}  // namespace crypto
