#include "install/placement.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "common/install_state.h"
#include "common/launcher_names.h"
#include "common/long_path.h"
#include "common/support_log.h"
#include "crypto/random_hex.h"
#include "install/cancellation.h"
#include "install/cleanup.h"
#include "install/folder_rules.h"
#include "install/folder_walk.h"
#include "install/shortcuts.h"
#include "text/utf.h"

namespace install {

namespace fs = std::filesystem;

namespace {

constexpr char kCannotPrepareFiles[] = "Не удалось подготовить файлы установки";
constexpr char kPathTakenByFolder[] = "Путь файла занят папкой";
constexpr char kCannotReplace[] = "Не удалось заменить ";
constexpr char kCannotReplaceCode[] = " (Windows ";
constexpr char kCannotReplaceAdvice[] = "). Закройте лаунчер и повторите попытку.";
constexpr char kCannotRestore[] = "Не удалось восстановить файлы. Резервная копия сохранена: ";

// About five seconds in all: long enough for a launcher that is closing to let go of its files.
constexpr int kMoveAttempts = 50;
constexpr DWORD kMovePauseMs = 100;

// The errors a file still held open by another process produces; anything else will not go away
// by waiting.
bool is_held_open(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Copy with overwrite through the platform: MinGW's copy_file with overwrite_existing fails whenever
// the destination exists, which would make every restore of the rollback fail.
void copy_file_replacing(const fs::path& from, const fs::path& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        throw fs::filesystem_error("copy_file", from, to,
                                   std::error_code(static_cast<int>(GetLastError()), std::system_category()));
    }
}

// Every regular file of the package as a path relative to payload, in walk order, each checked for
// links on its way into the install folder.
std::vector<fs::path> list_package_files(const fs::path& payload, const fs::path& installDir) {
    std::vector<fs::path> files;
    for (WalkEntry& entry : walk_folder(common::extended_length_path(payload))) {
        if ((entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
            ensure_install_path_has_no_links(installDir / entry.relative);
            files.push_back(std::move(entry.relative));
        }
    }
    std::stable_sort(files.begin(), files.end(), launcher_last);
    return files;
}

// Folders between the install folder and a file's destination that do not exist yet, outermost
// first.
std::vector<fs::path> missing_folders_towards(const fs::path& installDir, const fs::path& destination) {
    std::vector<fs::path> missing;
    fs::path folder = destination.parent_path();
    while (folder != installDir && !fs::exists(folder)) {
        missing.push_back(folder);
        fs::path parent = folder.parent_path();
        if (parent == folder) {
            break;  // reached a root: the install folder itself has vanished
        }
        folder = std::move(parent);
    }
    std::reverse(missing.begin(), missing.end());
    return missing;
}

// The missing install folder becomes the package folder by one rename; if the shortcuts cannot be
// made, the folder goes back so that the install folder is missing again.
void place_into_new_folder(const fs::path& payload, const fs::path& installDir, const fs::path& desktopDir,
                           const fs::path& programsDir, std::atomic<bool>* cancel, std::atomic<int32_t>* state) {
    replace_path_with_retry(common::extended_length_path(payload), common::extended_length_path(installDir), cancel);
    common::support_log("place", "the package folder became the install folder in one move");
    try {
        throw_if_cancelled(cancel);
        state->exchange(common::Shortcuts);
        create_launcher_shortcuts(installDir, desktopDir, programsDir);
    } catch (const std::exception& error) {
        common::support_log("place", "failed after the move: ", error.what(), "; undo: moving the folder back");
        replace_path_with_retry(common::extended_length_path(installDir), common::extended_length_path(payload));
        common::support_log("place", "undo complete: the install folder is missing again, as before");
        throw;
    }
}

const char* target_text(InstallTarget target) {
    switch (target) {
    case InstallTarget::Missing:
        return "missing (a first install)";
    case InstallTarget::EmptyFolder:
        return "empty folder";
    case InstallTarget::Installation:
        return "an installed launcher (an update)";
    case InstallTarget::UnfinishedInstall:
        return "an interrupted first install of this package";
    }
    return "unknown";
}

// What the second phase changed, so that a failure can put it back.
struct PlacementRecord {
    std::vector<fs::path> backedUp;     // relative paths saved into the backup folder
    std::vector<fs::path> placed;       // relative paths moved into the install folder
    std::vector<fs::path> createdDirs;  // folders made inside the install folder, outer first

    bool was_backed_up(const fs::path& relative) const {
        return std::find(backedUp.begin(), backedUp.end(), relative) != backedUp.end();
    }
};

// Undoes the recorded changes in reverse order. Saved files are copied back, never moved, so the
// backup stays complete whatever happens here. Returns false when anything stayed unrestored.
bool roll_back(const PlacementRecord& record, const fs::path& installDir, const fs::path& staging,
               const fs::path& backup) {
    bool ok = true;
    size_t restored = 0;
    size_t removed = 0;
    for (auto it = record.placed.rbegin(); it != record.placed.rend(); ++it) {
        const fs::path& relative = *it;
        if (record.was_backed_up(relative)) {
            try {
                copy_file_replacing(backup / relative, staging / relative);
                replace_path_with_retry(staging / relative, installDir / relative);
                ++restored;
            } catch (const std::exception& error) {
                common::support_log("place", "undo: could not restore ", relative, ": ", error.what());
                ok = false;
            }
        } else {
            std::error_code error;
            fs::remove(installDir / relative, error);
            if (error) {
                common::support_log("place", "undo: could not remove the new file ", relative, ": ", error.message());
            } else {
                ++removed;
            }
            ok = ok && !error;
        }
    }
    remove_own_folder(staging);
    for (auto it = record.createdDirs.rbegin(); it != record.createdDirs.rend(); ++it) {
        std::error_code error;
        fs::remove(*it, error);
        if (error) {
            common::support_log("place", "undo: could not remove the folder ", common::plain_path(*it), ": ",
                                error.message());
        }
        ok = ok && !error;
    }
    common::support_log("place", ok ? "undo complete: " : "undo incomplete: ", restored, " saved files restored, ",
                        removed, " new files removed, ", record.createdDirs.size(), " new folders handled, of ",
                        record.placed.size(), " files placed");
    return ok;
}

std::string backup_location(const fs::path& backup) {
    return text::utf8_from_wide(common::plain_path(common::extended_length_path(backup)).native());
}

// Windows refuses to replace a read-only file. The old file is saved in the backup already, and
// its copy there keeps the attribute for an undo.
void make_replaceable(const fs::path& destination) {
    const DWORD attributes = GetFileAttributesW(destination.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(destination.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
}

// Every path below but `linkedDir` (the install folder as the shortcuts name it) is in its
// extended-length form: a package may nest files past MAX_PATH.
void place_staged(const fs::path& payload, const fs::path& installDir, const fs::path& linkedDir,
                  const fs::path& desktopDir, const fs::path& programsDir, const fs::path& backup,
                  const std::vector<fs::path>& fileList, std::atomic<float>* progress, std::atomic<bool>* cancel,
                  std::atomic<int32_t>* state) {
    fs::create_directory(backup);
    const fs::path staging = installDir / (common::kStagingPrefix + text::wide_from_utf8(crypto::random_hex(12)));
    if (!fs::create_directory(staging)) {
        throw std::runtime_error(kCannotPrepareFiles);
    }
    // Another installer working on the same folder passes a held staging folder over.
    StagingFolderHold hold(staging);

    PlacementRecord record;
    try {
        // First phase: nothing in the install folder changes outside the staging folder, so a
        // failure here costs only the copies.
        for (const fs::path& relative : fileList) {
            throw_if_cancelled(cancel);
            const fs::path destination = installDir / relative;
            const fs::file_status existing = fs::status(destination);
            if (fs::exists(existing)) {
                if (!fs::is_regular_file(existing)) {
                    throw std::runtime_error(kPathTakenByFolder);
                }
                fs::create_directories((backup / relative).parent_path());
                fs::copy_file(destination, backup / relative);
                record.backedUp.push_back(relative);
            }
            fs::create_directories((staging / relative).parent_path());
            fs::copy_file(payload / relative, staging / relative);
        }
        common::support_log("place", record.backedUp.size(), " existing files saved in the backup, ", fileList.size(),
                            " files staged");

        // Second phase: renames within one volume, each recorded as soon as it happened.
        for (const fs::path& relative : fileList) {
            throw_if_cancelled(cancel);
            const fs::path destination = installDir / relative;
            for (const fs::path& folder : missing_folders_towards(installDir, destination)) {
                fs::create_directory(folder);
                record.createdDirs.push_back(folder);
            }
            make_replaceable(destination);
            replace_path_with_retry(staging / relative, destination, cancel);
            record.placed.push_back(relative);
            progress->exchange(static_cast<float>(record.placed.size()) / static_cast<float>(fileList.size()));
        }

        common::support_log("place", record.placed.size(), " files moved into place, ", record.createdDirs.size(),
                            " folders created");
        throw_if_cancelled(cancel);
        state->exchange(common::Shortcuts);
        create_launcher_shortcuts(linkedDir, desktopDir, programsDir);
    } catch (...) {
        const std::exception_ptr failure = std::current_exception();
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            common::support_log("place", "failed: ", error.what(), "; undo of ", record.placed.size(), " moves");
        } catch (...) {
        }
        hold.release();
        if (!roll_back(record, installDir, staging, backup)) {
            throw PlacementNotRestored(kCannotRestore + backup_location(backup));
        }
        std::rethrow_exception(failure);
    }

    // The new files are in place: staging folders of this run and of interrupted earlier ones go.
    hold.release();
    remove_own_folder(staging);
    remove_stale_staging_folders(installDir);
}

}  // namespace

bool launcher_last(const fs::path& a, const fs::path& b) {
    const fs::path launcher(common::kLauncherExecutable);
    return a != launcher && b == launcher;
}

void replace_path_with_retry(const fs::path& from, const fs::path& to, const std::atomic<bool>* cancel) {
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 1;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            if (attempt > 1) {
                common::support_log("place", to.filename(), " let go: moved at attempt ", attempt, " of ",
                                    kMoveAttempts);
            }
            return;
        }
        error = GetLastError();
        if (attempt == kMoveAttempts || !is_held_open(error)) {
            common::support_log("place", "cannot move ", common::plain_path(from), " to ", common::plain_path(to),
                                ": Windows ", error, " at attempt ", attempt, " of ", kMoveAttempts);
            break;
        }
        if (attempt == 1) {
            common::support_log("place", to.filename(), " is held by another program (Windows ", error,
                                "): retrying every ", kMovePauseMs, " ms, up to ", kMoveAttempts, " attempts");
        }
        // The player may give up on a launcher that will not close: a cancel ends the wait.
        throw_if_cancelled(cancel);
        Sleep(kMovePauseMs);
    }
    throw std::runtime_error(kCannotReplace + text::utf8_from_wide(to.filename().native()) + kCannotReplaceCode +
                             std::to_string(error) + kCannotReplaceAdvice);
}

void place_package_files(const fs::path& payload, const fs::path& installDir, const fs::path& desktopDir,
                         const fs::path& programsDir, const fs::path& backup, std::atomic<float>* progress,
                         std::atomic<bool>* cancel, std::atomic<int32_t>* state) {
    ensure_install_path_has_no_links(installDir);
    throw_if_cancelled(cancel);
    const std::vector<fs::path> fileList = list_package_files(payload, installDir);
    InstallTarget target{};
    try {
        target = classify_install_target(installDir, fileList);
    } catch (const std::exception& error) {
        common::support_log("folder", "verdict: refused: ", error.what());
        throw;
    }
    common::support_log("folder", "verdict: ", target_text(target), "; the package has ", fileList.size(), " files");
    if (target == InstallTarget::Missing) {
        place_into_new_folder(payload, installDir, desktopDir, programsDir, cancel, state);
        return;
    }
    place_staged(common::extended_length_path(payload), common::extended_length_path(installDir), installDir,
                 desktopDir, programsDir, common::extended_length_path(backup), fileList, progress, cancel, state);
}

}  // namespace install
