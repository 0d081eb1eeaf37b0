#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace install {

// Folder listings that work on extended-length paths of any depth. MinGW's directory iterators go
// through _wfindfirst with a MAX_PATH buffer: past 260 characters they fail, or list some other
// folder.

// Calls `visit`(name, attributes) for each entry of the folder but "." and "..", with the
// attributes of the entry itself (a link's own, never its target's). False when the folder could
// not be listed to its end.
bool list_folder(const std::filesystem::path& folder,
                 const std::function<void(std::wstring_view name, DWORD attributes)>& visit);

struct WalkEntry {
    std::filesystem::path relative;  // below the walked folder, joined with backslashes
    DWORD attributes;
};

// Every entry below the folder, depth first, each folder entered where the listing meets it (the
// standard walk's order). Links are listed but never entered. A folder that cannot be listed throws the
// filesystem error "recursive_directory_iterator::operator++".
std::vector<WalkEntry> walk_folder(const std::filesystem::path& folder);

}  // namespace install
