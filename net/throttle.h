#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kr {

// One refusal window, keyed in the process-wide throttle table by an origin key (a 429 blocks the
// whole origin) or a request key (a throttling 403 blocks one method and path).
struct ThrottleEntry {
    uint64_t until;  // GetTickCount64 milliseconds
    int32_t status;  // 403 or 429
};

// Throws the refusal for a live entry under either key (origin first); removes entries whose time
// has come. Runs before anything of the request reaches the network.
void check_throttle(const std::wstring& origin_key, const std::wstring& request_key);

// How long an answer blocks, in seconds (1..900), or 0 when it does not throttle. `now` is the
// current system time as a FILETIME value, for Retry-After given as an HTTP date.
uint32_t throttle_delay_seconds(int32_t status, std::wstring_view cf_mitigated, std::wstring_view retry_after,
                                uint64_t now);

// Creates or overwrites the entry for `key`.
void record_throttle(const std::wstring& key, int32_t status, uint32_t delay_seconds);

}  // namespace kr
