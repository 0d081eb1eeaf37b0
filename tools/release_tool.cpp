// korvane-release: the publisher's side of a release. Makes the signing key, packs the launcher
// folder, signs release manifests, lays out the release site, and checks packages and manifests
// with the installer's own rules.

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "crypto/hex.h"
#include "release/manifest_rules.h"
#include "tools/command_line.h"
#include "tools/ecdsa.h"
#include "tools/file_kind.h"
#include "tools/files.h"
#include "tools/manifest_check.h"
#include "tools/pack.h"
#include "tools/package_check.h"
#include "tools/probe.h"
#include "tools/public_key_input.h"
#include "tools/setup_binding.h"
#include "tools/site_layout.h"

namespace {

namespace fs = std::filesystem;
using tools::Arguments;
using tools::UsageError;

constexpr char kOverview[] =
    "usage: korvane-release COMMAND ARGUMENTS (korvane-release COMMAND --help tells more)\n"
    "  keygen  PRIVATE_KEY.pem [--passphrase-file FILE]     make the release key pair\n"
    "  pubkey  PRIVATE_KEY.pem [--passphrase-file FILE]     print its public key again\n"
    "  pack    LAUNCHER_FOLDER --output PACKAGE.zip         make a package the installer takes\n"
    "  check   PACKAGE.zip                                  list every problem the installer would refuse\n"
    "  sign    PACKAGE.zip --version X.Y.Z --url https://... --key PRIVATE_KEY.pem --output MANIFEST.json\n"
    "  site    PACKAGE.zip --version X.Y.Z --url https://... --key PRIVATE_KEY.pem --output SITE_FOLDER\n"
    "  verify  MANIFEST.json (--public-key KEY | --setup Korvane-Setup.exe) [--package PACKAGE.zip]\n"
    "  inspect Korvane-Setup.exe                            show the release key and host built into it\n"
    "  probe   --setup Korvane-Setup.exe [--site-root URL]  check the live release site as the installer will\n"
    "  --version                                            print the tool's version\n"
    "Exit status: 0 done, 1 refused or failed (one line on stderr says why), 2 wrong command line.\n";

constexpr char kKeyOptions[] =
    "  --key PRIVATE_KEY.pem     the release private key (keygen's PEM file)\n"
    "  --passphrase-file FILE    the key's passphrase, on the file's first line; without it a protected\n"
    "                            key asks on the terminal (never give a passphrase on the command line)\n"
    "  --setup Korvane-Setup.exe refuse unless the key is the one built into this installer\n"
    "  --public-key KEY          the same with the public key: 128 hex characters (either case), the\n"
    "                            .pub file keygen wrote, or a PEM public key\n";

struct Command {
    const char* help;
    tools::CommandSyntax syntax;
    int (*run)(const Arguments&);
};

int keygen(const Arguments& arguments);
int pubkey(const Arguments& arguments);
int pack(const Arguments& arguments);
int check(const Arguments& arguments);
int sign(const Arguments& arguments);
int site(const Arguments& arguments);
int verify(const Arguments& arguments);
int inspect(const Arguments& arguments);
int probe(const Arguments& arguments);

const std::map<std::string, Command>& commands() {
    static const std::string signHelp =
        std::string(
            "usage: korvane-release sign PACKAGE.zip --version X.Y.Z --url https://HOST/PATH "
            "--key PRIVATE_KEY.pem --output MANIFEST.json\n"
            "Checks the package and the fields as the installer will, signs them and writes "
            "the manifest (through a temporary file, read back and verified before it takes "
            "its name).\n") +
        kKeyOptions;
    static const std::string siteHelp =
        std::string(
            "usage: korvane-release site PACKAGE.zip --version X.Y.Z --url https://HOST/downloads/NAME.zip --key "
            "PRIVATE_KEY.pem --output SITE_FOLDER [--allow-downgrade]\n"
            "Signs like sign, then lays the release out in the site's root folder: the package at its URL's path, "
            "then the manifest at downloads/launcher-release.json. A package already published at that path never "
            "changes; a version older than the published one is refused unless --allow-downgrade.\n") +
        kKeyOptions;
    static const std::map<std::string, Command> table = {
        {"keygen",
         {"usage: korvane-release keygen PRIVATE_KEY.pem [--passphrase-file FILE]\n"
          "Writes a new P-256 private key (PEM, mode 0600, never over an existing file; encrypted with AES-256\n"
          "when --passphrase-file is given), writes its public key as 128 hex characters to PRIVATE_KEY.pub\n"
          "(the .pem replaced) and prints it: build with -DKORVANE_RELEASE_PUBLIC_KEY=<that line>.\n",
          {{"passphrase-file"}, {}},
          keygen}},
        {"pubkey",
         {"usage: korvane-release pubkey PRIVATE_KEY.pem [--passphrase-file FILE]\n"
          "Prints the public key of the private key as 128 hex characters.\n",
          {{"passphrase-file"}, {}},
          pubkey}},
        {"pack",
         {"usage: korvane-release pack LAUNCHER_FOLDER --output PACKAGE.zip\n"
          "Packs the folder holding KORLAUNCHER.exe, launcher.json, assets/ and shaders/ as a package the\n"
          "installer takes: every file as KORLAUNCHER/<name>, sorted, with fixed times and attributes (the same\n"
          "folder gives the same bytes). Names, limits and the six required files are checked before anything is\n"
          "written, the archive is checked again as the installer will, and a refusal leaves nothing behind.\n",
          {{"output"}, {}},
          pack}},
        {"check",
         {"usage: korvane-release check PACKAGE.zip\n"
          "Applies the installer's verdict and lists every problem, each with the entry, the rule it breaks and\n"
          "the message players would see (exit 1), or prints ok. The rules:\n"
          "  - every entry lies under the top folder KORLAUNCHER/ (exact case); entries stored or deflated,\n"
          "    not encrypted, no symbolic links; 1 to 2048 entries;\n"
          "  - files only at KORLAUNCHER/KORLAUNCHER.exe, KORLAUNCHER/launcher.json and below\n"
          "    KORLAUNCHER/assets/ and KORLAUNCHER/shaders/; names of A-Z a-z 0-9 _ . - and /, no element\n"
          "    ending with '.', no Windows device names, no name twice (letter case aside);\n"
          "  - required: KORLAUNCHER.exe, launcher.json, shaders/ui.vert.spv, shaders/ui.frag.spv,\n"
          "    assets/fonts/regular.json, assets/fonts/regular.png;\n"
          "  - a file at most 256 MiB, all files at most 512 MiB; the archive one plain ZIP.\n",
          {{}, {}},
          check}},
        {"sign",
         {signHelp.c_str(), {{"version", "url", "key", "passphrase-file", "setup", "public-key", "output"}, {}}, sign}},
        {"site",
         {siteHelp.c_str(),
          {{"version", "url", "key", "passphrase-file", "setup", "public-key", "output"}, {"allow-downgrade"}},
          site}},
        {"verify",
         {"usage: korvane-release verify MANIFEST.json (--public-key KEY | --setup Korvane-Setup.exe) [--package "
          "PACKAGE.zip]\n"
          "Checks the manifest as the installer will (its bytes as one JSON text, the fields, the signature under\n"
          "the key), and with --package the package's size and SHA-256. KEY is 128 hex characters (either case),\n"
          "the .pub file keygen wrote, or a PEM public key; --setup takes the key built into that installer.\n",
          {{"public-key", "setup", "package"}, {}},
          verify}},
        {"inspect",
         {"usage: korvane-release inspect Korvane-Setup.exe\n"
          "Prints the release public key and the release host built into the installer (its KORVANE_RELEASE\n"
          "resource): the key its players' installers verify manifests with, and where they fetch them.\n",
          {{}, {}},
          inspect}},
        {"probe",
         {"usage: korvane-release probe --setup Korvane-Setup.exe [--site-root https://HOST[:PORT]] [--ca-file "
          "CA.pem]\n"
          "Checks the live release site as this installer will: HTTPS with the system's trust store (or\n"
          "--ca-file), the manifest at /downloads/launcher-release.json (status, type, caching), its fields and\n"
          "signature under the key built into the installer, then the package it names (status, size, SHA-256,\n"
          "no compression, caching, byte ranges). Prints each check with pass or FAIL and what to do; exit 1 when\n"
          "one fails. --site-root replaces https://<the release host built in> (a staging server, say).\n",
          {{"setup", "site-root", "ca-file"}, {}, false},
          probe}},
    };
    return table;
}

tools::PrivateKeySource key_source(const Arguments& arguments) {
    return {arguments.required("key"), arguments.optional("passphrase-file")};
}

// The public key a release must verify under, when the command line names one.
struct ExpectedKey {
    std::string hex;
    std::string source;  // for messages
};

ExpectedKey expected_key(const Arguments& arguments, bool required) {
    const std::string setup = arguments.optional("setup");
    const std::string publicKey = arguments.optional("public-key");
    if (!setup.empty() && !publicKey.empty()) throw UsageError("give --setup or --public-key, not both");
    if (!setup.empty()) return {tools::read_setup_binding(setup).publicKey, "the key built into " + setup};
    if (!publicKey.empty()) return {tools::read_public_key_argument(publicKey), "the public key " + publicKey};
    if (required) throw UsageError("missing --public-key or --setup");
    return {};
}

std::string fingerprint_of(const std::string& hex) {
    return "fingerprint " + tools::key_fingerprint(hex);
}

fs::path public_key_file_of(const fs::path& privateKey) {
    fs::path file = privateKey;
    return privateKey.extension() == ".pem" ? file.replace_extension(".pub") : fs::path(privateKey.string() + ".pub");
}

int keygen(const Arguments& arguments) {
    const fs::path privateKey = arguments.positional;
    const fs::path publicFile = public_key_file_of(privateKey);
    if (fs::exists(fs::symlink_status(publicFile))) {
        throw std::runtime_error("cannot create " + publicFile.string() +
                                 " (it must not exist yet); nothing was written");
    }
    const std::string publicKey = tools::generate_release_key(privateKey, arguments.optional("passphrase-file"));
    try {
        tools::write_file_atomically(publicFile, publicKey + "\n");
    } catch (...) {
        fs::remove(privateKey);
        throw;
    }
    std::cout << publicKey << "\n";
    std::cerr << "private key written to " << privateKey.string() << ", public key to " << publicFile.string() << " ("
              << fingerprint_of(publicKey) << "); build with -DKORVANE_RELEASE_PUBLIC_KEY=<the line above>\n";
    return 0;
}

int pubkey(const Arguments& arguments) {
    const std::string publicKey =
        tools::SigningKey({arguments.positional, arguments.optional("passphrase-file")}).public_hex();
    std::cout << publicKey << "\n";
    std::cerr << fingerprint_of(publicKey) << "\n";
    return 0;
}

int pack(const Arguments& arguments) {
    const fs::path output = arguments.required("output");
    const tools::PackSummary summary = tools::pack_launcher_folder(arguments.positional, output);
    std::cerr << "packed " << summary.files << " files from " << arguments.positional << " into " << output.string()
              << " (" << summary.bytes << " bytes)\n";
    return 0;
}

// The manifest for a package, refused where the installer would refuse it, read back before use.
nlohmann::json signed_manifest(const Arguments& arguments, const tools::SigningKey& key) {
    const std::string version = arguments.required("version");
    const std::string url = arguments.required("url");
    const fs::path package = arguments.positional;

    try {
        release::parse_release_version(version);
    } catch (const std::runtime_error& refusal) {
        throw std::runtime_error("--version " + version +
                                 ": a version is X.Y.Z, each number 0 to 9999 (players see \"" + refusal.what() +
                                 "\")");
    }
    if (!release::is_allowed_release_url(url)) {
        throw std::runtime_error(
            "the URL must begin with https://, hold no line break and be at most 2048 bytes (players see "
            "\"Некорректные данные обновления\")");
    }
    tools::require_regular_file(package, "package");
    const std::uint64_t size = fs::file_size(package);
    if (!release::is_allowed_release_size(size)) {
        throw std::runtime_error("the package is " + std::to_string(size) + " bytes; the installer takes " +
                                 std::to_string(release::kMinimumReleaseSize) + " to " +
                                 std::to_string(release::kMaximumReleaseSize) +
                                 " (players see \"Некорректные данные обновления\")");
    }
    const tools::PackageReport report = tools::check_package(package);
    if (!report.problems.empty()) {
        throw std::runtime_error("the installer would refuse this package: " + report.problems.front() +
                                 (report.problems.size() > 1 ? "; and " + std::to_string(report.problems.size() - 1) +
                                                                   " more (run check for the full list)"
                                                             : std::string()));
    }

    const std::string sha256 = tools::sha256_file_hex(package);
    const std::string text = release::release_signed_text(version, size, sha256, url);
    const std::vector<unsigned char> signature = key.sign(text);
    const std::string signatureHex = crypto::hex_from_bytes(signature.data(), signature.size());
    nlohmann::json manifest = {
        {"version", version}, {"url", url}, {"size", size}, {"sha256", sha256}, {"signature", signatureHex},
    };
    // Read the result back the way the installer will before anything is written.
    const release::CheckedManifest checked = release::check_release_manifest_fields(manifest);
    if (!tools::verify_release_text(key.public_hex(), checked.signedText, checked.signature)) {
        throw std::runtime_error("the new signature does not verify");
    }
    return manifest;
}

// The signing key, refused before anything is written when it is not the one players' installers hold.
std::string checked_signing_key(const Arguments& arguments, const tools::SigningKey& key) {
    const ExpectedKey expected = expected_key(arguments, false);
    const std::string own = key.public_hex();
    if (!expected.hex.empty() && expected.hex != own) {
        throw std::runtime_error("the signing key " + arguments.required("key") + " (" + fingerprint_of(own) +
                                 ") is not " + expected.source + " (" + fingerprint_of(expected.hex) +
                                 "); players would see \"Подпись обновления недействительна. Установка отменена\"; "
                                 "nothing was written");
    }
    return expected.hex.empty() ? own : expected.hex;
}

// Reads a written manifest back as the installer will, before it takes its name.
std::function<void(const fs::path&)> manifest_read_back(const std::string& publicKey, const fs::path& package) {
    return [publicKey, package](const fs::path& written) {
        const release::CheckedManifest checked = tools::read_manifest_file(written);
        tools::require_valid_signature(checked, publicKey, "the release key");
        tools::require_matching_package(checked, package);
    };
}

int sign(const Arguments& arguments) {
    const fs::path output = arguments.required("output");
    const tools::SigningKey key(key_source(arguments));
    const std::string publicKey = checked_signing_key(arguments, key);
    const nlohmann::json manifest = signed_manifest(arguments, key);
    tools::write_file_atomically(output, manifest.dump(2) + "\n", manifest_read_back(publicKey, arguments.positional));
    std::cerr << "signed " << arguments.positional << " (" << manifest["size"] << " bytes, version "
              << manifest["version"].get<std::string>() << ") into " << output.string() << "\n";
    return 0;
}

// Publishing an older version over a newer one is what a mistyped --version looks like.
void refuse_downgrade(const fs::path& folder, const std::string& version, bool allowed) {
    const fs::path published = folder / tools::kManifestSitePath;
    if (allowed || !fs::exists(fs::symlink_status(published))) return;
    release::ReleaseVersion current;
    try {
        current = release::parse_release_version(tools::read_manifest_file(published).version);
    } catch (const std::runtime_error& error) {
        throw std::runtime_error("the published manifest cannot be read (" + std::string(error.what()) +
                                 "); move it away, or give --allow-downgrade to replace it");
    }
    const release::ReleaseVersion next = release::parse_release_version(version);
    if (tools::is_older_version(next, current)) {
        const std::string currentText =
            std::to_string(current.major) + "." + std::to_string(current.minor) + "." + std::to_string(current.patch);
        throw std::runtime_error("version " + version + " is older than " + currentText + ", already published in " +
                                 published.string() + "; give --allow-downgrade to publish it anyway");
    }
}

int site(const Arguments& arguments) {
    const fs::path folder = arguments.required("output");
    tools::site_path_of_url(arguments.required("url"));
    const tools::SigningKey key(key_source(arguments));
    const std::string publicKey = checked_signing_key(arguments, key);
    const nlohmann::json manifest = signed_manifest(arguments, key);
    refuse_downgrade(folder, manifest["version"].get<std::string>(), arguments.has("allow-downgrade"));
    tools::lay_out_release_site(arguments.positional, manifest, folder,
                                manifest_read_back(publicKey, arguments.positional));
    std::cerr << "laid out version " << manifest["version"].get<std::string>() << " in " << folder.string() << ": "
              << (folder / tools::site_path_of_url(manifest["url"])).string() << ", "
              << (folder / tools::kManifestSitePath).string() << "\n";
    return 0;
}

int check(const Arguments& arguments) {
    const tools::PackageReport report = tools::check_package(arguments.positional);
    for (const std::string& problem : report.problems) {
        std::cout << problem << "\n";
    }
    if (!report.problems.empty()) {
        std::cerr << report.problems.size() << " problem(s); the installer would refuse this package\n";
        if (!report.hint.empty()) std::cerr << report.hint << "\n";
        return 1;
    }
    std::cout << "ok: " << report.entries << " entries, " << report.files << " files\n";
    return 0;
}

int verify(const Arguments& arguments) {
    const ExpectedKey key = expected_key(arguments, true);
    const release::CheckedManifest checked = tools::read_manifest_file(arguments.positional);
    tools::require_valid_signature(checked, key.hex, key.source);
    if (const std::string package = arguments.optional("package"); !package.empty()) {
        tools::require_matching_package(checked, package);
    }
    std::cout << "ok: version " << checked.version << ", " << checked.size << " bytes, " << checked.url << "\n";
    return 0;
}

int inspect(const Arguments& arguments) {
    const tools::SetupBinding binding = tools::read_setup_binding(arguments.positional);
    std::cout << "release public key: " << binding.publicKey << "\n"
              << "fingerprint: " << tools::key_fingerprint(binding.publicKey) << "\n"
              << "release host: " << binding.host << "\n"
              << "manifest: https://" << binding.host << "/" << tools::kManifestSitePath << "\n";
    return 0;
}

int probe(const Arguments& arguments) {
    return tools::probe_release_site(
               {arguments.required("setup"), arguments.optional("site-root"), arguments.optional("ca-file")}, std::cout)
               ? 0
               : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string first = argc >= 2 ? argv[1] : "";
    if (first == "--help" || first == "-h" || first == "help") {
        if (argc >= 3 && commands().count(argv[2]) != 0) {
            std::cout << commands().at(argv[2]).help;
        } else {
            std::cout << kOverview;
        }
        return 0;
    }
    if (first == "--version") {
        std::cout << "korvane-release " << KORVANE_VERSION << " (" << OpenSSL_version(OPENSSL_VERSION) << ")\n";
        return 0;
    }
    const auto command = commands().find(first);
    if (command == commands().end()) {
        if (!first.empty()) std::cerr << "korvane-release: unknown command " << first << "\n";
        std::cerr << kOverview;
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    try {
        return command->second.run(tools::parse_arguments(command->second.syntax, argc, argv, 2));
    } catch (const tools::HelpRequested&) {
        std::cout << command->second.help;
        return 0;
    } catch (const UsageError& error) {
        std::cerr << "korvane-release " << first << ": " << error.what() << "\n" << command->second.help;
        return 2;
    } catch (const tools::Refusal& refusal) {
        std::cerr << "korvane-release: " << refusal.what() << ":\n";
        for (const std::string& line : refusal.lines)
            std::cerr << "  " << line << "\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "korvane-release: " << error.what() << "\n";
        return 1;
    }
}
