#include "install/install_worker.h"

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <system_error>

#include "common/com_apartment.h"
#include "install/cancellation.h"
#include "install/folder_rules.h"
#include "install/install_state.h"
#include "install/placement.h"
#include "net/api_request.h"
#include "net/download.h"
#include "release/manifest.h"
#include "release/package.h"
#include "release/random_hex.h"
#include "release/release_site.h"

namespace fs = std::filesystem;

namespace {

constexpr char kCannotPrepare[] = "Не удалось подготовить установку";
constexpr char kManifestUnavailable[] =
    "Не удалось получить файлы лаунчера. Проверьте подключение и повторите попытку.";
constexpr char kCannotCreateStaging[] = "Не удалось создать папку установки";

constexpr char kStagingPrefix[] = ".korvane-install-";
constexpr size_t kStagingSuffixBytes = 12;

std::string release_manifest_url() {
    return std::string("https://") + release_site_host() + "/downloads/launcher-release.json";
}

nlohmann::json fetch_verified_manifest() {
    const kr::HttpResponse response = kr::api_request(release_manifest_url(), "GET", "", "");
    if (response.status != 200) {
        throw std::runtime_error(kManifestUnavailable);
    }
    // A body that is not exactly one JSON text becomes the discarded value, which the verification refuses.
    nlohmann::json manifest = parse_release_manifest(response.body);
    verify_release_manifest(manifest);
    return manifest;
}

// Beside the install folder, so that every later move stays on one volume and is a rename.
fs::path create_staging_folder(const fs::path& parent) {
    std::error_code error;
    fs::create_directories(parent, error);
    if (error) {
        throw fs::filesystem_error("create_directories", parent, error);
    }
    const fs::path staging = parent / (kStagingPrefix + random_hex(kStagingSuffixBytes));
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

// Once the placement has saved an old file, the staging folder is the only copy of it.
bool holds_saved_files(const fs::path& previous) {
    std::error_code error;
    if (!fs::exists(previous, error)) {
        return false;
    }
    for (fs::recursive_directory_iterator it(previous, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string install_launcher(fs::path installDir, fs::path desktopDir, fs::path programsDir,
                             std::atomic<float>* progress, std::atomic<bool>* cancel,
                             std::atomic<uint64_t>* done, std::atomic<uint64_t>* total,
                             std::atomic<int32_t>* state) {
    // The shell-link objects of the shortcuts live in this apartment; it ends with the worker.
    const common::ComApartment apartment;
    if (!apartment.succeeded()) {
        throw std::runtime_error(kCannotPrepare);
    }

    const fs::path target = normalize_install_folder(installDir);
    ensure_install_path_has_no_links(target);
    throw_if_cancelled(cancel);
    state->exchange(Preparing);

    const nlohmann::json manifest = fetch_verified_manifest();
    total->exchange(manifest["size"].get<uint64_t>());
    throw_if_cancelled(cancel);

    const fs::path staging = create_staging_folder(target.parent_path());
    const fs::path archive = staging / L"launcher.zip";
    const fs::path payload = staging / L"payload";
    const fs::path previous = staging / L"previous";
    bool keepStaging = false;
    try {
        state->exchange(Downloading);
        kr::download_file(manifest["url"].get<std::string>(), archive, total->load(),
                          manifest["sha256"].get<std::string>(), progress, cancel, done, "", false);
        throw_if_cancelled(cancel);
        state->exchange(Verifying);
        verify_downloaded_archive(manifest, archive);
        extract_update_package(archive, payload);
        throw_if_cancelled(cancel);
        state->exchange(Installing);
        progress->exchange(0.0f);
        try {
            place_package_files(payload, target, desktopDir, programsDir, previous, progress, cancel, state);
        } catch (...) {
            keepStaging = holds_saved_files(previous);
            throw;
        }
    } catch (...) {
        if (!keepStaging) {
            std::error_code ignored;
            fs::remove_all(staging, ignored);
        }
        throw;
    }
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    return manifest["version"].get<std::string>();
}
