#include "install/install_worker.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "common/com_apartment.h"
#include "common/install_state.h"
#include "common/launcher_names.h"
#include "common/long_path.h"
#include "common/support_log.h"
#include "crypto/random_hex.h"
#include "install/cancellation.h"
#include "install/cleanup.h"
#include "install/folder_rules.h"
#include "install/placement.h"
#include "net/api_request.h"
#include "net/download.h"
#include "release/manifest.h"
#include "release/package.h"
#include "release/release_site.h"
#include "text/utf.h"

namespace install {

namespace fs = std::filesystem;

namespace {

constexpr char kCannotPrepare[] = "Не удалось подготовить установку";
constexpr char kManifestUnavailable[] =
    "Не удалось получить файлы лаунчера. Проверьте подключение и повторите попытку.";
constexpr char kCannotCreateStaging[] = "Не удалось создать папку установки";
// The download's own text for a refused file speaks of mods; this installer fetches its package.
constexpr char kPackageRefused[] = "Официальный сервер не отдал файл установки";

// The manifest is a few hundred bytes: every attempt together gets this long, so a server that
// trickles it or never finishes it cannot hold the installer.
constexpr uint64_t kManifestTimeLimit = 30000;

constexpr size_t kStagingSuffixBytes = 12;

std::string release_manifest_url() {
    return std::string("https://") + release::release_site_host() + "/downloads/launcher-release.json";
}

// The manifest as received, for the archive check's second look, and the values its signature
// covers, for every other step.
struct FetchedManifest {
    nlohmann::json json;
    release::VerifiedRelease release;
};

FetchedManifest fetch_verified_manifest(const std::atomic<bool>* cancel) {
    common::support_log("manifest", "GET ", release_manifest_url());
    kr::HttpResponse response;
    try {
        response = kr::api_request(release_manifest_url(), "GET", "", "",
                                   kr::ApiCallLimits{cancel, kManifestTimeLimit, release::kMaximumManifestBytes});
    } catch (const std::exception& error) {
        common::support_log("manifest", "no answer to use: ", error.what());
        // A request given up at a cancel fails with WinHTTP's "cancelled": say what happened.
        throw_if_cancelled(cancel);
        throw;
    }
    throw_if_cancelled(cancel);
    if (response.status != 200) {
        common::support_log("manifest", "refused: HTTP ", response.status, " is not 200");
        throw std::runtime_error(kManifestUnavailable);
    }
    // A body that is not exactly one JSON text becomes the discarded value, which the verification refuses.
    nlohmann::json manifest = release::parse_release_manifest(response.body);
    try {
        release::VerifiedRelease release = release::verify_release_manifest(manifest);
        common::support_log("manifest", "verified: version ", release.version, ", size ", release.size, ", SHA-256 ",
                            release.sha256, ", package ", release.url);
        return {std::move(manifest), std::move(release)};
    } catch (const std::exception& error) {
        common::support_log("manifest", "refused (", response.body.size(), " bytes received): ", error.what());
        throw;
    }
}

// Creates the folder and whatever is missing above it, one folder at a time so that exactly the
// ones this run made are known (outermost first): a failed run takes them away again. A failure
// throws the error create_directories would, after removing what was made.
std::vector<fs::path> create_missing_folders(const fs::path& folder) {
    std::vector<fs::path> missing;
    std::error_code error;
    for (fs::path at = folder; !fs::exists(at, error) && !error; at = at.parent_path()) {
        missing.push_back(at);
        if (at.parent_path() == at) break;
    }
    std::reverse(missing.begin(), missing.end());
    std::vector<fs::path> made;
    for (const fs::path& at : missing) {
        if (fs::create_directory(at, error)) {
            made.push_back(at);
        } else if (error) {
            remove_made_folders_if_empty(made);
            throw fs::filesystem_error("create_directories", folder, error);
        }
    }
    return made;
}

// Beside the install folder, so that every later move stays on one volume and is a rename.
fs::path create_staging_folder(const fs::path& parent) {
    std::error_code error;
    const fs::path staging =
        parent / (common::kStagingPrefix + text::wide_from_utf8(crypto::random_hex(kStagingSuffixBytes)));
    if (staging.parent_path() != parent) {
        throw std::runtime_error(kCannotCreateStaging);
    }
    const bool created = fs::create_directory(staging, error);
    if (error) {
        throw fs::filesystem_error("create_directory", staging, error);
    }
    if (!created) {
        throw std::runtime_error(kCannotCreateStaging);
    }
    return staging;
}

// Everything done in the staging folder beside the install folder: download, check, extraction
// and placement. The staging folder goes on every path, except when it holds saved files the
// player was sent to.
std::string install_through_staging(const FetchedManifest& manifest, const fs::path& target, const fs::path& desktopDir,
                                    const fs::path& programsDir, std::atomic<float>* progress,
                                    std::atomic<bool>* cancel, std::atomic<uint64_t>* done,
                                    std::atomic<int32_t>* state) {
    const release::VerifiedRelease& release = manifest.release;
    const fs::path parent = target.parent_path();
    const fs::path staging = create_staging_folder(parent);
    common::support_log("install", "staging folder ", staging);
    // Held open while in use, so that another installer's cleanup passes it over.
    StagingFolderHold hold(staging);
    // Extended-length, like every path below the staging folder: the extraction and the placement
    // make theirs so, the download's part file is named after this one.
    const fs::path archive = common::extended_length_path(staging / L"launcher.zip");
    const fs::path payload = staging / L"payload";
    const fs::path previous = staging / L"previous";
    bool keepStaging = false;
    try {
        state->exchange(common::Downloading);
        try {
            kr::download_file(release.url, archive, release.size, release.sha256, progress, cancel, done, "", false);
        } catch (const kr::DownloadRefused&) {
            common::support_log("download", "the package was refused by its server: ", kPackageRefused);
            throw std::runtime_error(kPackageRefused);
        }
        throw_if_cancelled(cancel);
        state->exchange(common::Verifying);
        try {
            release::verify_downloaded_archive(manifest.json, archive, cancel);
        } catch (const std::exception& error) {
            common::support_log("package", "the downloaded file does not match the manifest: ", error.what());
            throw;
        }
        release::extract_update_package(archive, payload, cancel);
        throw_if_cancelled(cancel);
        state->exchange(common::Installing);
        progress->exchange(0.0f);
        try {
            place_package_files(payload, target, desktopDir, programsDir, previous, progress, cancel, state);
        } catch (const PlacementNotRestored&) {
            // The message sends the player to the saved files: they stay, and later runs pass the
            // folder over until the player has taken them away. An undo that restored everything
            // needs them no more than a success does.
            keepStaging = true;
            keep_staging_folder_for_player(staging);
            common::support_log("cleanup", "kept ", staging, ": it holds the player's saved files");
            throw;
        }
    } catch (...) {
        if (!keepStaging) {
            hold.release();
            remove_own_folder(staging);
        }
        throw;
    }
    hold.release();
    remove_own_folder(staging);
    remove_stale_staging_folders(parent);
    return release.version;
}

}  // namespace

std::string install_launcher(fs::path installDir, fs::path desktopDir, fs::path programsDir,
                             std::atomic<float>* progress, std::atomic<bool>* cancel, std::atomic<uint64_t>* done,
                             std::atomic<uint64_t>* total, std::atomic<int32_t>* state) {
    // The shell-link objects of the shortcuts live in this apartment; it ends with the worker.
    const common::ComApartment apartment;
    if (!apartment.succeeded()) {
        throw std::runtime_error(kCannotPrepare);
    }

    const fs::path target = normalize_install_folder(installDir);
    if (target != installDir) {
        common::support_log("folder", "normalised to ", target);
    }
    try {
        ensure_install_path_has_no_links(target);
    } catch (const std::exception& error) {
        common::support_log("folder", "verdict: refused: ", error.what());
        throw;
    }
    throw_if_cancelled(cancel);
    state->exchange(common::Preparing);

    const FetchedManifest manifest = fetch_verified_manifest(cancel);
    total->exchange(manifest.release.size);
    throw_if_cancelled(cancel);

    // A first install may need the folders above the install folder; a failed one leaves none.
    const std::vector<fs::path> madeOnTheWay = create_missing_folders(target.parent_path());
    for (const fs::path& made : madeOnTheWay) {
        common::support_log("install", "created the missing folder ", made);
    }
    try {
        return install_through_staging(manifest, target, desktopDir, programsDir, progress, cancel, done, state);
    } catch (...) {
        remove_made_folders_if_empty(madeOnTheWay);
        throw;
    }
}

}  // namespace install
