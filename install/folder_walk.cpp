#include "install/folder_walk.h"

#include <system_error>

#include "common/unique_handle.h"

namespace install {

namespace fs = std::filesystem;

namespace {

void walk_into(const fs::path& folder, const fs::path& relative, std::vector<WalkEntry>& entries) {
    const fs::path listed = relative.empty() ? folder : folder / relative;
    // Depth first, entering each folder where the listing meets it, as the standard walk does.
    const bool complete = list_folder(listed, [&](std::wstring_view name, DWORD attributes) {
        entries.push_back({relative / name, attributes});
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            walk_into(folder, relative / name, entries);
        }
    });
    if (!complete) {
        throw fs::filesystem_error("recursive_directory_iterator::operator++", listed,
                                   std::error_code(static_cast<int>(GetLastError()), std::system_category()));
    }
}

}  // namespace

bool list_folder(const fs::path& folder, const std::function<void(std::wstring_view, DWORD)>& visit) {
    WIN32_FIND_DATAW found{};
    const common::UniqueFindHandle find(
        FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!find) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;  // nothing at all, not even "." and ".."
    }
    do {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") visit(name, found.dwFileAttributes);
    } while (FindNextFileW(find.get(), &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

std::vector<WalkEntry> walk_folder(const fs::path& folder) {
    std::vector<WalkEntry> entries;
    walk_into(folder, {}, entries);
    return entries;
}

}  // namespace install
