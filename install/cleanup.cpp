#include "install/cleanup.h"

#include <windows.h>

#include <string>

#include "common/launcher_names.h"
#include "common/long_path.h"
#include "common/support_log.h"
#include "install/folder_walk.h"

namespace install {

namespace fs = std::filesystem;

namespace {

constexpr std::wstring_view kStagingPrefix = common::kStagingPrefix;
constexpr std::wstring_view kShortcutPrefix = common::kShortcutTempPrefix;
constexpr size_t kStagingDigits = 24;
constexpr size_t kShortcutDigits = 16;

bool is_lowercase_hex(std::wstring_view text) {
    for (const wchar_t c : text) {
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
    }
    return true;
}

bool is_link(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
bool is_folder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool is_gone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A read-only file or folder cannot be deleted; the program's own copies may carry the attribute
// from the originals they were made from.
void make_writable(const fs::path& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
}

bool remove_file(const fs::path& path, DWORD attributes) {
    make_writable(path, attributes);
    return DeleteFileW(path.c_str()) || is_gone(GetLastError());
}

// `folder` is an extended-length path of a folder that is no link.
bool remove_folder_content(const fs::path& folder, DWORD attributes) {
    bool ok = true;
    const bool listed = list_folder(folder, [&](std::wstring_view name, DWORD entryAttributes) {
        const fs::path entry = folder / name;
        if (is_link(entryAttributes)) {
            ok = false;  // not ours: left where it is, and the folder with it
        } else if (is_folder(entryAttributes)) {
            ok = remove_folder_content(entry, entryAttributes) && ok;
        } else {
            ok = remove_file(entry, entryAttributes) && ok;
        }
    });
    if (!listed || !ok) return false;
    make_writable(folder, attributes);
    return RemoveDirectoryW(folder.c_str()) || is_gone(GetLastError());
}

// True when another process holds the folder open (StagingFolderHold); a folder that is gone or is
// a link counts as not held.
bool held_by_another_run(const fs::path& folder) {
    const common::UniqueFileHandle probe(CreateFileW(folder.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                     nullptr));
    return !probe && GetLastError() == ERROR_SHARING_VIOLATION;
}

// Written into a staging folder whose saved files the player was sent to; no run makes it otherwise.
constexpr wchar_t kKeptMarker[] = L"restore-incomplete";
constexpr wchar_t kSavedFiles[] = L"previous";

// A kept staging folder (extended-length path) whose saved files are still there. A folder that
// cannot be examined counts as holding some: the player's files are never guessed away.
bool holds_players_saved_files(const fs::path& staging) {
    const DWORD marker = GetFileAttributesW((staging / kKeptMarker).c_str());
    if (marker == INVALID_FILE_ATTRIBUTES || is_link(marker) || is_folder(marker)) {
        return false;
    }
    const fs::path saved = staging / kSavedFiles;
    const DWORD attributes = GetFileAttributesW(saved.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || is_link(attributes) || !is_folder(attributes)) {
        return attributes != INVALID_FILE_ATTRIBUTES || !is_gone(GetLastError());
    }
    try {
        for (const WalkEntry& entry : walk_folder(saved)) {
            if (!is_folder(entry.attributes)) return true;
        }
        return false;
    } catch (const fs::filesystem_error&) {
        return true;
    }
}

// Removes each entry of the folder whose name is one of ours; returns those `remove` left there.
template <typename Remove>
std::vector<fs::path> remove_named(const fs::path& folder, bool (*is_ours)(std::wstring_view), Remove remove) {
    const fs::path path = common::extended_length_path(folder);
    std::vector<fs::path> stayed;
    list_folder(path, [&](std::wstring_view name, DWORD attributes) {
        if (is_ours(name) && !remove(path / name, attributes)) stayed.push_back(common::plain_path(path / name));
    });
    return stayed;
}

}  // namespace

bool is_staging_folder_name(std::wstring_view name) {
    return name.size() == kStagingPrefix.size() + kStagingDigits && name.starts_with(kStagingPrefix) &&
           is_lowercase_hex(name.substr(kStagingPrefix.size()));
}

bool is_shortcut_temporary_name(std::wstring_view name) {
    constexpr size_t kExtension = 4;
    if (name.size() != kShortcutPrefix.size() + kShortcutDigits + kExtension || !name.starts_with(kShortcutPrefix)) {
        return false;
    }
    const std::wstring_view extension = name.substr(name.size() - kExtension);
    return is_lowercase_hex(name.substr(kShortcutPrefix.size(), kShortcutDigits)) &&
           (extension == L".lnk" || extension == L".bak");
}

bool remove_own_folder(const fs::path& folder) {
    const fs::path path = common::extended_length_path(folder);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return is_gone(GetLastError());
    }
    if (is_link(attributes) || !is_folder(attributes)) {
        return false;
    }
    return remove_folder_content(path, attributes);
}

std::vector<fs::path> remove_stale_staging_folders(const fs::path& folder) {
    return remove_named(folder, is_staging_folder_name, [](const fs::path& entry, DWORD attributes) {
        const char* kept = is_link(attributes)                ? "a link, never followed"
                           : !is_folder(attributes)           ? "not a folder"
                           : held_by_another_run(entry)       ? "in use by another run"
                           : holds_players_saved_files(entry) ? "it holds the player's saved files"
                                                              : nullptr;
        if (kept != nullptr) {
            common::support_log("cleanup", "kept ", common::plain_path(entry), ": ", kept);
            return false;
        }
        const bool removed = remove_folder_content(entry, attributes);
        common::support_log("cleanup", removed ? "removed the stale staging folder " : "could not remove all of ",
                            common::plain_path(entry));
        return removed;
    });
}

std::vector<fs::path> remove_stale_shortcut_temporaries(const fs::path& folder) {
    return remove_named(folder, is_shortcut_temporary_name, [](const fs::path& entry, DWORD attributes) {
        return !is_link(attributes) && !is_folder(attributes) && remove_file(entry, attributes);
    });
}

void remove_made_folders_if_empty(const std::vector<fs::path>& made) noexcept {
    try {
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            const fs::path path = common::extended_length_path(*it);
            const DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES && is_gone(GetLastError())) {
                continue;
            }
            // RemoveDirectoryW takes only an empty folder; a link put in its place is not ours.
            if (attributes == INVALID_FILE_ATTRIBUTES || is_link(attributes) || !is_folder(attributes) ||
                !RemoveDirectoryW(path.c_str())) {
                return;
            }
        }
    } catch (...) {
        // no memory for a path: the folders stay, empty
    }
}

bool keep_staging_folder_for_player(const fs::path& staging) noexcept {
    try {
        const fs::path marker = common::extended_length_path(staging) / kKeptMarker;
        const common::UniqueFileHandle file(
            CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
    } catch (...) {
        return false;  // no memory for the path
    }
}

StagingFolderHold::StagingFolderHold(const fs::path& folder)
    : handle_(CreateFileW(common::extended_length_path(folder).c_str(), FILE_LIST_DIRECTORY,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)) {}

}  // namespace install
