#include <algorithm>
#include <stdexcept>

#include "net/http_request.h"
#include "net/network_error.h"
#include "net/throttle.h"

namespace kr {

namespace {

constexpr char kBadAnswer[] = "Некорректный ответ сервера";
constexpr char kReadInterrupted[] = "Соединение прервано при получении ответа";
constexpr char kIncompleteAnswer[] = "Ответ сервера получен не полностью";
constexpr char kAnswerTooLarge[] = "Ответ сервера слишком большой";

constexpr size_t kLargestBody = 16 * 1024 * 1024;
constexpr DWORD kReadBuffer = 32768;
// 512 UTF-16 units; a longer value reads as absent.
constexpr DWORD kHeaderBufferBytes = 1024;

uint64_t system_time_now() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

}  // namespace

int32_t HttpRequest::response_status() {
    DWORD status = 0;
    DWORD length = sizeof status;
    if (!WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX)) {
        throw std::runtime_error(kBadAnswer);
    }
    const auto code = static_cast<int32_t>(status);
    if (code == 403 || code == 429) {
        const std::wstring challenge = code == 403 ? response_header(L"cf-mitigated") : std::wstring();
        const uint32_t delay =
            throttle_delay_seconds(code, challenge, response_header(L"Retry-After"), system_time_now());
        if (delay != 0) {
            record_throttle(code == 403 ? request_key : origin_key, code, delay);
        }
    }
    return code;
}

std::wstring HttpRequest::response_header(const std::wstring& name) const {
    wchar_t value[kHeaderBufferBytes / sizeof(wchar_t)] = {};
    DWORD length = kHeaderBufferBytes;
    if (!WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_CUSTOM, name.c_str(), value, &length,
                             WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    return std::wstring(value, std::find(std::begin(value), std::end(value), L'\0'));
}

HttpResponse read_response(HttpRequest& request, bool is_head, size_t largest_body) {
    const size_t largest = largest_body == 0 ? kLargestBody : std::min(largest_body, kLargestBody);
    HttpResponse response;
    response.status = request.response_status();

    DWORD contentLength = 0;
    DWORD length = sizeof contentLength;
    const bool lengthKnown =
        WinHttpQueryHeaders(request.handle.get(), WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &contentLength, &length, WINHTTP_NO_HEADER_INDEX) != FALSE;
    if (!is_head && lengthKnown && contentLength > largest) {
        throw std::runtime_error(kAnswerTooLarge);
    }

    char buffer[kReadBuffer];
    for (;;) {
        // The read completes like a send or a receive: same waits, same closing on failure.
        const DWORD count = request.read_some(buffer, sizeof buffer, kReadInterrupted);
        if (count == 0) {
            if (!is_head && lengthKnown && response.body.size() != contentLength) {
                throw NetworkError(kIncompleteAnswer, ERROR_WINHTTP_CONNECTION_ERROR, 0);
            }
            return response;
        }
        if (count > largest - response.body.size()) {
            throw std::runtime_error(kAnswerTooLarge);
        }
        response.body.append(buffer, count);
    }
}

}  // namespace kr
