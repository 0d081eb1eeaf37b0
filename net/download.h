#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace kr {

// The server answered the file's request with a status other than 200 or 206 (a missing file, a
// redirect that is not followed): callers that know what the file is may say so in their own words.
struct DownloadRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Fetches a file of known size and SHA-256 in byte ranges of at most 16 MiB over one connection,
// resuming a range after a transient failure and restarting the whole download (three attempts in
// all) when the bytes cannot be trusted. The file is written to a part file beside `destination`
// and appears under its final name only once complete and verified; an existing destination is never
// replaced. No part file is left behind on failure. `progress` (0..1) and `bytes_done` (may be null)
// are updated after every read; `cancel` is polled before every read and while any wait of the
// transfer lasts, so a cancel request ends the download within a fraction of a second. `official` lets redirects be
// followed and names the official server in the failure text.
void download_file(const std::string& url, const std::filesystem::path& destination, uint64_t size,
                   const std::string& sha256, std::atomic<float>* progress, std::atomic<bool>* cancel,
                   std::atomic<uint64_t>* bytes_done, const std::string& token, bool official);

// Called by download_file once the whole file is received and verified, just before the cancel flag
// is looked at for the last time and the file is renamed into place; empty (the default) for none.
// The product never sets it: a test makes its cancel arrive there, at a moment no timing can aim
// at. Process-wide; change it only while no download runs.
void set_before_rename_hook(std::function<void()> hook);

}  // namespace kr
