// The update package as raw bytes, judged as the release tool judges it (every file inflated) and
// as the installer does (stopping at the first refusal). The two must agree on every input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "release/package_verdict.h"

namespace {

release::PackageVerdict judge_bytes(const std::uint8_t* data, std::size_t size, release::PackageScan scan) {
    // A read-only stream over the input: the same stdio reader the installer and the tool use.
    FILE* stream = size == 0 ? nullptr : fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    release::PackageVerdict verdict = judge_package(stream, size, scan);
    if (stream != nullptr) std::fclose(stream);
    return verdict;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const release::PackageVerdict every = judge_bytes(data, size, release::PackageScan::EveryProblem);
    const release::PackageVerdict first = judge_bytes(data, size, release::PackageScan::FirstProblem);
    if (every.problems.empty() != first.problems.empty()) std::abort();
    if (!every.problems.empty() && std::strcmp(every.problems.front().refusal, first.problems.front().refusal) != 0) {
        std::abort();
    }
    return 0;
}
