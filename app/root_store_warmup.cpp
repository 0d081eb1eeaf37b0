#include "app/root_store_warmup.h"

#include "common/cert_store.h"
#include "common/marked_threads.h"

namespace installer {

std::future<void> warm_root_store() {
    return std::async(std::launch::async, [] {
        const common::MarkedThread mark;  // its CPU is not the frames'
        // Opening is the work: the roots are loaded then and stay loaded for the process.
        const common::UniqueCertStore store(::CertOpenSystemStoreW(0, L"ROOT"));
    });
}

}  // namespace installer
