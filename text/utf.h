#pragma once

#include <string>
#include <string_view>

namespace text {

// The only crossings between the program's UTF-8 text (messages, JSON, HTTP) and the UTF-16 text
// that Windows takes. Both take the whole string: embedded zero characters are converted too.

// Strict: malformed UTF-8 (invalid bytes, overlong forms, encoded surrogates) throws
// std::runtime_error "Некорректный UTF-8" instead of reaching a path or the screen altered.
std::wstring wide_from_utf8(std::string_view text);

// Lenient: an unpaired surrogate becomes U+FFFD.
std::string utf8_from_wide(std::wstring_view text);

// A count in decimal digits, for headers and screen texts. std::to_wstring formats through the C
// library's wide printf, which would be in the executable only for this.
std::wstring wide_decimal(unsigned long long value);

}  // namespace text
