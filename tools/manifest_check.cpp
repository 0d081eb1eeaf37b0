#include "tools/manifest_check.h"

#include <stdexcept>
#include <string_view>
#include <tuple>

#include "tools/ecdsa.h"
#include "tools/file_kind.h"
#include "tools/files.h"

namespace tools {

namespace {

constexpr char kInvalidSignature[] = "Подпись обновления недействительна. Установка отменена";
constexpr char kPackageChanged[] = "Архив обновления изменён. Установка отменена";
constexpr char kNotSigned[] = "Обновление не подписано издателем";

std::string players_see(std::string_view message) {
    return " (players see \"" + std::string(message) + "\")";
}

// The rule behind each of the installer's manifest messages.
std::string rule_of(std::string_view message) {
    if (message == kNotSigned) {
        return "a manifest is a JSON object with \"version\", \"url\" and \"sha256\", \"signature\" as strings and "
               "\"size\" as a whole number";
    }
    if (message == "Некорректная версия обновления") return "\"version\" is X.Y.Z, each number 0 to 9999";
    if (message == "Некорректная подпись обновления") {
        return "\"sha256\" is 64 and \"signature\" 128 lowercase hex characters";
    }
    if (message == "Некорректные данные обновления") {
        return "\"size\" is 22 to 16,777,216 and \"url\" begins with https://, has no line break and is at most "
               "2048 bytes";
    }
    return "refused";
}

}  // namespace

release::CheckedManifest read_manifest_file(const std::filesystem::path& file) {
    const FileKind kind = sniff_file(file);
    const std::string name = file.string();
    if (kind == FileKind::Missing || kind == FileKind::Folder || kind == FileKind::Unreadable) {
        throw std::runtime_error("manifest " + name + ": " + describe_file_kind(kind));
    }
    if (kind != FileKind::Json && kind != FileKind::Other) {
        throw std::runtime_error(name + " is " + describe_file_kind(kind) +
                                 ", not a release manifest (give the .json file that sign or site wrote)" +
                                 players_see(kNotSigned));
    }
    return check_manifest_text(read_text_file(file), name);
}

release::CheckedManifest check_manifest_text(const std::string& text, const std::string& name) {
    const nlohmann::json manifest = release::parse_release_manifest(text);
    if (manifest.is_discarded()) {
        throw std::runtime_error(name +
                                 ": not one plain JSON text (no byte-order mark, zero byte, text after the value "
                                 "or member given twice)" +
                                 players_see(kNotSigned));
    }
    try {
        return release::check_release_manifest_fields(manifest);
    } catch (const std::runtime_error& refusal) {
        throw std::runtime_error(name + ": " + rule_of(refusal.what()) + players_see(refusal.what()));
    }
}

void require_valid_signature(const release::CheckedManifest& manifest, const std::string& publicKeyHex,
                             const std::string& keySource) {
    if (!verify_release_text(publicKeyHex, manifest.signedText, manifest.signature)) {
        throw std::runtime_error("the signature does not verify under " + keySource + players_see(kInvalidSignature));
    }
}

void require_matching_package(const release::CheckedManifest& manifest, const std::filesystem::path& package) {
    require_regular_file(package, "package");
    if (std::filesystem::file_size(package) != manifest.size) {
        throw std::runtime_error("the package's size differs from the manifest's" + players_see(kPackageChanged));
    }
    if (sha256_file_hex(package) != manifest.sha256) {
        throw std::runtime_error("the package's SHA-256 differs from the manifest's" + players_see(kPackageChanged));
    }
}

bool is_older_version(const release::ReleaseVersion& a, const release::ReleaseVersion& b) {
    return std::tie(a.major, a.minor, a.patch) < std::tie(b.major, b.minor, b.patch);
}

}  // namespace tools
