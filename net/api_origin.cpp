#include "net/api_origin.h"

#include "net/endpoints.h"

namespace kr {

std::string rewrite_retired_origin(const std::string& url, std::string_view retired, std::string_view current) {
    const std::string_view text(url);
    if (!text.starts_with(retired)) {
        return url;
    }
    const std::string_view rest = text.substr(retired.size());
    if (!rest.empty() && rest.front() != '/') {
        return url;
    }
    return std::string(current) + std::string(rest);
}

std::string rewrite_retired_origin(const std::string& url) {
    return rewrite_retired_origin(url, kRetiredApiOrigin, kCurrentApiOrigin);
}

}  // namespace kr
