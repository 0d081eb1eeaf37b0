#pragma once

#include <string>
#include <string_view>

namespace kr {

// A URL on the retired API origin (the origin alone, or followed by "/") moves to the current
// origin; every other URL is returned unchanged. Byte-exact comparison.
std::string rewrite_retired_origin(const std::string& url, std::string_view retired, std::string_view current);

// The same with the origins this build was configured with.
std::string rewrite_retired_origin(const std::string& url);

}  // namespace kr
