#include "tools/site_layout.h"

#include <stdexcept>
#include <string>
#include <system_error>

#include "tools/ecdsa.h"
#include "tools/files.h"

namespace tools {

namespace fs = std::filesystem;

namespace {

bool is_plain_segment(const std::string& segment) {
    if (segment.empty() || segment.front() == '.') return false;
    for (const char c : segment) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        if (!plain) return false;
    }
    return true;
}

// Every folder from the site folder down to the package's, made where missing. A link anywhere on
// the way is refused rather than followed: the publisher's files must land inside the site folder.
void make_real_folders(const fs::path& site, const fs::path& relativeFolder) {
    fs::path folder = site;
    const auto check = [](const fs::path& path) {
        const fs::file_status status = fs::symlink_status(path);
        if (fs::is_symlink(status)) throw std::runtime_error("refusing to follow the link " + path.string());
        if (fs::exists(status) && !fs::is_directory(status)) {
            throw std::runtime_error(path.string() + " is not a folder");
        }
    };
    check(folder);
    fs::create_directories(folder);
    for (const fs::path& part : relativeFolder) {
        folder /= part;
        check(folder);
        fs::create_directory(folder);
    }
}

}  // namespace

fs::path site_path_of_url(const std::string& url) {
    const std::string scheme = "https://";
    if (url.rfind(scheme, 0) != 0) throw std::runtime_error("the package URL must begin with https://");
    const std::size_t pathStart = url.find('/', scheme.size());
    if (pathStart == std::string::npos || pathStart == scheme.size()) {
        throw std::runtime_error("the package URL names no host or no file: " + url);
    }
    const std::string path = url.substr(pathStart + 1);
    fs::path relative;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('/', start);
        const std::string segment = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!is_plain_segment(segment)) {
            throw std::runtime_error(
                "the package URL's path must be plain folder and file names (letters, digits, "
                "'-', '_', '.'; none starting with '.'): " +
                url);
        }
        relative /= segment;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (relative == fs::path(kManifestSitePath)) {
        throw std::runtime_error("the package URL is the manifest's own place: " + url);
    }
    return relative;
}

void lay_out_release_site(const fs::path& package, const nlohmann::json& manifest, const fs::path& site,
                          const std::function<void(const fs::path&)>& checkManifest) {
    const fs::path packagePlace = site_path_of_url(manifest.at("url").get<std::string>());
    const std::string sha256 = manifest.at("sha256").get<std::string>();
    const fs::path packageFile = site / packagePlace;
    const fs::path manifestFile = site / kManifestSitePath;

    make_real_folders(site, packagePlace.parent_path());
    make_real_folders(site, fs::path(kManifestSitePath).parent_path());
    for (const fs::path& file : {packageFile, manifestFile}) {
        const fs::file_status status = fs::symlink_status(file);
        if (fs::is_symlink(status)) throw std::runtime_error("refusing to follow the link " + file.string());
        if (fs::exists(status) && !fs::is_regular_file(status)) {
            throw std::runtime_error(file.string() + " is not a file");
        }
    }

    bool placedPackage = false;
    if (fs::exists(packageFile)) {
        if (sha256_file_hex(packageFile) != sha256) {
            throw std::runtime_error("refusing to replace " + packageFile.string() +
                                     ": a published package never changes under its URL (give this release a "
                                     "URL of its own)");
        }
    } else {
        // The copy is written from one read of the package, then checked against the manifest: the
        // site serves exactly the bytes that were signed, even if the source changed meanwhile.
        write_file_atomically(packageFile, read_text_file(package));
        placedPackage = true;
        if (sha256_file_hex(packageFile) != sha256) {
            fs::remove(packageFile);
            throw std::runtime_error(package.string() + " changed while it was laid out; nothing was published");
        }
    }
    try {
        write_file_atomically(manifestFile, manifest.dump(2) + "\n", checkManifest);
    } catch (...) {
        if (placedPackage) {
            std::error_code ignored;
            fs::remove(packageFile, ignored);
        }
        throw;
    }
}

}  // namespace tools
