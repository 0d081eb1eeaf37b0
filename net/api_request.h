#pragma once

#include <string>

#include "net/http_request.h"

namespace kr {

// One small API call with its endpoint's policy: deadline and asynchronous mode for the account
// endpoints, up to three attempts for repeatable calls (350 ms and 700 ms apart) on 408/5xx answers
// and retryable transport errors, the proxy/direct switch, and the recovery of a registration whose
// first answer was lost. Returns the last answer; throws what the engine throws, or NetworkError
// "Сервер не ответил вовремя" (12002) once the deadline runs out.
//
// `limits` serves callers that must bound a call the endpoint table leaves open: `cancel` gives up the
// current attempt at once and makes it the last, and `time_limit` (milliseconds, 0 for none) sets a
// deadline over all attempts where the endpoint has none of its own; `largest_body` (bytes, 0 for
// the general 16 MiB) refuses a longer answer with "Ответ сервера слишком большой" before it is
// read whole.
struct ApiCallLimits {
    const std::atomic<bool>* cancel = nullptr;
    uint64_t time_limit = 0;
    size_t largest_body = 0;
};

HttpResponse api_request(const std::string& url, const std::string& method, const std::string& body,
                         const std::string& token, const ApiCallLimits& limits = {});

}  // namespace kr
