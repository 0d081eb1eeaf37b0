#include <windows.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/install_state.h"
#include "install/placement.h"
#include "tests/install/package_fixture.h"
#include "tests/support/expect_error.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unix_link.h"
#include "text/utf.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr char kOtherFiles[] = "В выбранной папке находятся другие файлы. Выберите пустую папку.";
constexpr char kPathHasLink[] = "Папка установки содержит ссылку. Выберите другую папку.";
constexpr char kPathTakenByFolder[] = "Путь файла занят папкой";
constexpr char kCancelled[] = "Установка отменена";

std::string replace_failure(const std::string& name, DWORD code) {
    return "Не удалось заменить " + name + " (Windows " + std::to_string(code) +
           "). Закройте лаунчер и повторите попытку.";
}

// The folders one install run works with: the staging folder beside the install folder (as the
// install worker lays it out) and the user's two shortcut folders.
class Placement : public ::testing::Test {
public:
    void SetUp() override { ASSERT_GE(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), 0); }
    void TearDown() override { CoUninitialize(); }

    void place() {
        install::place_package_files(payload, installDir, desktopDir, programsDir, backup, &progress, &cancel, &state);
    }

    test::TempFolder temp;
    fs::path staging = temp / ".korvane-install-0123456789abcdef01234567";
    fs::path payload = staging / "payload";
    fs::path backup = staging / "previous";
    fs::path installDir = temp / "Игры" / "Korvane Launcher";
    fs::path desktopDir = temp / "Desktop";
    fs::path programsDir = temp / "Start Menu" / "Programs";
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{false};
    std::atomic<int32_t> state{common::Installing};
};

bool shortcuts_exist(const fs::path& desktopDir, const fs::path& programsDir) {
    return fs::is_regular_file(desktopDir / "Korvane Launcher.lnk") &&
           fs::is_regular_file(programsDir / "Korvane Launcher.lnk");
}

uint64_t file_id(const fs::path& file) {
    const common::UniqueFileHandle handle = test::hold_open(file, FILE_SHARE_READ | FILE_SHARE_WRITE);
    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_TRUE(GetFileInformationByHandle(handle.get(), &info));
    return (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

TEST_F(Placement, MissingFolderBecomesThePackageFolderByOneMove) {
    test::write_tree(payload, test::new_package());
    fs::create_directories(installDir.parent_path());
    const uint64_t executableId = file_id(payload / "KORLAUNCHER.exe");

    place();

    EXPECT_EQ(test::read_tree(installDir), test::new_package());
    EXPECT_EQ(file_id(installDir / "KORLAUNCHER.exe"), executableId);  // renamed, not copied
    EXPECT_FALSE(fs::exists(payload));
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_EQ(progress.load(), 0.0f);
    EXPECT_EQ(state.load(), common::Shortcuts);
    EXPECT_TRUE(shortcuts_exist(desktopDir, programsDir));
}

TEST_F(Placement, EmptyFolderReceivesExactlyThePackage) {
    test::write_tree(payload, test::new_package());
    fs::create_directories(installDir);

    place();

    EXPECT_EQ(test::read_tree(installDir), test::new_package());
    EXPECT_TRUE(fs::is_directory(backup));
    EXPECT_TRUE(fs::is_empty(backup));
    EXPECT_EQ(progress.load(), 1.0f);
    EXPECT_EQ(state.load(), common::Shortcuts);
    EXPECT_TRUE(shortcuts_exist(desktopDir, programsDir));
}

TEST_F(Placement, UpdateReplacesPackageFilesAndKeepsTheUsersOwn) {
    test::write_tree(payload, test::new_package());
    test::write_tree(installDir, test::old_installation());

    place();

    EXPECT_EQ(test::read_tree(installDir), test::overlaid(test::old_installation(), test::new_package()));
    // The backup holds exactly the old versions of the files that were overwritten.
    test::Tree overwritten;
    for (const auto& [key, bytes] : test::old_installation()) {
        if (test::new_package().count(key) != 0) overwritten[key] = bytes;
    }
    EXPECT_EQ(test::read_tree(backup), overwritten);
    EXPECT_EQ(progress.load(), 1.0f);
}

TEST_F(Placement, ReadOnlyFilesOfTheInstallationAreReplaced) {
    test::write_tree(payload, test::new_package());
    test::write_tree(installDir, test::old_installation());
    for (const char* file : {"launcher.json", "KORLAUNCHER.exe"}) {
        const fs::path path = installDir / file;
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }

    place();

    EXPECT_EQ(test::read_tree(installDir), test::overlaid(test::old_installation(), test::new_package()));
    // The saved copy is the old file as it was, attribute included, for an undo to put back.
    const fs::path saved = backup / "launcher.json";
    EXPECT_NE(GetFileAttributesW(saved.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

// A first install into an empty folder killed while its files moved into place: its staging folder
// and part of the package are there. The next run completes it and leaves nothing of either run.
TEST_F(Placement, InterruptedFirstInstallIsCompletedByTheNextRun) {
    test::write_tree(payload, test::new_package());
    const fs::path killedRun = installDir / ".korvane-install-ffffffffffffffffffffffff";
    test::Tree halfPlaced;
    test::Tree stillStaged;
    for (const auto& [key, bytes] : test::new_package()) {
        if (key.back() == '/') continue;
        const bool placed = key == "launcher.json" || key == "shaders/ui.vert.spv" || key == "licenses/notice.txt";
        (placed ? halfPlaced : stillStaged)[key] = bytes;
    }
    test::write_tree(installDir, halfPlaced);
    test::write_tree(killedRun, stillStaged);
    fs::create_directories(installDir / "assets" / "fonts");  // made for a file not moved in yet

    place();

    EXPECT_EQ(test::read_tree(installDir), test::new_package());
    EXPECT_TRUE(shortcuts_exist(desktopDir, programsDir));
}

TEST_F(Placement, RefusedTargetsAreLeftAlone) {
    test::write_tree(payload, test::new_package());
    const test::Tree foreign = test::with_folders({{"notes.txt", "mine"}, {"photos/cat.jpg", "jpeg"}});
    test::write_tree(installDir, foreign);
    test::expect_error([&] { place(); }, kOtherFiles);
    EXPECT_EQ(test::read_tree(installDir), foreign);
    EXPECT_FALSE(fs::exists(backup));
    EXPECT_EQ(test::read_tree(payload), test::new_package());
}

TEST_F(Placement, DestinationTakenByAFolderChangesNothing) {
    test::write_tree(payload, test::new_package());
    test::Tree before = test::old_installation();
    before.erase("shaders/ui.vert.spv");
    before["shaders/ui.vert.spv/"] = "";
    before["shaders/ui.vert.spv/inner.txt"] = "x";
    test::write_tree(installDir, before);

    test::expect_error([&] { place(); }, kPathTakenByFolder);
    EXPECT_EQ(test::read_tree(installDir), before);
}

TEST_F(Placement, LinkInsideTheInstallationIsRefused) {
    test::TempFolder disposable;
    test::write_tree(disposable.path(), {{"sounds/keep.wav", "keep"}});
    test::write_tree(payload, test::new_package());
    test::Tree before = test::old_installation();
    test::write_tree(installDir, before);
    {
        // A package file's way into the install folder passes through this link.
        test::UnixLink link(installDir / "licenses", disposable.path());
        test::expect_error([&] { place(); }, kPathHasLink);
    }
    EXPECT_EQ(test::read_tree(installDir), before);
    EXPECT_EQ(test::read_tree(disposable.path()), test::with_folders({{"sounds/keep.wav", "keep"}}));
}

TEST(ReplacePathWithRetry, ErrorsThatWaitingCannotCureFailAtOnce) {
    test::TempFolder temp;
    test::write_file(temp / "present.bin", "x");
    const struct {
        fs::path from;
        fs::path to;
        DWORD code;
    } cases[] = {
        {temp / "missing.bin", temp / "KORLAUNCHER.exe", ERROR_FILE_NOT_FOUND},
        {temp / "present.bin", temp / "no such folder" / "launcher.json", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to.string());
        const auto started = Clock::now();
        test::expect_error([&] { install::replace_path_with_retry(c.from, c.to); },
                           replace_failure(text::utf8_from_wide(c.to.filename().native()), c.code));
        // Going through the retries would take about five seconds.
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(2));
    }
    EXPECT_EQ(test::read_file(temp / "present.bin"), "x");
}

TEST(LauncherLast, OnlyTheTopLevelExecutableMovesToTheEnd) {
    const struct {
        std::vector<fs::path> walk;
        std::vector<fs::path> expected;
    } cases[] = {
        {{"KORLAUNCHER.exe", "b.json", "assets/a.png", "c.txt"},
         {"b.json", "assets/a.png", "c.txt", "KORLAUNCHER.exe"}},
        {{"z.txt", "bin/KORLAUNCHER.exe", "a.txt"}, {"z.txt", "bin/KORLAUNCHER.exe", "a.txt"}},
        {{"bin\\KORLAUNCHER.exe", "KORLAUNCHER.exe", "a.txt"}, {"bin\\KORLAUNCHER.exe", "a.txt", "KORLAUNCHER.exe"}},
    };
    for (const auto& c : cases) {
        std::vector<fs::path> sorted = c.walk;
        std::stable_sort(sorted.begin(), sorted.end(), install::launcher_last);
        EXPECT_EQ(sorted, c.expected);
    }
    EXPECT_FALSE(install::launcher_last("KORLAUNCHER.exe", "KORLAUNCHER.exe"));
}

// A placement on its own thread (with its own COM apartment, as the install task has), so that
// the test can hold files open, watch progress and cancel while it runs.
class BackgroundPlacement {
public:
    explicit BackgroundPlacement(Placement& fixture)
        : total_(test::placement_order(fixture.payload).size()), thread_([this, &fixture] {
              const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
              try {
                  install::place_package_files(fixture.payload, fixture.installDir, fixture.desktopDir,
                                               fixture.programsDir, fixture.backup, &progress, &cancel, &state);
              } catch (const std::exception& error) {
                  error_ = error.what();
              }
              if (SUCCEEDED(com)) CoUninitialize();
              finished_ = true;
          }) {}
    ~BackgroundPlacement() {
        if (thread_.joinable()) thread_.join();
    }

    // True once `count` files are in place. The placement cannot pass a file that is held open, so
    // reaching the count of the files before it means it is retrying that file.
    bool wait_until_placed(size_t count) const {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (placed() < count && !finished_) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return placed() == count && !finished_;
    }
    size_t placed() const { return static_cast<size_t>(progress.load() * static_cast<float>(total_) + 0.5f); }

    // The placement's error message, or empty after success.
    std::string finish() {
        thread_.join();
        return error_;
    }

    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{false};
    std::atomic<int32_t> state{common::Installing};

private:
    size_t total_;
    std::string error_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

class HeldFiles : public Placement {
protected:
    void SetUp() override {
        Placement::SetUp();
        test::write_tree(payload, test::new_package());
        test::write_tree(installDir, test::old_installation());
        order = test::placement_order(payload);
        ASSERT_EQ(order.back(), fs::path("KORLAUNCHER.exe"));
    }

    // Every file placed so far holds the new bytes; the rest still hold the old ones.
    void expect_placed_exactly(size_t count) {
        const test::Tree now = test::read_tree(installDir);
        for (size_t i = 0; i < order.size(); ++i) {
            const std::string key = text::utf8_from_wide(order[i].generic_wstring());
            const test::Tree& source = i < count ? test::new_package() : test::old_installation();
            const auto expected = source.find(key);
            SCOPED_TRACE(key);
            if (expected == source.end()) {
                EXPECT_EQ(now.count(key), 0u);
            } else {
                EXPECT_EQ(now.at(key), expected->second);
            }
        }
    }

    std::vector<fs::path> order;
};

TEST_F(HeldFiles, ExecutableMovesLastAndAFileReleasedInTimeGoesThrough) {
    auto reader = test::hold_open(installDir / "KORLAUNCHER.exe", FILE_SHARE_READ);
    BackgroundPlacement run(*this);
    ASSERT_TRUE(run.wait_until_placed(order.size() - 1));
    expect_placed_exactly(order.size() - 1);

    // A closing launcher may take seconds to let go of its executable: the placement waits for it,
    // and this one lets go after four of the five seconds the placement gives it.
    std::this_thread::sleep_for(std::chrono::milliseconds(4000));
    EXPECT_EQ(run.placed(), order.size() - 1);
    reader.reset();

    EXPECT_EQ(run.finish(), "");
    EXPECT_EQ(test::read_tree(installDir), test::overlaid(test::old_installation(), test::new_package()));
    EXPECT_EQ(run.state.load(), common::Shortcuts);
}

TEST_F(HeldFiles, FileHeldLongerThanTheRetriesRestoresEveryPlacedFile) {
    // Stop the placement at a file in the middle (a reader lets the backup copy it), then lock the
    // executable without any sharing: the backup has read it already, the move over it cannot
    // happen.
    const auto middle = std::find_if(order.begin() + 1, order.end(), [](const fs::path& file) {
        return test::old_installation().count(text::utf8_from_wide(file.generic_wstring())) != 0;
    });
    ASSERT_NE(middle, order.end() - 1);
    auto reader = test::hold_open(installDir / *middle, FILE_SHARE_READ);
    BackgroundPlacement run(*this);
    ASSERT_TRUE(run.wait_until_placed(static_cast<size_t>(middle - order.begin())));
    auto lock = test::hold_open(installDir / "KORLAUNCHER.exe", 0);
    reader.reset();

    const std::string error = run.finish();
    const bool expectedCode = error == replace_failure("KORLAUNCHER.exe", ERROR_ACCESS_DENIED) ||
                              error == replace_failure("KORLAUNCHER.exe", ERROR_SHARING_VIOLATION) ||
                              error == replace_failure("KORLAUNCHER.exe", ERROR_LOCK_VIOLATION);
    EXPECT_TRUE(expectedCode) << error;
    EXPECT_EQ(run.placed(), order.size() - 1);
    // Restored file by file from the backup; new files and the folders made for them are gone.
    lock.reset();
    EXPECT_EQ(test::read_tree(installDir), test::old_installation());
    EXPECT_FALSE(fs::exists(desktopDir / "Korvane Launcher.lnk"));
}

TEST_F(HeldFiles, CancelDuringTheSecondPhaseRestoresTheFolderByteForByte) {
    auto reader = test::hold_open(installDir / "KORLAUNCHER.exe", FILE_SHARE_READ);
    BackgroundPlacement run(*this);
    ASSERT_TRUE(run.wait_until_placed(order.size() - 1));
    run.cancel = true;
    reader.reset();

    EXPECT_EQ(run.finish(), kCancelled);
    EXPECT_EQ(test::read_tree(installDir), test::old_installation());
    EXPECT_FALSE(fs::exists(desktopDir / "Korvane Launcher.lnk"));
}

TEST_F(HeldFiles, UndoThatCannotRestoreAFileNamesTheBackupAndRestoresTheRest) {
    auto reader = test::hold_open(installDir / "KORLAUNCHER.exe", FILE_SHARE_READ);
    BackgroundPlacement run(*this);
    ASSERT_TRUE(run.wait_until_placed(order.size() - 1));
    // A saved copy that has gone missing by the time the undo needs it.
    fs::remove(backup / "launcher.json");
    run.cancel = true;
    reader.reset();

    EXPECT_EQ(run.finish(), "Не удалось восстановить файлы. Резервная копия сохранена: " +
                                text::utf8_from_wide(fs::absolute(backup).native()));
    test::Tree expected = test::old_installation();
    expected["launcher.json"] = test::new_package().at("launcher.json");
    EXPECT_EQ(test::read_tree(installDir), expected);
}

TEST_F(Placement, ShortcutFailureAfterEveryFileUndoesTheUpdate) {
    test::write_tree(payload, test::new_package());
    test::write_tree(installDir, test::old_installation());
    test::write_file(desktopDir, "a file where the Desktop folder should be");

    EXPECT_THROW(place(), fs::filesystem_error);
    EXPECT_EQ(progress.load(), 1.0f);  // every file had been placed
    EXPECT_EQ(test::read_tree(installDir), test::old_installation());
    EXPECT_FALSE(fs::exists(programsDir / "Korvane Launcher.lnk"));
}

TEST_F(Placement, ShortcutFailureOnTheFreshRouteTakesTheFolderBack) {
    test::write_tree(payload, test::new_package());
    fs::create_directories(installDir.parent_path());
    test::write_file(desktopDir, "a file where the Desktop folder should be");

    EXPECT_THROW(place(), fs::filesystem_error);
    EXPECT_FALSE(fs::exists(installDir));
    EXPECT_EQ(test::read_tree(payload), test::new_package());
    EXPECT_EQ(state.load(), common::Shortcuts);
}

}  // namespace
