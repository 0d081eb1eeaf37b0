// A player's machine can lose power or end the installer at any moment. These tests kill a
// placement running in its own process at many moments of both phases, run the placement again
// with the same package (as the next install attempt would), and check what the install folder
// holds afterwards, and that no staging folder or shortcut temporary of either run is left.
//
// The default run tries a spread of moments; KORVANE_CRASH_SWEEP=full tries every file boundary
// of both phases on every route (see README.md).
#include <windows.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/install_state.h"
#include "common/unique_handle.h"
#include "crypto/random_hex.h"
#include "install/folder_rules.h"
#include "install/placement.h"
#include "tests/install/crash_channel.h"
#include "tests/install/package_fixture.h"
#include "tests/support/programs.h"
#include "tests/support/temp_folder.h"
#include "text/utf.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Big enough that copying a file takes longer than one look at the folder.
constexpr size_t kFileSize = 192 * 1024;

enum class Route { Update, EmptyFolder, NewFolder };

const char* route_name(Route route) {
    switch (route) {
    case Route::Update:
        return "update";
    case Route::EmptyFolder:
        return "empty folder";
    case Route::NewFolder:
        return "new folder";
    }
    return "";
}

// Files of the package copied into inner staging folders of the install folder so far.
size_t staged_file_count(const fs::path& installDir) {
    size_t count = 0;
    std::error_code error;
    for (fs::directory_iterator top(installDir, error), end; !error && top != end; top.increment(error)) {
        const std::wstring name = top->path().filename().wstring();
        if (!std::wstring_view(name).starts_with(L".korvane-install-")) continue;
        std::error_code innerError;
        for (fs::recursive_directory_iterator inner(top->path(), innerError), innerEnd;
             !innerError && inner != innerEnd; inner.increment(innerError)) {
            std::error_code typeError;
            if (inner->is_regular_file(typeError)) ++count;
        }
    }
    return count;
}

struct Moment {
    const CrashChannel& channel;
    const fs::path& installDir;
    const fs::path& desktopDir;
    const std::vector<fs::path>& order;  // the package's files in the order they are placed

    size_t placed() const {
        return static_cast<size_t>(channel.progress.load() * static_cast<float>(order.size()) + 0.5f);
    }

    // The k-th file has been staged and the second phase has not begun. Looked up by name, so that
    // the test holds no handle on the staging folder (an open handle would keep the placement from
    // removing it).
    bool staged(size_t k) const {
        if (stagingFolder.empty()) {
            std::error_code error;
            for (fs::directory_iterator it(installDir, error), end; !error && it != end; it.increment(error)) {
                const std::wstring name = it->path().filename().wstring();
                if (std::wstring_view(name).starts_with(L".korvane-install-")) stagingFolder = it->path();
            }
            if (stagingFolder.empty()) return false;
        }
        std::error_code error;
        return fs::exists(stagingFolder / order[k - 1], error) && placed() == 0;
    }

    mutable fs::path stagingFolder;
};

struct KillPoint {
    Route route;
    std::string moment;
    std::function<bool(const Moment&)> reached;
};

std::vector<KillPoint> kill_points(size_t fileCount, bool full) {
    std::vector<KillPoint> points;
    const auto every_or = [&](std::vector<size_t> some) {
        if (!full) return some;
        std::vector<size_t> all;
        for (size_t k = 1; k <= fileCount; ++k)
            all.push_back(k);
        return all;
    };
    const auto staged_points = [&](Route route, std::vector<size_t> counts) {
        for (size_t k : every_or(counts)) {
            points.push_back(
                {route, "first phase, " + std::to_string(k) + " staged", [k](const Moment& m) { return m.staged(k); }});
        }
    };
    const auto placed_points = [&](Route route, std::vector<size_t> counts) {
        for (size_t k : every_or(counts)) {
            points.push_back({route, "second phase, " + std::to_string(k) + " placed",
                              [k](const Moment& m) { return m.placed() >= k; }});
        }
    };
    const auto edge_points = [&](Route route) {
        points.push_back(
            {route, "at the start", [](const Moment& m) { return m.channel.phase.load() == CrashChannel::Placing; }});
        points.push_back(
            {route, "making shortcuts", [](const Moment& m) { return m.channel.state.load() == common::Shortcuts; }});
        points.push_back({route, "shortcut in place",
                          [](const Moment& m) { return fs::exists(m.desktopDir / "Korvane Launcher.lnk"); }});
    };

    edge_points(Route::Update);
    staged_points(Route::Update, {1, fileCount / 2, fileCount - 1});
    placed_points(Route::Update, {1, fileCount / 2, fileCount - 1, fileCount});
    staged_points(Route::EmptyFolder, {fileCount / 2});
    placed_points(Route::EmptyFolder, {fileCount / 2});
    if (full) edge_points(Route::EmptyFolder);
    edge_points(Route::NewFolder);
    return points;
}

// The placement in a helper process, and the channel it reports through.
class HelperRun {
public:
    HelperRun(const fs::path& payload, const fs::path& installDir, const fs::path& desktopDir,
              const fs::path& programsDir, const fs::path& backup) {
        const std::wstring name = L"Local\\korvane-crash-" + text::wide_from_utf8(crypto::random_hex(8));
        mapping_.reset(
            CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(CrashChannel), name.c_str()));
        if (!mapping_) throw std::runtime_error("CreateFileMappingW failed");
        view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(CrashChannel)));
        if (!view_) throw std::runtime_error("MapViewOfFile failed");
        channel_ = new (view_.get()) CrashChannel{};
        channel_->state = common::Installing;

        const fs::path helper = test::sibling_program(L"placement_crash_helper.exe");
        std::wstring commandLine = L"\"" + helper.native() + L"\" " + name;
        for (const fs::path* argument : {&payload, &installDir, &desktopDir, &programsDir, &backup}) {
            commandLine += L" \"" + argument->native() + L"\"";
        }
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(helper.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            throw std::runtime_error("cannot start the crash helper");
        }
        process_.reset(process.hProcess);
        const common::UniqueKernelHandle thread(process.hThread);
    }
    ~HelperRun() {
        if (process_) {
            TerminateProcess(process_.get(), 99);
            WaitForSingleObject(process_.get(), 10000);
        }
    }

    const CrashChannel& channel() const { return *channel_; }
    bool running() const { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

    // The kill itself: nothing of the placement runs after this returns.
    void kill() {
        TerminateProcess(process_.get(), 99);
        EXPECT_EQ(WaitForSingleObject(process_.get(), 10000), WAIT_OBJECT_0);
    }

private:
    common::UniqueKernelHandle mapping_;
    UniqueMappedView view_;
    CrashChannel* channel_ = nullptr;
    common::UniqueKernelHandle process_;
};

struct Outcome {
    bool reached = false;
    bool recovered = false;
};

class CrashConsistency : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GE(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), 0); }
    void TearDown() override { CoUninitialize(); }

    Outcome kill_and_rerun(const KillPoint& point) {
        test::TempFolder temp;
        const fs::path installDir = temp / "Games" / "Korvane Launcher";
        const fs::path desktopDir = temp / "Desktop";
        const fs::path programsDir = temp / "Programs";
        const test::Tree package = test::new_package(kFileSize);
        test::Tree before;
        if (point.route == Route::Update) before = test::old_installation(kFileSize);
        if (point.route == Route::NewFolder) {
            fs::create_directories(installDir.parent_path());
        } else {
            test::write_tree(installDir, before);
        }

        // The killed run, staged beside the install folder as the install worker lays it out.
        const fs::path firstStaging = temp / "Games" / ".korvane-install-111111111111111111111111";
        test::write_tree(firstStaging / "payload", package);
        const std::vector<fs::path> order = test::placement_order(firstStaging / "payload");

        Outcome outcome;
        std::string killedAt;
        {
            HelperRun helper(firstStaging / "payload", installDir, desktopDir, programsDir, firstStaging / "previous");
            const Moment moment{helper.channel(), installDir, desktopDir, order, {}};
            const auto deadline = Clock::now() + std::chrono::seconds(30);
            while (!(outcome.reached = point.reached(moment)) && helper.running() && Clock::now() < deadline) {
                std::this_thread::yield();
            }
            helper.kill();
            const int32_t phase = helper.channel().phase.load();
            killedAt = phase == CrashChannel::Finished ? "after it finished"
                       : phase == CrashChannel::Failed
                           ? "after it failed"
                           : "in state " + std::to_string(helper.channel().state.load()) + ", " +
                                 std::to_string(moment.placed()) + "/" + std::to_string(order.size()) + " placed, " +
                                 std::to_string(staged_file_count(installDir)) + " files in staging";
        }

        // The next attempt: a fresh download of the same package in a new staging folder.
        const fs::path secondStaging = temp / "Games" / ".korvane-install-222222222222222222222222";
        test::write_tree(secondStaging / "payload", package);
        std::atomic<float> progress{0.0f};
        std::atomic<bool> cancel{false};
        std::atomic<int32_t> state{common::Installing};
        std::string rerunError;
        try {
            install::place_package_files(secondStaging / "payload", installDir, desktopDir, programsDir,
                                         secondStaging / "previous", &progress, &cancel, &state);
        } catch (const std::exception& error) {
            rerunError = error.what();
        }

        const test::Tree after = test::read_tree(installDir);
        std::vector<std::string> leftovers = test::staging_folders(after);
        for (const fs::path& folder : {desktopDir, programsDir}) {
            std::error_code error;
            for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
                if (it->path().filename() != L"Korvane Launcher.lnk") leftovers.push_back(it->path().string());
            }
        }
        EXPECT_EQ(rerunError, "");
        EXPECT_EQ(test::without_staging_folders(after), test::overlaid(before, package));
        EXPECT_TRUE(fs::exists(desktopDir / "Korvane Launcher.lnk"));
        EXPECT_EQ(leftovers, std::vector<std::string>{});
        outcome.recovered = rerunError.empty() && leftovers.empty();
        std::cout << "[ crash    ] " << route_name(point.route) << ", " << point.moment << ": killed " << killedAt
                  << (outcome.reached ? "" : " (moment not reached)") << " -> "
                  << (outcome.recovered ? "recovered"
                      : rerunError.empty()
                          ? "files recovered, " + std::to_string(leftovers.size()) + " leftover(s) of the installer"
                          : "rerun refused: " + rerunError)
                  << std::endl;
        return outcome;
    }
};

TEST_F(CrashConsistency, PlacementKilledAtManyMomentsIsRepairedByTheNextRun) {
    const char* sweep = std::getenv("KORVANE_CRASH_SWEEP");
    const bool full = sweep != nullptr && std::string(sweep) == "full";
    const test::Tree package = test::new_package();
    const size_t fileCount = static_cast<size_t>(
        std::count_if(package.begin(), package.end(), [](const auto& entry) { return entry.first.back() != '/'; }));
    const std::vector<KillPoint> points = kill_points(fileCount, full);
    size_t reached = 0;
    size_t recovered = 0;
    for (const KillPoint& point : points) {
        SCOPED_TRACE(std::string(route_name(point.route)) + ", " + point.moment);
        const Outcome outcome = kill_and_rerun(point);
        reached += outcome.reached ? 1 : 0;
        recovered += outcome.recovered ? 1 : 0;
    }
    std::cout << "[ crash    ] kill points tried: " << points.size() << ", moment reached before the kill: " << reached
              << ", fully recovered: " << recovered << std::endl;
    RecordProperty("kill_points", static_cast<int>(points.size()));
    RecordProperty("recovered", static_cast<int>(recovered));
    // Most moments must really have been hit; a helper that finished first proves nothing.
    EXPECT_GE(reached * 4, points.size() * 3);
}

}  // namespace
