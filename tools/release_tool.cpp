// korvane-release: the publisher's side of a release. Makes the signing key, signs release
// manifests, lays out the release site, and checks packages and manifests with the installer's own
// rules.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "crypto/hex.h"
#include "release/manifest_rules.h"
#include "tools/ecdsa.h"
#include "tools/files.h"
#include "tools/package_check.h"
#include "tools/site_layout.h"

namespace {

constexpr char kUsage[] =
    "usage:\n"
    "  korvane-release keygen PRIVATE_KEY.pem\n"
    "  korvane-release sign PACKAGE.zip --version X.Y.Z --url https://... --key PRIVATE_KEY.pem --output "
    "MANIFEST.json\n"
    "  korvane-release site PACKAGE.zip --version X.Y.Z --url https://... --key PRIVATE_KEY.pem --output SITE_FOLDER\n"
    "  korvane-release check PACKAGE.zip\n"
    "  korvane-release verify MANIFEST.json --public-key HEX128 [--package PACKAGE.zip]\n";

// Raised for wrong command lines; main prints the usage after the message.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One positional argument followed by --name value options, each allowed once.
struct Arguments {
    std::string positional;
    std::map<std::string, std::string> options;

    std::string required(const std::string& name) const {
        const auto found = options.find(name);
        if (found == options.end()) throw UsageError("missing --" + name);
        return found->second;
    }
};

Arguments parse_arguments(int argc, char** argv, const std::vector<std::string>& allowed) {
    Arguments arguments;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("--", 0) == 0) {
            const std::string name = word.substr(2);
            if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
                throw UsageError("unknown option " + word);
            }
            if (i + 1 >= argc) throw UsageError("missing value for " + word);
            if (!arguments.options.emplace(name, argv[++i]).second) throw UsageError("repeated option " + word);
        } else if (arguments.positional.empty()) {
            arguments.positional = word;
        } else {
            throw UsageError("unexpected argument " + word);
        }
    }
    if (arguments.positional.empty()) throw UsageError("missing file argument");
    return arguments;
}

int keygen(int argc, char** argv) {
    const Arguments arguments = parse_arguments(argc, argv, {});
    std::cout << tools::generate_release_key(arguments.positional) << "\n";
    std::cerr << "private key written to " << arguments.positional
              << "; build with -DKORVANE_RELEASE_PUBLIC_KEY=<the line above>\n";
    return 0;
}

// The manifest for a package, refused where the installer would refuse it, read back before use.
nlohmann::json signed_manifest(const Arguments& arguments) {
    const std::string version = arguments.required("version");
    const std::string url = arguments.required("url");
    const std::filesystem::path key = arguments.required("key");
    const std::filesystem::path package = arguments.positional;

    release::parse_release_version(version);
    if (!release::is_allowed_release_url(url)) {
        throw std::runtime_error("the URL must begin with https://, hold no line break and be at most 2048 bytes");
    }
    const std::uint64_t size = std::filesystem::file_size(package);
    if (!release::is_allowed_release_size(size)) {
        throw std::runtime_error("the package is " + std::to_string(size) + " bytes; the installer takes " +
                                 std::to_string(release::kMinimumReleaseSize) + " to " +
                                 std::to_string(release::kMaximumReleaseSize));
    }
    const tools::PackageReport report = tools::check_package(package);
    if (!report.problems.empty()) {
        throw std::runtime_error("the installer would refuse this package: " + report.problems.front() +
                                 " (run check for the full list)");
    }

    const std::string sha256 = tools::sha256_file_hex(package);
    const std::string text = release::release_signed_text(version, size, sha256, url);
    const std::vector<unsigned char> signature = tools::sign_release_text(key, text);
    const std::string signatureHex = crypto::hex_from_bytes(signature.data(), signature.size());
    nlohmann::json manifest = {
        {"version", version}, {"url", url}, {"size", size}, {"sha256", sha256}, {"signature", signatureHex},
    };
    // Read the result back the way the installer will before anything is written.
    const release::CheckedManifest checked = release::check_release_manifest_fields(manifest);
    if (!tools::verify_release_text(tools::public_key_of(key), checked.signedText, checked.signature)) {
        throw std::runtime_error("the new signature does not verify");
    }
    return manifest;
}

int sign(int argc, char** argv) {
    const Arguments arguments = parse_arguments(argc, argv, {"version", "url", "key", "output"});
    const std::filesystem::path output = arguments.required("output");
    const nlohmann::json manifest = signed_manifest(arguments);
    tools::write_file_atomically(output, manifest.dump(2) + "\n");
    std::cerr << "signed " << arguments.positional << " (" << manifest["size"] << " bytes, version "
              << manifest["version"].get<std::string>() << ") into " << output.string() << "\n";
    return 0;
}

int site(int argc, char** argv) {
    const Arguments arguments = parse_arguments(argc, argv, {"version", "url", "key", "output"});
    const std::filesystem::path folder = arguments.required("output");
    tools::site_path_of_url(arguments.required("url"));
    const nlohmann::json manifest = signed_manifest(arguments);
    tools::lay_out_release_site(arguments.positional, manifest, folder);
    std::cerr << "laid out version " << manifest["version"].get<std::string>() << " in " << folder.string() << ": "
              << (folder / tools::site_path_of_url(manifest["url"])).string() << ", "
              << (folder / tools::kManifestSitePath).string() << "\n";
    return 0;
}

int check(int argc, char** argv) {
    const Arguments arguments = parse_arguments(argc, argv, {});
    const tools::PackageReport report = tools::check_package(arguments.positional);
    for (const std::string& problem : report.problems) {
        std::cout << problem << "\n";
    }
    if (!report.problems.empty()) {
        std::cerr << report.problems.size() << " problem(s); the installer would refuse this package\n";
        return 1;
    }
    std::cout << "ok: " << report.entries << " entries, " << report.files << " files\n";
    return 0;
}

int verify(int argc, char** argv) {
    const Arguments arguments = parse_arguments(argc, argv, {"public-key", "package"});
    const std::string publicKey = arguments.required("public-key");
    const nlohmann::json manifest = release::parse_release_manifest(tools::read_text_file(arguments.positional));
    const release::CheckedManifest checked = release::check_release_manifest_fields(manifest);
    if (!tools::verify_release_text(publicKey, checked.signedText, checked.signature)) {
        throw std::runtime_error("the signature does not verify under this public key");
    }
    if (const auto package = arguments.options.find("package"); package != arguments.options.end()) {
        if (std::filesystem::file_size(package->second) != checked.size) {
            throw std::runtime_error("the package's size differs from the manifest's");
        }
        if (tools::sha256_file_hex(package->second) != checked.sha256) {
            throw std::runtime_error("the package's SHA-256 differs from the manifest's");
        }
    }
    std::cout << "ok: version " << checked.version << ", " << checked.size << " bytes, " << checked.url << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::map<std::string, int (*)(int, char**)> commands = {
        {"keygen", keygen}, {"sign", sign}, {"site", site}, {"check", check}, {"verify", verify}};
    if (argc < 2 || commands.count(argv[1]) == 0) {
        std::cerr << kUsage;
        return 2;
    }
    try {
        return commands.at(argv[1])(argc, argv);
    } catch (const UsageError& error) {
        std::cerr << "korvane-release: " << error.what() << "\n" << kUsage;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "korvane-release: " << error.what() << "\n";
        return 1;
    }
}
