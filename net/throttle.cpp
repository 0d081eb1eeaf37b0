#include "net/throttle.h"

#include <windows.h>
#include <winhttp.h>

#include <mutex>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "common/support_log.h"

namespace kr {

namespace {

constexpr char kForbiddenThrottled[] = "Доступ к этому ресурсу временно ограничен (HTTP 403). Повторите позже.";
constexpr char kTooManyRequests[] = "Сервер временно ограничил запросы (HTTP 429). Повторите позже.";

constexpr uint32_t kDefaultForbiddenDelay = 300;
constexpr uint32_t kDefaultTooManyDelay = 60;
constexpr uint32_t kLongestDelay = 900;
// Seven digits already mean more than the longest block; longer numbers are read as dates.
constexpr size_t kLongestSecondsText = 7;
constexpr uint64_t kFileTimeUnitsPerSecond = 10'000'000;

// The table's one mutex: held only for a lookup, a pruning or a recording, never across a WinHTTP
// call, so status callbacks can never wait on it.
struct ThrottleTable {
    std::mutex mutex;
    std::unordered_map<std::wstring, ThrottleEntry> entries;
};

ThrottleTable& table() {
    static ThrottleTable instance;
    return instance;
}

// Returns true when a live entry refuses the key; drops an expired one.
bool refuses(std::unordered_map<std::wstring, ThrottleEntry>& entries, const std::wstring& key, int32_t& status) {
    const auto found = entries.find(key);
    if (found == entries.end()) {
        return false;
    }
    if (GetTickCount64() < found->second.until) {
        status = found->second.status;
        return true;
    }
    entries.erase(found);
    return false;
}

bool all_digits(std::wstring_view text) {
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
    }
    return true;
}

// Whole seconds until an HTTP date; nothing for a date that does not parse or is not in the future.
std::optional<uint64_t> seconds_until_date(std::wstring_view text, uint64_t now) {
    const std::wstring date(text);
    SYSTEMTIME system{};
    FILETIME file{};
    if (!WinHttpTimeToSystemTime(date.c_str(), &system) || !SystemTimeToFileTime(&system, &file)) {
        return std::nullopt;
    }
    const uint64_t then = (uint64_t{file.dwHighDateTime} << 32) | file.dwLowDateTime;
    if (then <= now) {
        return std::nullopt;
    }
    return (then - now) / kFileTimeUnitsPerSecond;
}

}  // namespace

void check_throttle(const std::wstring& origin_key, const std::wstring& request_key) {
    int32_t status = 0;
    bool refused = false;
    {
        ThrottleTable& throttle = table();
        std::lock_guard lock(throttle.mutex);
        refused = refuses(throttle.entries, origin_key, status) || refuses(throttle.entries, request_key, status);
    }
    if (refused) {
        common::support_log("net", "refused before sending: the server throttled ", origin_key, " (HTTP ", status,
                            ") and its time has not come");
        throw std::runtime_error(status == 403 ? kForbiddenThrottled : kTooManyRequests);
    }
}

uint32_t throttle_delay_seconds(int32_t status, std::wstring_view cf_mitigated, std::wstring_view retry_after,
                                uint64_t now) {
    uint64_t delay = 0;
    if (status == 429) {
        delay = kDefaultTooManyDelay;
    } else if (status == 403 && (cf_mitigated == L"challenge" || !retry_after.empty())) {
        delay = kDefaultForbiddenDelay;
    } else {
        return 0;
    }
    if (!retry_after.empty()) {
        if (retry_after.size() <= kLongestSecondsText && all_digits(retry_after)) {
            delay = std::stoull(std::wstring(retry_after));
        } else if (const std::optional<uint64_t> untilDate = seconds_until_date(retry_after, now)) {
            delay = *untilDate;
        }
    }
    if (delay == 0) {
        delay = 1;
    }
    return static_cast<uint32_t>(delay > kLongestDelay ? kLongestDelay : delay);
}

void record_throttle(const std::wstring& key, int32_t status, uint32_t delay_seconds) {
    ThrottleTable& throttle = table();
    std::lock_guard lock(throttle.mutex);
    throttle.entries[key] = ThrottleEntry{GetTickCount64() + uint64_t{delay_seconds} * 1000, status};
    common::support_log("net", "throttled: HTTP ", status, " blocks ", key, " for ", delay_seconds, " s");
}

}  // namespace kr
