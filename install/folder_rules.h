#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace install {

// Which folder the launcher may be installed into, and whether a folder already holds it.

// Lexical normal form of the chosen folder (nothing on disk is consulted; the result is not made
// absolute). Throws "Выберите папку для лаунчера" when it names no folder of its own: a bare root,
// a drive name alone, an empty path or a trailing separator.
std::filesystem::path normalize_install_folder(const std::filesystem::path& folder);

// Throws "Папка установки содержит ссылку. Выберите другую папку." when the path, or any existing
// folder on the way to it, is a reparse point (junction, symbolic link, mount point). Prefixes that
// do not exist are passed over.
void ensure_install_path_has_no_links(const std::filesystem::path& path);

// The prefixes that check looks at, in order: for C:\Users\me that is C:\, C:\Users, C:\Users\me.
std::vector<std::wstring> install_path_prefixes(const std::filesystem::path& path);

// True when the folder holds an installed launcher, recognised by its marker files.
// Throws the filesystem error "status" when a query fails for a reason other than not-found.
bool is_existing_installation(const std::filesystem::path& folder);

enum class InstallTarget {
    Missing,            // nothing there yet: the package folder is moved into place whole
    EmptyFolder,        // staged placement into an empty folder
    Installation,       // staged placement over an installed launcher (an update)
    UnfinishedInstall,  // staged placement over an interrupted first install of this package
};

// The rule the placement applies before it touches anything. Staging folders that interrupted runs
// left inside do not count as the folder's content. A folder that holds such a staging folder and
// otherwise only files of `packageFiles` (relative paths) and the folders leading to them is a first
// install that was cut short while its files moved into place; it may be installed over.
// Throws "В выбранной папке находятся другие файлы. Выберите пустую папку." for a file or a folder
// with other content and no installation, and the filesystem errors of "exists", "status" and
// "is_empty".
InstallTarget classify_install_target(const std::filesystem::path& folder,
                                      const std::vector<std::filesystem::path>& packageFiles = {});

}  // namespace install
