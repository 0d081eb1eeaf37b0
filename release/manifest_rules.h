#pragma once

// The release manifest's field rules and signed text. Free of Windows headers on purpose: the
// publisher's release tool compiles this same file on Linux, so what it signs and what the
// installer accepts cannot drift apart.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace release {

struct ReleaseVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;
};

// The largest manifest body accepted. The five signed members at their largest (a 2048-byte URL,
// the 128-digit signature, the 64-digit hash, the version and the size) with their names and the
// release tool's indented layout come to about 2.4 KiB; 8 KiB leaves room for a few members of the
// publisher's own and no more. The installer stops reading a longer answer ("Ответ сервера слишком
// большой"), so a padded manifest costs neither memory nor parsing time, nor delays a cancel.
inline constexpr std::size_t kMaximumManifestBytes = 8192;

// The manifest as received: exactly these bytes as one JSON text, or the discarded value (which
// the checks refuse as unsigned). Refused: a body longer than kMaximumManifestBytes, a byte-order
// mark, a zero byte anywhere, anything but
// whitespace after the value, a member name twice in one object, and nesting deeper than a
// manifest needs, which is judged before the parser builds anything so a hostile body stays cheap.
nlohmann::json parse_release_manifest(std::string_view body);

// Three dot-separated decimal numbers, each at most 9999 (leading zeros allowed), nothing else.
// Throws "Некорректная версия обновления".
ReleaseVersion parse_release_version(std::string_view text);

// Exactly 2 * byteCount characters from "0123456789abcdef", high nibble first.
// Throws "Некорректная подпись обновления".
std::vector<unsigned char> decode_hex(std::string_view text, size_t byteCount);

inline constexpr std::uint64_t kMinimumReleaseSize = 22;
inline constexpr std::uint64_t kMaximumReleaseSize = 16'777'216;

bool is_allowed_release_size(std::uint64_t size);
// At most 2048 bytes, beginning with the lowercase "https://", without CR or LF.
bool is_allowed_release_url(std::string_view url);

// The five lines the signature covers, each ended by a line feed.
std::string release_signed_text(std::string_view version, std::uint64_t size, std::string_view sha256,
                                std::string_view url);

// A manifest that passed every check short of the signature itself.
struct CheckedManifest {
    std::string version;
    std::string url;
    std::uint64_t size = 0;
    std::string sha256;
    std::vector<unsigned char> signature;  // r then s, 32 bytes each, big-endian
    std::string signedText;
};

// Presence and JSON types first, then the values in the order version, sha256, signature, size, url;
// the first failing check decides the message.
CheckedManifest check_release_manifest_fields(const nlohmann::json& manifest);

}  // namespace release
