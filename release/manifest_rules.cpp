#include "release/manifest_rules.h"

#include <set>
#include <stdexcept>

namespace release {

namespace {

constexpr char kNotSigned[] = "Обновление не подписано издателем";
constexpr char kBadVersion[] = "Некорректная версия обновления";
constexpr char kBadSignature[] = "Некорректная подпись обновления";
constexpr char kBadData[] = "Некорректные данные обновления";

constexpr std::uint32_t kMaximumVersionNumber = 9999;
constexpr size_t kMaximumUrlLength = 2048;
constexpr std::string_view kUrlScheme = "https://";
constexpr std::string_view kSignedTextMarker = "KORLAUNCHER-UPDATE-v1";
constexpr size_t kDigestBytes = 32;
constexpr size_t kSignatureBytes = 64;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Reads one number at `position`, moving past its digits.
std::uint32_t read_version_number(std::string_view text, size_t& position) {
    const size_t start = position;
    std::uint64_t value = 0;
    while (position < text.size() && is_digit(text[position])) {
        value = value * 10 + static_cast<std::uint64_t>(text[position] - '0');
        // Leading zeros may make the run long; the value alone must stay within 32 bits.
        if (value > UINT32_MAX) {
            throw std::runtime_error(kBadVersion);
        }
        ++position;
    }
    if (position == start || value > kMaximumVersionNumber) {
        throw std::runtime_error(kBadVersion);
    }
    return static_cast<std::uint32_t>(value);
}

// Far more than the flat object a manifest is; extra members may hold a little structure.
constexpr size_t kMaximumManifestDepth = 32;

// Counts brackets outside strings; the parser refuses whatever else is malformed.
bool nests_too_deep(std::string_view body) {
    size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : body) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaximumManifestDepth) return true;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

nlohmann::json parse_release_manifest(std::string_view body) {
    const nlohmann::json refused(nlohmann::json::value_t::discarded);
    // The parser stops at a zero byte as at the end, so "{...}\0anything" would pass for "{...}".
    if (body.size() > kMaximumManifestBytes || body.find('\0') != std::string_view::npos ||
        body.substr(0, 3) == "\xEF\xBB\xBF" || nests_too_deep(body)) {
        return refused;
    }
    // The parser keeps the last of two equal names; which one the publisher meant is unknowable.
    std::vector<std::set<std::string>> objects;
    bool duplicate = false;
    const nlohmann::json::parser_callback_t watch = [&](int, nlohmann::json::parse_event_t event,
                                                        nlohmann::json& parsed) {
        if (event == nlohmann::json::parse_event_t::object_start) {
            objects.emplace_back();
        } else if (event == nlohmann::json::parse_event_t::object_end && !objects.empty()) {
            objects.pop_back();
        } else if (event == nlohmann::json::parse_event_t::key && !objects.empty() &&
                   !objects.back().insert(parsed.get<std::string>()).second) {
            duplicate = true;
        }
        return true;
    };
    nlohmann::json manifest = nlohmann::json::parse(body.begin(), body.end(), watch, false, false);
    return duplicate ? refused : manifest;
}

ReleaseVersion parse_release_version(std::string_view text) {
    size_t position = 0;
    ReleaseVersion version;
    std::uint32_t* const numbers[] = {&version.major, &version.minor, &version.patch};
    for (size_t i = 0; i < 3; ++i) {
        *numbers[i] = read_version_number(text, position);
        if (i < 2) {
            if (position >= text.size() || text[position] != '.') {
                throw std::runtime_error(kBadVersion);
            }
            ++position;
        }
    }
    if (position != text.size()) {
        throw std::runtime_error(kBadVersion);
    }
    return version;
}

std::vector<unsigned char> decode_hex(std::string_view text, size_t byteCount) {
    if (text.size() != byteCount * 2) {
        throw std::runtime_error(kBadSignature);
    }
    std::vector<unsigned char> bytes(byteCount);
    for (size_t i = 0; i < byteCount; ++i) {
        const int high = hex_digit_value(text[2 * i]);
        const int low = hex_digit_value(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            throw std::runtime_error(kBadSignature);
        }
        bytes[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return bytes;
}

bool is_allowed_release_size(std::uint64_t size) {
    return size >= kMinimumReleaseSize && size <= kMaximumReleaseSize;
}

bool is_allowed_release_url(std::string_view url) {
    return url.size() >= kUrlScheme.size() && url.substr(0, kUrlScheme.size()) == kUrlScheme &&
           url.find_first_of("\r\n") == std::string_view::npos && url.size() <= kMaximumUrlLength;
}

std::string release_signed_text(std::string_view version, std::uint64_t size, std::string_view sha256,
                                std::string_view url) {
    const std::string sizeText = std::to_string(size);
    std::string text;
    for (const std::string_view line : {kSignedTextMarker, version, std::string_view(sizeText), sha256, url}) {
        text.append(line);
        text.push_back('\n');
    }
    return text;
}

CheckedManifest check_release_manifest_fields(const nlohmann::json& manifest) {
    const auto holds = [&](const char* name, bool (nlohmann::json::*kind)() const noexcept) {
        const auto member = manifest.find(name);
        return member != manifest.end() && ((*member).*kind)();
    };
    // Only the library's unsigned kind qualifies for "size": a negative number, a fraction or an
    // exponent parses into another kind and is refused here, not by the range check.
    if (!manifest.is_object() || !holds("version", &nlohmann::json::is_string) ||
        !holds("url", &nlohmann::json::is_string) || !holds("size", &nlohmann::json::is_number_unsigned) ||
        !holds("sha256", &nlohmann::json::is_string) || !holds("signature", &nlohmann::json::is_string)) {
        throw std::runtime_error(kNotSigned);
    }

    CheckedManifest checked;
    checked.version = manifest["version"].get<std::string>();
    checked.url = manifest["url"].get<std::string>();
    checked.sha256 = manifest["sha256"].get<std::string>();
    checked.size = manifest["size"].get<std::uint64_t>();

    parse_release_version(checked.version);
    decode_hex(checked.sha256, kDigestBytes);
    checked.signature = decode_hex(manifest["signature"].get<std::string>(), kSignatureBytes);
    if (!is_allowed_release_size(checked.size) || !is_allowed_release_url(checked.url)) {
        throw std::runtime_error(kBadData);
    }
    checked.signedText = release_signed_text(checked.version, checked.size, checked.sha256, checked.url);
    return checked;
}

}  // namespace release
