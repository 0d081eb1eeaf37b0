#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace kr {

// Fetches a file of known size and SHA-256 in byte ranges of at most 16 MiB over one connection,
// resuming a range after a transient failure and restarting the whole download (three attempts in
// all) when the bytes cannot be trusted. The file is written to a part file beside `destination`
// and appears under its final name only once complete and verified; an existing destination is never
// replaced. No part file is left behind on failure. `progress` (0..1) and `bytes_done` (may be null)
// are updated after every read; `cancel` is polled before every read. `official` lets redirects be
// followed and names the official server in the failure text.
void download_file(const std::string& url, const std::filesystem::path& destination, uint64_t size,
                   const std::string& sha256, std::atomic<float>* progress, std::atomic<bool>* cancel,
                   std::atomic<uint64_t>* bytes_done, const std::string& token, bool official);

}  // namespace kr
