#include "install/folder_rules.h"

#include <windows.h>

#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/launcher_names.h"
#include "common/long_path.h"
#include "install/cleanup.h"
#include "install/folder_walk.h"

namespace install {

namespace fs = std::filesystem;

namespace {

constexpr char kChooseFolder[] = "Выберите папку для лаунчера";
constexpr char kPathHasLink[] = "Папка установки содержит ссылку. Выберите другую папку.";
constexpr char kFolderNotEmpty[] = "В выбранной папке находятся другие файлы. Выберите пустую папку.";

// Windows errors that mean "this path does not exist" rather than "it could not be examined".
bool is_not_found(const std::error_code& error) {
    // The C runtime underneath the standard library reports these as errno values.
    if (error.category() == std::generic_category()) {
        return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory ||
               error == std::errc::invalid_argument;
    }
    switch (error.value()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
        return true;
    default:
        return false;
    }
}

// Status following links, with not-found folded into "does not exist".
fs::file_status status_of(const fs::path& path) {
    std::error_code error;
    fs::file_status result = fs::status(path, error);
    if (error && !is_not_found(error)) {
        throw fs::filesystem_error("status", path, error);
    }
    return result;
}

bool is_regular_file_at(const fs::path& path) {
    return fs::is_regular_file(status_of(path));
}
bool is_folder_at(const fs::path& path) {
    return fs::is_directory(status_of(path));
}

bool is_link(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
bool is_folder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A staging folder that an earlier run of this program left inside the install folder.
bool is_leftover_staging(std::wstring_view name, DWORD attributes) {
    return is_staging_folder_name(name) && is_folder(attributes) && !is_link(attributes);
}

// True when the folder holds nothing but leftover staging folders.
bool holds_only_leftovers(const fs::path& folder) {
    bool only = true;
    const bool listed = list_folder(
        common::extended_length_path(folder),
        [&](std::wstring_view name, DWORD attributes) { only = only && is_leftover_staging(name, attributes); });
    return listed && only;
}

// An interrupted first install: its staging folder is still there, and everything else is a file
// the package is about to overwrite (saved first, like any file it replaces) or a folder on the
// way to one. Anything else, a link included, means the folder is not only ours.
bool is_unfinished_install(const fs::path& folder, const std::vector<fs::path>& packageFiles) {
    std::set<std::wstring> files;
    std::set<std::wstring> folders;
    for (const fs::path& file : packageFiles) {
        files.insert(file.generic_wstring());
        for (fs::path parent = file.parent_path(); !parent.empty(); parent = parent.parent_path()) {
            folders.insert(parent.generic_wstring());
        }
    }
    std::set<std::wstring> leftovers;
    for (const WalkEntry& entry : walk_folder(common::extended_length_path(folder))) {
        const std::wstring relative = entry.relative.generic_wstring();
        const std::wstring top = relative.substr(0, relative.find(L'/'));
        if (top == relative && is_leftover_staging(relative, entry.attributes)) {
            leftovers.insert(top);
            continue;
        }
        if (leftovers.count(top) != 0) continue;  // what the interrupted run had staged
        if (is_link(entry.attributes)) return false;
        const bool known = is_folder(entry.attributes) ? folders.count(relative) != 0 : files.count(relative) != 0;
        if (!known) return false;
    }
    return !leftovers.empty();
}

// The Windows path model, done here rather than by std::filesystem: MinGW's library does not know
// network root names, and would turn \\server\share\Korvane into \server\share\Korvane, a folder
// on the current drive.
struct PathParts {
    std::wstring rootName;       // "C:" or "\\server", as written
    bool rootDirectory = false;  // a separator right after the root name
    std::vector<std::wstring> elements;
    bool trailingSeparator = false;  // the last element is followed by a separator

    bool root_only() const { return elements.empty(); }

    std::wstring text() const {
        std::wstring result = rootName;
        if (rootDirectory) result += L'\\';
        for (size_t i = 0; i < elements.size(); ++i) {
            if (i > 0) result += L'\\';
            result += elements[i];
        }
        if (trailingSeparator && !elements.empty()) result += L'\\';
        return result;
    }
};

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool is_drive_name(std::wstring_view text) {
    return text.size() == 2 && text[1] == L':' &&
           ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z'));
}

// Separators become backslashes; runs of them count as one.
PathParts split_path(std::wstring_view path) {
    PathParts parts;
    size_t at = 0;
    if (path.size() >= 2 && is_drive_name(path.substr(0, 2))) {
        parts.rootName = std::wstring(path.substr(0, 2));
        at = 2;
    } else if (path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2])) {
        at = 2;
        while (at < path.size() && !is_separator(path[at]))
            ++at;
        parts.rootName = L"\\\\" + std::wstring(path.substr(2, at - 2));
    }
    if (at < path.size() && is_separator(path[at])) {
        parts.rootDirectory = true;
        while (at < path.size() && is_separator(path[at]))
            ++at;
    }
    while (at < path.size()) {
        size_t end = at;
        while (end < path.size() && !is_separator(path[end]))
            ++end;
        parts.elements.emplace_back(path.substr(at, end - at));
        parts.trailingSeparator = end < path.size();
        at = end;
        while (at < path.size() && is_separator(path[at]))
            ++at;
    }
    return parts;
}

// The standard lexical normal form: dot elements go; an element followed by a dot-dot goes with it;
// dot-dots right after a root directory go; a final dot-dot has no trailing separator.
PathParts normalized(PathParts parts) {
    std::vector<std::wstring> kept;
    for (std::wstring& element : parts.elements) {
        if (element == L".") {
            continue;
        }
        if (element == L".." && !kept.empty() && kept.back() != L"..") {
            kept.pop_back();
            continue;
        }
        if (element == L".." && kept.empty() && parts.rootDirectory) {
            continue;
        }
        kept.push_back(std::move(element));
    }
    // Removing the last element leaves the separator that followed the one before it.
    const bool lastRemoved = parts.elements.empty() || parts.elements.back() == L"." || parts.elements.back() == L"..";
    if (lastRemoved && !kept.empty() && kept.back() != L"..") {
        parts.trailingSeparator = true;
    }
    if (!kept.empty() && kept.back() == L"..") {
        parts.trailingSeparator = false;
    }
    const bool wasEmpty = parts.rootName.empty() && !parts.rootDirectory && parts.elements.empty();
    parts.elements = std::move(kept);
    if (!wasEmpty && parts.rootName.empty() && !parts.rootDirectory && parts.elements.empty()) {
        parts.elements.push_back(L".");  // a non-empty path that normalises to nothing
        parts.trailingSeparator = false;
    }
    return parts;
}

}  // namespace

fs::path normalize_install_folder(const fs::path& folder) {
    const PathParts parts = normalized(split_path(folder.native()));
    if (parts.root_only() || parts.trailingSeparator) {
        throw std::runtime_error(kChooseFolder);
    }
    return parts.text();
}

std::vector<std::wstring> install_path_prefixes(const fs::path& path) {
    const PathParts parts = split_path(path.native());
    // Built in the order they are queried. A bare "C:" would name that drive's current folder, so the
    // verdict would depend on where the installer was started: an absolute path begins at the root.
    std::vector<std::wstring> prefixes;
    if (!parts.rootName.empty() && !(parts.rootDirectory && is_drive_name(parts.rootName))) {
        prefixes.push_back(parts.rootName);
    }
    if (parts.rootDirectory) prefixes.push_back(parts.rootName + L"\\");
    std::wstring prefix = prefixes.empty() ? std::wstring() : prefixes.back();
    for (const std::wstring& element : parts.elements) {
        const bool joinDirectly = prefix.empty() || prefix.back() == L'\\' || is_drive_name(prefix);
        prefix += joinDirectly ? element : L"\\" + element;
        prefixes.push_back(prefix);
    }
    return prefixes;
}

void ensure_install_path_has_no_links(const fs::path& path) {
    for (const std::wstring& query : install_path_prefixes(path)) {
        // Past MAX_PATH a plain query fails and would pass the prefix over unseen.
        const fs::path asked = query.size() < MAX_PATH ? fs::path(query) : common::extended_length_path(query);
        const DWORD attributes = GetFileAttributesW(asked.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            throw std::runtime_error(kPathHasLink);
        }
    }
}

bool is_existing_installation(const fs::path& folder) {
    if (is_regular_file_at(folder / common::kLauncherExecutable)) {
        return true;
    }
    if (!is_folder_at(folder / L"assets" / L"korvanelauncher")) {
        return false;
    }
    if (is_regular_file_at(folder / L"launcher.json")) {
        return true;
    }
    return is_regular_file_at(folder / L"assets" / L"fonts" / L"regular.json") &&
           is_regular_file_at(folder / L"shaders" / L"ui.vert.spv");
}

InstallTarget classify_install_target(const fs::path& folder, const std::vector<fs::path>& packageFiles) {
    if (!fs::exists(folder)) {
        return InstallTarget::Missing;
    }
    if (!fs::is_directory(folder)) {
        throw std::runtime_error(kFolderNotEmpty);
    }
    if (fs::is_empty(folder) || holds_only_leftovers(folder)) {
        return InstallTarget::EmptyFolder;
    }
    if (is_existing_installation(folder)) {
        return InstallTarget::Installation;
    }
    if (!packageFiles.empty() && is_unfinished_install(folder, packageFiles)) {
        return InstallTarget::UnfinishedInstall;
    }
    throw std::runtime_error(kFolderNotEmpty);
}

}  // namespace install
