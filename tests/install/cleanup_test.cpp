// Taking away what interrupted and failed runs left behind: only the program's own names, never
// through a link, read-only copies included, and what cannot go is reported.
#include "install/cleanup.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/install/package_fixture.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unix_link.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kStale[] = L".korvane-install-0123456789abcdef01234567";
constexpr wchar_t kOtherStale[] = L".korvane-install-ffffffffffffffffffffffff";

void make_read_only(const fs::path& path) {
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), GetFileAttributesW(path.c_str()) | FILE_ATTRIBUTE_READONLY));
}

// What a killed update leaves in its staging folder: the package, a part file, read-only saved copies.
void write_leftover_staging(const fs::path& folder) {
    test::write_tree(folder, {{"launcher.zip", "zip"},
                              {"launcher.zip.part-0123456789abcdef", "part"},
                              {"payload/shaders/ui.vert.spv", "new"},
                              {"previous/launcher.json", "old"}});
    make_read_only(folder / "previous" / "launcher.json");
    make_read_only(folder / "previous");
}

std::vector<std::wstring> names_in(const fs::path& folder) {
    std::vector<std::wstring> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LeftoverNames, OnlyTheExactShapesThisProgramMakes) {
    const struct {
        const wchar_t* name;
        bool staging;
        bool shortcut;
    } cases[] = {
        {kStale, true, false},
        {L".korvane-install-0123456789abcdef0123456", false, false},    // 23 digits
        {L".korvane-install-0123456789abcdef012345678", false, false},  // 25 digits
        {L".korvane-install-0123456789ABCDEF01234567", false, false},   // upper case
        {L".Korvane-Install-0123456789abcdef01234567", false, false},
        {L"korvane-install-0123456789abcdef01234567", false, false},
        {L".korvane-install-0123456789abcdef0123456g", false, false},
        {L".Korvane-Launcher-0123456789abcdef.lnk", false, true},
        {L".Korvane-Launcher-0123456789abcdef.bak", false, true},
        {L".Korvane-Launcher-0123456789abcdef.txt", false, false},
        {L".Korvane-Launcher-0123456789abcde.lnk", false, false},
        {L".Korvane-Launcher-0123456789ABCDEF.lnk", false, false},
        {L"Korvane Launcher.lnk", false, false},
        {L".korvane-launcher-0123456789abcdef.lnk", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fs::path(c.name).string());
        EXPECT_EQ(install::is_staging_folder_name(c.name), c.staging);
        EXPECT_EQ(install::is_shortcut_temporary_name(c.name), c.shortcut);
    }
}

TEST(RemoveOwnFolder, ReadOnlyCopiesGoWithTheFolder) {
    test::TempFolder temp;
    write_leftover_staging(temp / kStale);
    EXPECT_TRUE(install::remove_own_folder(temp / kStale));
    EXPECT_FALSE(fs::exists(temp / kStale));
    EXPECT_TRUE(install::remove_own_folder(temp / kStale));  // already gone is no failure
}

TEST(RemoveOwnFolder, ALinkInsideIsNeverFollowedAndKeepsTheFolder) {
    test::TempFolder temp;
    test::TempFolder disposable;
    const test::Tree precious = test::with_folders({{"saves/slot1.sav", "progress"}});
    test::write_tree(disposable.path(), precious);
    write_leftover_staging(temp / kStale);
    {
        const test::UnixLink link(temp / kStale / "payload" / "saves", disposable.path());
        EXPECT_FALSE(install::remove_own_folder(temp / kStale));
        EXPECT_TRUE(fs::exists(link.path()));
    }
    EXPECT_EQ(test::read_tree(disposable.path()), precious);

    // A staging name that is itself a link is not the program's folder at all.
    const test::UnixLink link(temp / kOtherStale, disposable.path());
    EXPECT_FALSE(install::remove_own_folder(link.path()));
    EXPECT_EQ(test::read_tree(disposable.path()), precious);
}

TEST(StaleStagingFolders, OnlyThisProgramsFoldersGoAndWhatStaysIsReported) {
    test::TempFolder temp;
    test::TempFolder disposable;
    const test::Tree precious = test::with_folders({{"saves/slot1.sav", "progress"}});
    test::write_tree(disposable.path(), precious);
    const fs::path folder = temp / "Programs";
    write_leftover_staging(folder / kStale);
    const test::Tree others = test::with_folders({
        {"Korvane Launcher/KORLAUNCHER.exe", "exe"},
        {".korvane-install-notes/keep.txt", "a folder of someone else's"},
        {".korvane-install-ABCDEFABCDEFABCDEFABCDEF/keep.txt", "upper case digits: not ours"},
        {".korvane-install-aaaaaaaaaaaaaaaaaaaaaaaa", "a file, not a staging folder"},
    });
    test::write_tree(folder, others);
    std::vector<fs::path> stayed;
    {
        const test::UnixLink link(folder / kOtherStale, disposable.path());
        stayed = install::remove_stale_staging_folders(folder);
        EXPECT_TRUE(fs::exists(link.path()));
    }

    EXPECT_EQ(test::read_tree(folder), others);
    EXPECT_EQ(test::read_tree(disposable.path()), precious);
    const std::vector<fs::path> expected = {folder / ".korvane-install-aaaaaaaaaaaaaaaaaaaaaaaa", folder / kOtherStale};
    EXPECT_EQ(stayed, expected);
}

TEST(StaleStagingFolders, AFolderAnotherRunHoldsIsPassedOver) {
    test::TempFolder temp;
    write_leftover_staging(temp / kStale);
    write_leftover_staging(temp / kOtherStale);
    install::StagingFolderHold hold(temp / kStale);

    EXPECT_EQ(install::remove_stale_staging_folders(temp.path()), std::vector<fs::path>{temp / kStale});
    EXPECT_EQ(names_in(temp.path()), std::vector<std::wstring>{kStale});
    EXPECT_TRUE(fs::exists(temp / kStale / "previous" / "launcher.json"));

    hold.release();
    EXPECT_EQ(install::remove_stale_staging_folders(temp.path()), std::vector<fs::path>{});
    EXPECT_EQ(names_in(temp.path()), std::vector<std::wstring>{});
}

TEST(StaleShortcutTemporaries, HiddenLinksAndBackupsGoEverythingElseStays) {
    test::TempFolder temp;
    const test::Tree others = test::with_folders({
        {"Korvane Launcher.lnk", "the visible shortcut"},
        {"Other Game.lnk", "someone else's"},
        {".Korvane-Launcher-0123456789abcdef.txt", "not a name of ours"},
        {".Korvane-Launcher-fedcba9876543210.lnk/inside.txt", "a folder, not a temporary"},
    });
    test::write_tree(temp.path(), others);
    test::write_file(temp / ".Korvane-Launcher-0123456789abcdef.lnk", "new link of a killed run");
    test::write_file(temp / ".Korvane-Launcher-0123456789abcdef.bak", "old link moved aside");
    make_read_only(temp / ".Korvane-Launcher-0123456789abcdef.bak");

    EXPECT_EQ(install::remove_stale_shortcut_temporaries(temp.path()),
              std::vector<fs::path>{temp / ".Korvane-Launcher-fedcba9876543210.lnk"});
    EXPECT_EQ(test::read_tree(temp.path()), others);
}

}  // namespace
