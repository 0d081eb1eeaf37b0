#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace common {

// Windows refuses plain paths of MAX_PATH (260) characters or more unless the machine has long
// paths switched on, whatever the application manifest says, and MinGW's directory iterator fails
// on them even then. A package may nest its files deeper than that, so every path handed to the
// file system goes through its extended-length form ("\\?\C:\..." or "\\?\UNC\server\share\...").
// That form is taken literally: no '/' separators, no "." or ".." and no relative paths. The full
// path name service resolves all of those first, as Windows would for the plain path.
inline std::filesystem::path extended_length_path(const std::filesystem::path& path) {
    const std::wstring& text = path.native();
    constexpr std::wstring_view kExtended = L"\\\\?\\";
    if (text.empty() || std::wstring_view(text).starts_with(kExtended)) {
        return path;
    }
    std::wstring full(text.size() + MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(text.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return path;  // the plain path fails in the file system call with Windows' own error
        }
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
        return std::wstring(kExtended) + full;
    }
    if (full.size() >= 3 && full[0] == L'\\' && full[1] == L'\\' && full[2] != L'?' && full[2] != L'.') {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return full;  // a device path: already beyond the plain path rules
}

// The plain form for people to read: messages show the folder as the player knows it.
inline std::filesystem::path plain_path(const std::filesystem::path& path) {
    const std::wstring& text = path.native();
    constexpr std::wstring_view kExtendedUnc = L"\\\\?\\UNC\\";
    constexpr std::wstring_view kExtended = L"\\\\?\\";
    if (std::wstring_view(text).starts_with(kExtendedUnc)) {
        return L"\\\\" + text.substr(kExtendedUnc.size());
    }
    if (std::wstring_view(text).starts_with(kExtended)) {
        return text.substr(kExtended.size());
    }
    return path;
}

}  // namespace common
