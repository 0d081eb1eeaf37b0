#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "common/unique_handle.h"

namespace install {

// What the installer leaves on disk while it works, and how it is taken away again. Only names this
// program makes are ever touched: staging folders (".korvane-install-" and 24 lowercase hex digits,
// beside and inside the install folder, with the download's part files in them) and the hidden
// shortcut temporaries (".Korvane-Launcher-" and 16 lowercase hex digits, ".lnk" or ".bak"). Links
// are never followed: Windows, and Wine even more so, would delete what a link points at.

bool is_staging_folder_name(std::wstring_view name);
bool is_shortcut_temporary_name(std::wstring_view name);

// Removes a folder this program made, with all it holds; read-only attributes of its own copies are
// cleared first. A link found inside is neither followed nor removed, so the folder then stays.
// True when the folder is gone (or was never there).
bool remove_own_folder(const std::filesystem::path& folder);

// Marks a staging folder whose "previous" folder holds the player's only copies of files an undo
// could not put back (the error message names it). False when the mark could not be written; the
// failure that named the folder is what the player must see, so nothing is thrown.
bool keep_staging_folder_for_player(const std::filesystem::path& staging) noexcept;

// Removes the staging folders that earlier, interrupted or failed runs left in `folder`, except
// ones another running installer still holds (see StagingFolderHold) and kept ones whose
// "previous" folder still holds a file: those are the player's until they remove the saved files.
// Returns what stayed.
std::vector<std::filesystem::path> remove_stale_staging_folders(const std::filesystem::path& folder);

// Removes the folders a failed run made on its way to the install folder (`made`, outermost
// first), innermost first, each only while it is empty and no link; the walk stops at the first
// that stays, as every folder above it then holds it.
void remove_made_folders_if_empty(const std::vector<std::filesystem::path>& made) noexcept;

// Removes the hidden shortcut temporaries that interrupted runs left in a shortcut folder. Returns
// what stayed.
std::vector<std::filesystem::path> remove_stale_shortcut_temporaries(const std::filesystem::path& folder);

// Marks a staging folder as in use for as long as it lives, so that another installer's cleanup
// passes it over, and nothing can remove or rename the folder itself meanwhile (the handle does
// not share deletion). An open handle is the mark: it dies with the process, however that ends.
class StagingFolderHold {
public:
    explicit StagingFolderHold(const std::filesystem::path& folder);
    void release() noexcept { handle_.reset(); }

private:
    common::UniqueFileHandle handle_;
};

}  // namespace install
