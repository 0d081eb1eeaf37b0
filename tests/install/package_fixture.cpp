#include "tests/install/package_fixture.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "common/long_path.h"
#include "install/folder_walk.h"
#include "install/placement.h"
#include "tests/support/files.h"
#include "text/utf.h"

namespace fs = std::filesystem;

namespace test {

namespace {

// Distinct, reproducible bytes for each file and release, including bytes that text mode would
// alter.
std::string file_bytes(std::string_view name, std::string_view release, size_t size) {
    std::string bytes = std::string(release) + ":" + std::string(name) + "\r\n\x1a";
    uint32_t state = 2166136261u;
    for (char c : bytes)
        state = (state ^ static_cast<unsigned char>(c)) * 16777619u;
    while (bytes.size() < size) {
        state = state * 1664525u + 1013904223u;
        bytes.push_back(static_cast<char>(state >> 24));
    }
    return bytes;
}

Tree launcher_files(std::string_view release, size_t fileSize, const std::vector<std::string>& names) {
    Tree tree;
    for (const std::string& name : names)
        tree[name] = file_bytes(name, release, fileSize);
    return tree;
}

const std::vector<std::string> kReleaseFiles = {
    "KORLAUNCHER.exe",           "launcher.json",       "assets/korvanelauncher/logo.png",
    "assets/fonts/regular.json", "shaders/ui.vert.spv", "shaders/ui.frag.spv",
};

}  // namespace

Tree old_installation(size_t fileSize) {
    Tree tree = launcher_files("1.0.0", fileSize, kReleaseFiles);
    tree["settings.ini"] = "language=ru\r\n";
    tree["mods/Мой мод/mod.json"] = "{\"enabled\":true}";
    return with_folders(std::move(tree));
}

Tree new_package(size_t fileSize) {
    std::vector<std::string> names = kReleaseFiles;
    names.push_back("assets/sounds/ui/hover.wav");
    names.push_back("licenses/notice.txt");
    return with_folders(launcher_files("1.1.0", fileSize, names));
}

Tree with_folders(Tree tree) {
    std::vector<std::string> folders;
    for (const auto& [key, bytes] : tree) {
        for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
            if (slash + 1 < key.size()) folders.push_back(key.substr(0, slash + 1));
        }
    }
    for (const std::string& folder : folders)
        tree[folder] = "";
    return tree;
}

Tree overlaid(Tree base, const Tree& overlay) {
    for (const auto& [key, bytes] : overlay)
        base[key] = bytes;
    return base;
}

Tree without_staging_folders(const Tree& tree) {
    Tree kept;
    for (const auto& entry : tree) {
        if (entry.first.rfind(".korvane-install-", 0) != 0) kept.insert(entry);
    }
    return kept;
}

std::vector<std::string> staging_folders(const Tree& tree) {
    std::vector<std::string> names;
    for (const auto& [key, bytes] : tree) {
        if (key.rfind(".korvane-install-", 0) == 0 && key.find('/') == key.size() - 1) names.push_back(key);
    }
    return names;
}

void write_tree(const fs::path& folder, const Tree& tree) {
    fs::create_directories(folder);
    for (const auto& [key, bytes] : tree) {
        const fs::path path = folder / fs::path(text::wide_from_utf8(key));
        if (key.back() == '/') {
            fs::create_directories(path);
        } else {
            write_file(path, bytes);
        }
    }
}

Tree read_tree(const fs::path& folder) {
    Tree tree;
    const fs::path root = common::extended_length_path(folder);
    for (const install::WalkEntry& entry : install::walk_folder(root)) {
        std::string key = text::utf8_from_wide(entry.relative.generic_wstring());
        if ((entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            tree[key] = "<link>";
        } else if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            tree[key + "/"] = "";
        } else {
            tree[key] = read_file(root / entry.relative);
        }
    }
    return tree;
}

std::vector<fs::path> placement_order(const fs::path& payload) {
    std::vector<fs::path> files;
    for (const install::WalkEntry& entry : install::walk_folder(common::extended_length_path(payload))) {
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) files.push_back(entry.relative);
    }
    std::stable_sort(files.begin(), files.end(), install::launcher_last);
    return files;
}

common::UniqueFileHandle hold_open(const fs::path& file, unsigned long share) {
    common::UniqueFileHandle handle(
        CreateFileW(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        throw std::runtime_error("cannot hold " + file.string() + " open: " + std::to_string(GetLastError()));
    }
    return handle;
}

}  // namespace test
