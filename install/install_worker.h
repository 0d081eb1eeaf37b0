#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace install {

// One complete installation (or update) of the launcher into installDir, run on the install task's
// thread. Publishes its step through `state` and its progress through the other atomics; returns the
// installed release's version (UTF-8). Every failure, cancellation included, is an exception whose
// what() is UTF-8 text for the error screen.
std::string install_launcher(std::filesystem::path installDir, std::filesystem::path desktopDir,
                             std::filesystem::path programsDir, std::atomic<float>* progress, std::atomic<bool>* cancel,
                             std::atomic<uint64_t>* done, std::atomic<uint64_t>* total, std::atomic<int32_t>* state);

}  // namespace install
