#include <windows.h>
#include <gtest/gtest.h>
#include <shobjidl.h>

#include <filesystem>
#include <set>
#include <string>

#include "common/com_ptr.h"
#include "install/shortcuts.h"
#include "tests/install/package_fixture.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"
#include "text/utf.h"

namespace fs = std::filesystem;

namespace {

struct LinkSettings {
    std::wstring target;
    std::wstring workingFolder;
    std::wstring icon;
    int iconIndex = -1;
    std::wstring description;
    std::wstring arguments;
};

// Reads a saved shortcut back through the shell, as Explorer would.
LinkSettings read_link(const fs::path& file) {
    common::ComPtr<IShellLinkW> link;
    EXPECT_GE(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()), 0);
    common::ComPtr<IPersistFile> persist;
    EXPECT_GE(link.query(persist), 0);
    EXPECT_GE(persist->Load(file.c_str(), STGM_READ), 0);
    wchar_t text[MAX_PATH * 2] = {};
    LinkSettings settings;
    EXPECT_GE(link->GetPath(text, MAX_PATH * 2, nullptr, SLGP_RAWPATH), 0);
    settings.target = text;
    EXPECT_GE(link->GetWorkingDirectory(text, MAX_PATH * 2), 0);
    settings.workingFolder = text;
    EXPECT_GE(link->GetIconLocation(text, MAX_PATH * 2, &settings.iconIndex), 0);
    settings.icon = text;
    EXPECT_GE(link->GetDescription(text, MAX_PATH * 2), 0);
    settings.description = text;
    text[0] = L'\0';
    EXPECT_GE(link->GetArguments(text, MAX_PATH * 2), 0);
    settings.arguments = text;
    return settings;
}

std::set<std::string> names_in(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(text::utf8_from_wide(entry.path().filename().native()));
    }
    return names;
}

class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GE(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), 0); }
    void TearDown() override { CoUninitialize(); }

    test::TempFolder temp;
    fs::path installDir = temp / "Games" / "Korvane Launcher";
    fs::path otherDir = temp / "Old Place";
    fs::path desktopDir = temp / "Desktop";
    fs::path programsDir = temp / "Start Menu" / "Programs";
};

TEST_F(Shortcuts, BothLinksPointAtTheInstalledLauncher) {
    fs::create_directories(desktopDir);  // the Start-menu folder does not exist yet
    const struct {
        fs::path installDir;
        bool targetReadable;
    } cases[] = {
        {installDir, true},
        // Wine keeps a link target in an 8-bit form and reads letters outside its code page back
        // garbled (Windows also stores the Unicode name); the working folder and icon are plain
        // strings and come back intact.
        {temp / "Игры" / "Korvane Launcher", false},
    };
    for (const auto& c : cases) {
        install::create_launcher_shortcuts(c.installDir, desktopDir, programsDir);
        for (const fs::path& folder : {desktopDir, programsDir}) {
            SCOPED_TRACE(folder.string());
            EXPECT_EQ(names_in(folder), std::set<std::string>{"Korvane Launcher.lnk"});
            const LinkSettings link = read_link(folder / "Korvane Launcher.lnk");
            if (c.targetReadable) {
                EXPECT_EQ(link.target, (c.installDir / "KORLAUNCHER.exe").native());
            }
            EXPECT_EQ(link.workingFolder, c.installDir.native());
            EXPECT_EQ(link.icon, (c.installDir / "KORLAUNCHER.exe").native());
            EXPECT_EQ(link.iconIndex, 0);
            EXPECT_EQ(link.description, L"Korvane Launcher");
            EXPECT_EQ(link.arguments, L"");
        }
    }
}

TEST_F(Shortcuts, EarlierLinkIsReplacedAndLeftoversOfAnInterruptedRunGo) {
    install::create_launcher_shortcuts(otherDir, desktopDir, programsDir);
    const test::Tree leftovers = {{".Korvane-Launcher-0123456789abcdef.lnk", "half-written link"},
                                  {".Korvane-Launcher-0123456789abcdef.bak", "an older link"}};
    test::write_tree(desktopDir, leftovers);

    install::create_launcher_shortcuts(installDir, desktopDir, programsDir);

    for (const fs::path& folder : {desktopDir, programsDir}) {
        EXPECT_EQ(read_link(folder / "Korvane Launcher.lnk").target, (installDir / "KORLAUNCHER.exe").native());
    }
    // Once both links are in place the hidden names of the interrupted run have no use left.
    EXPECT_EQ(names_in(desktopDir), std::set<std::string>{"Korvane Launcher.lnk"});
    EXPECT_EQ(names_in(programsDir), std::set<std::string>{"Korvane Launcher.lnk"});
}

TEST_F(Shortcuts, SecondFolderThatCannotBeMadeLeavesTheFirstUntouched) {
    install::create_launcher_shortcuts(otherDir, desktopDir, programsDir);
    const test::Tree desktopBefore = test::read_tree(desktopDir);
    const fs::path blocked = temp / "Blocked Menu" / "Programs";
    test::write_file(blocked.parent_path(), "a file where a folder should be");

    try {
        install::create_launcher_shortcuts(installDir, desktopDir, blocked);
        ADD_FAILURE() << "no exception";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.path1(), blocked);
        EXPECT_NE(std::string(error.what()).find("create_directories"), std::string::npos) << error.what();
    }
    // The first folder's hidden link is gone and its earlier shortcut was never moved.
    EXPECT_EQ(test::read_tree(desktopDir), desktopBefore);
}

TEST_F(Shortcuts, FailureMovingTheSecondLinkAsideUndoesBothFolders) {
    install::create_launcher_shortcuts(otherDir, desktopDir, programsDir);
    const test::Tree desktopBefore = test::read_tree(desktopDir);
    const test::Tree programsBefore = test::read_tree(programsDir);

    {
        // Something holds the earlier Start-menu link open without sharing: it cannot be moved
        // aside, after the Desktop already shows the new link.
        const auto held = test::hold_open(programsDir / "Korvane Launcher.lnk", 0);
        EXPECT_THROW(install::create_launcher_shortcuts(installDir, desktopDir, programsDir), fs::filesystem_error);
    }

    EXPECT_EQ(test::read_tree(desktopDir), desktopBefore);
    EXPECT_EQ(test::read_tree(programsDir), programsBefore);
    EXPECT_EQ(read_link(desktopDir / "Korvane Launcher.lnk").target, (otherDir / "KORLAUNCHER.exe").native());
}

}  // namespace
