#include "text/utf.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace text {

namespace {

constexpr char kMalformedUtf8[] = "Некорректный UTF-8";
constexpr char kTextTooLong[] = "Текст слишком длинный";

// The system takes 32-bit counts. The program converts only short texts, but a silent truncation of
// a longer one would hand Windows a different string than the caller meant.
int checked_length(size_t length) {
    if (length > static_cast<size_t>(INT_MAX)) {
        throw std::runtime_error(kTextTooLong);
    }
    return static_cast<int>(length);
}

}  // namespace

std::wstring wide_from_utf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int inputLength = checked_length(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), inputLength, nullptr, 0);
    if (needed == 0) {
        throw std::runtime_error(kMalformedUtf8);
    }
    std::wstring result(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), inputLength, result.data(), needed);
    return result;
}

std::string utf8_from_wide(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int inputLength = checked_length(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), inputLength, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string result(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), inputLength, result.data(), needed, nullptr, nullptr);
    return result;
}

std::wstring wide_decimal(unsigned long long value) {
    const std::string digits = std::to_string(value);
    return std::wstring(digits.begin(), digits.end());
}

}  // namespace text
