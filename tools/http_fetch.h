#pragma once

// One HTTPS GET through libcurl, as the installer would make it: HTTPS only, the system's trust
// store (or a CA file given for tests), no redirects followed, bounded time and size.

#include <map>
#include <string>

namespace tools {

struct FetchOptions {
    std::string caFile;            // empty: the system's trust store
    std::string range;             // "first-last", or empty for the whole body
    std::size_t maximumBytes = 0;  // the body is refused beyond this
};

struct FetchResult {
    std::string error;  // empty when an HTTP answer came; else curl's reason (TLS, connection, ...)
    long status = 0;
    std::map<std::string, std::string> headers;  // names lower-cased; the last of a repeated name
    std::string body;
    bool truncated = false;  // the body ran past maximumBytes
};

FetchResult https_get(const std::string& url, const FetchOptions& options);

}  // namespace tools
