#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "install/folder_rules.h"
#include "tests/support/expect_error.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unix_link.h"

namespace fs = std::filesystem;

namespace {

constexpr char kChooseFolder[] = "Выберите папку для лаунчера";
constexpr char kPathHasLink[] = "Папка установки содержит ссылку. Выберите другую папку.";
constexpr char kFolderNotEmpty[] = "В выбранной папке находятся другие файлы. Выберите пустую папку.";

TEST(NormalizeInstallFolder, LexicalNormalForm) {
    const struct {
        const wchar_t* chosen;
        const wchar_t* expected;
    } cases[] = {
        {L"C:/Games//Korvane Launcher", L"C:\\Games\\Korvane Launcher"},
        {L"C:\\Games\\.\\A\\..\\B", L"C:\\Games\\B"},
        {L"C:\\..\\..\\Games", L"C:\\Games"},
        {L"C:\\Games\\A\\..\\..\\Korvane", L"C:\\Korvane"},
        {L"Games", L"Games"},
        {L"a\\..\\..\\b", L"..\\b"},
        {L"\\\\server\\share\\Korvane", L"\\\\server\\share\\Korvane"},
        {L"D:\\Игры\\Korvane Launcher", L"D:\\Игры\\Korvane Launcher"},
        {L"C:Games\\..\\Korvane", L"C:Korvane"},
        {L"a\\..", L"."},
        {L"..\\..\\x", L"..\\..\\x"},
        {L"a\\b\\..\\..\\..", L".."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fs::path(c.chosen).string());
        EXPECT_EQ(install::normalize_install_folder(c.chosen).native(), c.expected);
    }
}

TEST(NormalizeInstallFolder, RefusesPathsThatNameNoFolder) {
    for (const wchar_t* chosen :
         {L"", L"C:", L"C:\\", L"C:/", L"\\", L"C:\\Games\\", L"C:\\Games\\.", L"C:\\Games\\A\\..", L"C:\\Games//",
          L"\\\\server\\share\\", L"//server/share//Korvane/.", L"\\\\server"}) {
        SCOPED_TRACE(fs::path(chosen).string());
        test::expect_error([&] { install::normalize_install_folder(chosen); }, kChooseFolder);
    }
}

TEST(InstallPathLinks, PlainAndMissingPathsPass) {
    test::TempFolder temp;
    fs::create_directories(temp / "Games");
    EXPECT_NO_THROW(install::ensure_install_path_has_no_links(temp / "Games"));
    EXPECT_NO_THROW(install::ensure_install_path_has_no_links(temp / "Games" / "not" / "there" / "yet"));
    EXPECT_NO_THROW(install::ensure_install_path_has_no_links(L"Q:\\nothing\\here"));
}

TEST(InstallPathLinks, LinkAnywhereOnTheWayIsRefused) {
    test::TempFolder temp;
    fs::create_directories(temp / "target" / "inner");
    test::UnixLink link(temp / "linked", temp / "target");

    test::expect_error([&] { install::ensure_install_path_has_no_links(link.path()); }, kPathHasLink);
    // The tail does not exist yet; the existing middle folder is still a link.
    test::expect_error([&] { install::ensure_install_path_has_no_links(link.path() / "Korvane Launcher" / "x"); },
                       kPathHasLink);
    test::expect_error([&] { install::ensure_install_path_has_no_links(link.path() / "inner"); }, kPathHasLink);
    // The link's target, reached without the link, is fine.
    EXPECT_NO_THROW(install::ensure_install_path_has_no_links(temp / "target" / "inner"));
}

// A bare "C:" names the drive's current folder, so the check begins at the drive's root. (Wine
// reports "C:" as a plain folder wherever the process stands, so only the list can show this.)
TEST(InstallPathLinks, CheckedPrefixesBeginAtTheRoot) {
    using Prefixes = std::vector<std::wstring>;
    EXPECT_EQ(install::install_path_prefixes(L"C:\\Users\\me"), (Prefixes{L"C:\\", L"C:\\Users", L"C:\\Users\\me"}));
    EXPECT_EQ(install::install_path_prefixes(L"C:Games"), (Prefixes{L"C:", L"C:Games"}));
}

struct MarkerCase {
    const char* name;
    std::vector<const char*> files;
    std::vector<const char*> folders;
    bool installed;
};

TEST(ExistingInstallation, MarkerFiles) {
    const MarkerCase cases[] = {
        {"executable alone", {"KORLAUNCHER.exe"}, {}, true},
        {"executable in other letter case", {"korlauncher.EXE"}, {}, true},
        {"launcher folder and settings", {"launcher.json"}, {"assets/korvanelauncher"}, true},
        {"launcher folder, font and shader",
         {"assets/fonts/regular.json", "shaders/ui.vert.spv"},
         {"assets/korvanelauncher"},
         true},
        {"launcher folder and font without shader", {"assets/fonts/regular.json"}, {"assets/korvanelauncher"}, false},
        {"settings without launcher folder",
         {"launcher.json", "assets/fonts/regular.json", "shaders/ui.vert.spv"},
         {},
         false},
        {"file where the launcher folder belongs", {"launcher.json", "assets/korvanelauncher"}, {}, false},
        {"folder named like the executable", {}, {"KORLAUNCHER.exe"}, false},
        {"shader folder instead of shader file",
         {"assets/fonts/regular.json"},
         {"assets/korvanelauncher", "shaders/ui.vert.spv"},
         false},
        {"empty folder", {}, {}, false},
        {"unrelated files", {"readme.txt", "game/data.bin"}, {}, false},
    };
    for (const MarkerCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder temp;
        for (const char* folder : c.folders)
            fs::create_directories(temp / folder);
        for (const char* file : c.files)
            test::write_file(temp / file, "x");
        EXPECT_EQ(install::is_existing_installation(temp.path()), c.installed);
    }
}

TEST(ExistingInstallation, MissingFolderOrFileIsNoInstallation) {
    test::TempFolder temp;
    EXPECT_FALSE(install::is_existing_installation(temp / "missing"));
    test::write_file(temp / "file", "x");
    EXPECT_FALSE(install::is_existing_installation(temp / "file"));
}

TEST(InstallTarget, AcceptanceRule) {
    test::TempFolder temp;
    EXPECT_EQ(install::classify_install_target(temp / "missing"), install::InstallTarget::Missing);
    EXPECT_EQ(install::classify_install_target(temp / "missing" / "deeper"), install::InstallTarget::Missing);

    fs::create_directories(temp / "empty");
    EXPECT_EQ(install::classify_install_target(temp / "empty"), install::InstallTarget::EmptyFolder);

    test::write_file(temp / "installed" / "KORLAUNCHER.exe", "MZ");
    test::write_file(temp / "installed" / "mods" / "extra.bin", "x");
    EXPECT_EQ(install::classify_install_target(temp / "installed"), install::InstallTarget::Installation);

    test::write_file(temp / "file", "x");
    test::expect_error([&] { install::classify_install_target(temp / "file"); }, kFolderNotEmpty);
    test::write_file(temp / "busy" / "notes.txt", "x");
    test::expect_error([&] { install::classify_install_target(temp / "busy"); }, kFolderNotEmpty);
    fs::create_directories(temp / "only-folder" / "sub");
    test::expect_error([&] { install::classify_install_target(temp / "only-folder"); }, kFolderNotEmpty);
}

// An interrupted run leaves its inner staging folder behind; the next run must not take the folder
// for someone else's because of it, and must not take someone else's folder for an interrupted run.
TEST(InstallTarget, LeftoversOfInterruptedRunsDoNotCount) {
    test::TempFolder temp;
    const fs::path stale = L".korvane-install-0123456789abcdef01234567";
    const std::vector<fs::path> package = {L"launcher.json", L"shaders\\ui.vert.spv", L"assets\\fonts\\regular.png",
                                           L"KORLAUNCHER.exe"};
    const auto folder_with = [&](const std::string& name, std::vector<std::string> files) {
        const fs::path folder = temp / name;
        test::write_file(folder / stale / "assets" / "fonts" / "regular.json", "staged copy");
        for (const std::string& file : files)
            test::write_file(folder / file, "x");
        return folder;
    };
    const struct {
        std::string name;
        std::vector<std::string> files;
        install::InstallTarget expected;  // Missing stands for "refused"
    } cases[] = {
        {"only-staging", {}, install::InstallTarget::EmptyFolder},
        {"half-placed", {"launcher.json", "shaders/ui.vert.spv"}, install::InstallTarget::UnfinishedInstall},
        {"unknown-file-in-a-package-folder",
         {"launcher.json", "assets/fonts/unknown.bin"},
         install::InstallTarget::Missing},
        {"with-a-players-file", {"launcher.json", "notes.txt"}, install::InstallTarget::Missing},
        {"installed", {"KORLAUNCHER.exe", "mods/extra.bin"}, install::InstallTarget::Installation},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = folder_with(c.name, c.files);
        if (c.expected == install::InstallTarget::Missing) {
            test::expect_error([&] { install::classify_install_target(folder, package); }, kFolderNotEmpty);
        } else {
            EXPECT_EQ(install::classify_install_target(folder, package), c.expected);
        }
    }
    // A folder made for a file that was not moved in yet.
    fs::create_directories(temp / "folder-only" / stale);
    fs::create_directories(temp / "folder-only" / "assets" / "fonts");
    EXPECT_EQ(install::classify_install_target(temp / "folder-only", package),
              install::InstallTarget::UnfinishedInstall);

    // Package files without the staging folder are no evidence of an interrupted run.
    test::write_file(temp / "no-staging" / "launcher.json", "x");
    test::expect_error([&] { install::classify_install_target(temp / "no-staging", package); }, kFolderNotEmpty);

    // A link with a staging folder's name is not a leftover of this program.
    fs::create_directories(temp / "elsewhere");
    fs::create_directories(temp / "linked");
    {
        const test::UnixLink link(temp / "linked" / stale, temp / "elsewhere");
        test::expect_error([&] { install::classify_install_target(temp / "linked", package); }, kFolderNotEmpty);
    }
}

}  // namespace
