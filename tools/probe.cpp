#include "tools/probe.h"

#include <openssl/evp.h>

#include <array>
#include <stdexcept>

#include "crypto/hex.h"
#include "release/manifest_rules.h"
#include "tools/http_fetch.h"
#include "tools/manifest_check.h"
#include "tools/setup_binding.h"
#include "tools/site_layout.h"

namespace tools {

namespace {

// A manifest is a few hundred bytes; anything near this is not one.
constexpr std::size_t kMaximumManifestBytes = 65536;

class Report {
public:
    explicit Report(std::ostream& out) : out_(out) {}

    bool check(bool passed, const std::string& what, const std::string& remedy) {
        out_ << (passed ? "pass  " : "FAIL  ") << what;
        if (!passed) out_ << "\n      " << remedy;
        out_ << "\n";
        allPassed_ = allPassed_ && passed;
        return passed;
    }
    bool all_passed() const { return allPassed_; }

private:
    std::ostream& out_;
    bool allPassed_ = true;
};

std::string header(const FetchResult& result, const std::string& name) {
    const auto found = result.headers.find(name);
    return found == result.headers.end() ? std::string() : found->second;
}

std::string sha256_hex(const std::string& bytes) {
    std::array<unsigned char, 32> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("cannot hash");
    }
    return crypto::hex_from_bytes(digest.data(), digest.size());
}

// Whether an answer came at all, and with the expected status.
bool check_answer(Report& report, const FetchResult& result, const std::string& url, long expected,
                  const std::string& what, const std::string& remedy) {
    if (!result.error.empty()) {
        return report.check(false, what + ": " + url + " could not be fetched: " + result.error,
                            "the installer fetches it over HTTPS with a certificate Windows trusts for this host "
                            "name; check the address, the server and its certificate chain");
    }
    return report.check(result.status == expected,
                        what + ": HTTP " + std::to_string(result.status) + " for " + url +
                            (result.status == expected ? "" : " (expected " + std::to_string(expected) + ")"),
                        remedy);
}

}  // namespace

bool probe_release_site(const ProbeOptions& options, std::ostream& out) {
    const SetupBinding binding = read_setup_binding(options.setup);
    Report report(out);
    std::string root = options.siteRoot.empty() ? "https://" + binding.host : options.siteRoot;
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    const std::string manifestUrl = root + "/" + kManifestSitePath;
    out << "probing " << manifestUrl << " for " << options.setup << " (release host " << binding.host << ")\n";

    FetchOptions fetch{options.caFile, {}, kMaximumManifestBytes};
    const FetchResult manifestAnswer = https_get(manifestUrl, fetch);
    if (!check_answer(report, manifestAnswer, manifestUrl, 200, "manifest",
                      "lay the release out with `korvane-release site ... --output SITE_ROOT` into the folder the "
                      "server serves as its root: the manifest belongs at downloads/launcher-release.json "
                      "(players see \"Не удалось получить файлы лаунчера\" or a network error)")) {
        return false;
    }
    report.check(header(manifestAnswer, "content-type").rfind("application/json", 0) == 0,
                 "manifest type: " + header(manifestAnswer, "content-type"),
                 "serve it as application/json (the shipped nginx configuration does)");
    report.check(header(manifestAnswer, "cache-control").find("no-cache") != std::string::npos,
                 "manifest caching: Cache-Control \"" + header(manifestAnswer, "cache-control") + "\"",
                 "send Cache-Control: no-cache, so caches ask again and players see a new release at once");

    release::CheckedManifest manifest;
    try {
        manifest = check_manifest_text(manifestAnswer.body, "the served manifest");
        report.check(true,
                     "manifest fields: version " + manifest.version + ", " + std::to_string(manifest.size) +
                         " bytes, " + manifest.url,
                     {});
        require_valid_signature(manifest, binding.publicKey, "the key built into " + options.setup);
        report.check(true, "signature under the key built into " + options.setup, {});
    } catch (const std::runtime_error& refusal) {
        report.check(false, refusal.what(),
                     "sign the release with the private key whose public key this installer was built with "
                     "(`korvane-release site ... --setup " +
                         options.setup + "`) and upload the manifest it writes");
        return false;
    }

    fetch.maximumBytes = release::kMaximumReleaseSize + 1;
    const FetchResult package = https_get(manifest.url, fetch);
    const std::string uploadAgain =
        "upload the package exactly as `korvane-release site` laid it out (binary, not recompressed), at the path "
        "of the manifest's URL";
    if (!check_answer(report, package, manifest.url, 200, "package", uploadAgain)) return false;
    report.check(!package.truncated && package.body.size() == manifest.size,
                 "package size: " + std::to_string(package.body.size()) + (package.truncated ? "+" : "") +
                     " bytes, the manifest says " + std::to_string(manifest.size),
                 uploadAgain + " (players see \"Архив обновления изменён. Установка отменена\")");
    report.check(sha256_hex(package.body) == manifest.sha256, "package SHA-256 matches the manifest",
                 uploadAgain +
                     "; a published package never changes under its URL: give a new one a new URL and "
                     "sign again (players see \"Архив обновления изменён. Установка отменена\")");
    report.check(header(package, "content-encoding").empty(),
                 "package sent as stored (Content-Encoding \"" + header(package, "content-encoding") + "\")",
                 "turn compression off for the package (gzip off): its size and hash are the stored file's");
    const std::string cacheControl = header(package, "cache-control");
    report.check(
        cacheControl.find("max-age") != std::string::npos || cacheControl.find("immutable") != std::string::npos,
        "package caching: Cache-Control \"" + cacheControl + "\"",
        "let caches keep it (Cache-Control: public, max-age=31536000, immutable): its URL never changes");

    fetch.range = "1-1";
    fetch.maximumBytes = 1024;
    const FetchResult ranged = https_get(manifest.url, fetch);
    const std::string expectedRange = "bytes 1-1/" + std::to_string(manifest.size);
    const bool ranges = ranged.error.empty() && ranged.status == 206 &&
                        header(ranged, "content-range") == expectedRange && ranged.body.size() == 1 &&
                        package.body.size() > 1 && ranged.body[0] == package.body[1];
    report.check(ranges,
                 "byte ranges: HTTP " + std::to_string(ranged.status) + " for bytes=1-1" +
                     (header(ranged, "content-range").empty() ? "" : ", " + header(ranged, "content-range")),
                 "answer single byte ranges with 206 and an exact Content-Range (the installer resumes downloads "
                 "with them; the shipped nginx configuration does)");
    return report.all_passed();
}

}  // namespace tools
