#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "common/unique_handle.h"

namespace common {

inline void close_cert_store(HCERTSTORE store) noexcept {
    ::CertCloseStore(store, 0);
}

using UniqueCertStore = UniqueAny<HCERTSTORE, close_cert_store>;

}  // namespace common
