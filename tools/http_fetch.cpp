#include "tools/http_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace tools {

namespace {

constexpr long kTimeoutSeconds = 60;
constexpr char kUserAgent[] = "KORLAUNCHER/0.1";

struct Received {
    FetchResult* result;
    std::size_t maximum;
};

size_t receive_body(char* data, size_t size, size_t count, void* opaque) {
    auto& received = *static_cast<Received*>(opaque);
    const size_t bytes = size * count;
    if (received.result->body.size() + bytes > received.maximum) {
        received.result->truncated = true;
        return 0;  // ends the transfer
    }
    received.result->body.append(data, bytes);
    return bytes;
}

size_t receive_header(char* data, size_t size, size_t count, void* opaque) {
    auto& result = *static_cast<FetchResult*>(opaque);
    const std::string line(data, size * count);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t\r\n") + 1);
        result.headers[name] = value;
    }
    return size * count;
}

}  // namespace

FetchResult https_get(const std::string& url, const FetchOptions& options) {
    FetchResult result;
    const auto cleanup = [](CURL* handle) { curl_easy_cleanup(handle); };
    std::unique_ptr<CURL, decltype(cleanup)> curl(curl_easy_init(), cleanup);
    if (curl == nullptr) {
        result.error = "cannot start libcurl";
        return result;
    }
    Received received{&result, options.maximumBytes};
    char error[CURL_ERROR_SIZE] = {};
    CURL* const handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, kTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receive_body);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, receive_header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &result);
    if (!options.caFile.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, options.caFile.c_str());
    if (!options.range.empty()) curl_easy_setopt(handle, CURLOPT_RANGE, options.range.c_str());
    const CURLcode code = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &result.status);
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && result.truncated)) {
        result.error = error[0] != '\0' ? error : curl_easy_strerror(code);
    }
    return result;
}

}  // namespace tools
