#include "app/root_store_warmup.h"

#include <windows.h>
#include <wincrypt.h>

#include "common/unique_handle.h"

namespace installer {
namespace {

struct CertStoreTraits {
    using type = HCERTSTORE;
    static type invalid() noexcept { return nullptr; }
    static void close(type store) noexcept { ::CertCloseStore(store, 0); }
};

}  // namespace

std::future<void> warm_root_store() {
    return std::async(std::launch::async, [] {
        // Opening is the work: the roots are loaded then and stay loaded for the process.
        const common::UniqueHandle<CertStoreTraits> store(::CertOpenSystemStoreW(0, L"ROOT"));
    });
}

}  // namespace installer
