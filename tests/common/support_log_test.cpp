#include "common/support_log.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_handle.h"
#include "tests/support/files.h"
#include "tests/support/support_log_capture.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unix_link.h"

namespace {

namespace fs = std::filesystem;

const std::regex kHeader(R"(== Korvane Setup run \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} UTC, process \d+ ==)");
const std::regex kLine(R"(\+(\d+)\.(\d{3}) ([a-z]+) (.*))");

// Each test gets a temporary folder of its own as %TEMP%.
class SupportLogTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(common::support_log_path(), log_); }

    // The log as blocks of lines; fails the test when any line is neither a header nor an event.
    std::vector<std::vector<std::string>> blocks() const {
        const std::string content = test::read_file(log_);
        EXPECT_TRUE(content.empty() || content.back() == '\n') << "the log ends inside a line";
        EXPECT_EQ(::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, content.data(), static_cast<int>(content.size()),
                                        nullptr, 0) > 0,
                  !content.empty())
            << "the log is not UTF-8";
        std::vector<std::vector<std::string>> result;
        std::istringstream lines(content);
        for (std::string line; std::getline(lines, line);) {
            if (std::regex_match(line, kHeader)) {
                result.emplace_back();
            } else {
                EXPECT_TRUE(std::regex_match(line, kLine)) << "not an event line: " << line;
                EXPECT_FALSE(result.empty()) << "a line before the first block: " << line;
                if (!result.empty()) result.back().push_back(line);
            }
        }
        return result;
    }

    test::TempFolder temp_;
    test::SupportLogCapture capture_{temp_.path()};
    fs::path log_ = capture_.log();
};

TEST_F(SupportLogTest, EachRunIsOneBlockOfWholeLinesFromEveryThread) {
    common::support_log("early", "before any run: left out");
    common::begin_support_log_run();
    constexpr int kThreads = 4;
    constexpr int kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                common::support_log("thread", "writer ", t, " line ", i);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    common::begin_support_log_run();
    common::support_log("result", "failed: Не удалось заменить KORLAUNCHER.exe\r\nsecond line\t",
                        fs::path(L"C:\\Папка\\Korvane Launcher"), " ", uint64_t{18446744073709551615ull}, " ", -5);
    common::end_support_log_run();
    common::support_log("late", "after the run ended: left out");

    const auto runs = blocks();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(runs[0][0].find(" setup Korvane Setup ") != std::string::npos) << runs[0][0];
    EXPECT_TRUE(std::regex_search(runs[0][0], std::regex(R"(, Windows \d+\.\d+\.\d+ x64)"))) << runs[0][0];
    // Every writer's lines are there, whole, in its own order, and the clock never goes back.
    std::vector<int> next(kThreads, 0);
    double last = 0;
    for (size_t i = 1; i < runs[0].size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(runs[0][i], match, kLine));
        const double offset = std::stod(match[1].str() + "." + match[2].str());
        EXPECT_GE(offset, last);
        last = offset;
        int writer = -1;
        int line = -1;
        ASSERT_EQ(std::sscanf(match[4].str().c_str(), "writer %d line %d", &writer, &line), 2) << runs[0][i];
        ASSERT_TRUE(writer >= 0 && writer < kThreads);
        EXPECT_EQ(line, next[writer]++);
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
    ASSERT_EQ(runs[1].size(), 2u);
    EXPECT_TRUE(
        runs[1][1].ends_with(" result failed: Не удалось заменить KORLAUNCHER.exe\\r\\nsecond line\\x09"
                             "C:\\Папка\\Korvane Launcher 18446744073709551615 -5"))
        << runs[1][1];
}

TEST_F(SupportLogTest, FilledPastItsBoundKeepsTheNewestWholeRuns) {
    // A run that died in the middle of a line, with something that is no block before it.
    test::write_file(log_, "stray text\n== Korvane Setup run 2026-01-01 00:00:00.000 UTC, process 1 ==\n+0.000 x cut");
    const std::string filler(150, 'x');
    constexpr int kRuns = 20;
    for (int run = 0; run < kRuns; ++run) {
        common::begin_support_log_run();
        common::support_log("run", "number ", run);
        // Far more than one run may keep: its later lines are left out, its result is not.
        for (size_t written = 0; written < 2 * common::kSupportLogRunBytes; written += filler.size()) {
            common::support_log("download", filler);
        }
        // Then the little room left: lines shorter than the result's.
        for (int i = 0; i < 1000; ++i)
            common::support_log("d", "x");
        common::support_log("result", "done: run ", run);
        common::end_support_log_run();
        EXPECT_LE(fs::file_size(log_), common::kSupportLogFileBytes) << "after run " << run;
    }
    auto runs = blocks();
    ASSERT_FALSE(runs.empty());
    EXPECT_LE(runs.size(), common::kSupportLogRuns);
    EXPECT_GE(runs.size(), 3u) << "the bound keeps the last few runs, not the last one alone";
    for (size_t i = 0; i < runs.size(); ++i) {
        const int run = kRuns - static_cast<int>(runs.size()) + static_cast<int>(i);
        const auto& lines = runs[i];
        EXPECT_TRUE(lines[1].ends_with(" run number " + std::to_string(run))) << lines[1];
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& line) {
                                    return line.ends_with(" log further lines of this run are left out");
                                }),
                  1);
        EXPECT_TRUE(lines.back().ends_with(" result done: run " + std::to_string(run))) << lines.back();
    }

    // Small runs are bounded by their number: the newest few stay (from half the bound, once it was
    // reached, up to the bound), the big ones go.
    for (int run = 0; run < kRuns; ++run) {
        common::begin_support_log_run();
        common::support_log("result", "small run ", run);
        common::end_support_log_run();
    }
    runs = blocks();
    ASSERT_LE(runs.size(), common::kSupportLogRuns);
    ASSERT_GT(runs.size(), common::kSupportLogRuns / 2);
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_TRUE(
            runs[i].back().ends_with(" result small run " + std::to_string(kRuns - static_cast<int>(runs.size() - i))))
            << runs[i].back();
    }
}

// Waits (up to 10 s) for a change made from the Linux side to show in Wine.
bool appears(const std::function<bool()>& done) {
    for (int i = 0; i < 2000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

// What may lie at the log's name instead of a file of its own. None of them is followed, written
// through or replaced, and none troubles the caller. (Under Wine 8 a Unix link to a file reads as a
// plain file, and a dangling one is neither listed nor readable, though creating the name fails:
// the cases Wine can show are a link to a folder and a second hard link.)
TEST_F(SupportLogTest, ANameThatIsNotItsOwnFileIsLeftAlone) {
    const test::TempFolder elsewhere;
    const fs::path target = elsewhere / L"victim.txt";
    const std::string kPrecious = "== Korvane Setup run 2026-01-01 00:00:00.000 UTC, process 1 ==\n+0.000 x precious\n";
    const fs::path folderTarget = elsewhere / L"folder";
    fs::create_directory(folderTarget);
    enum Kind { FolderLink, HardLink, Folder, HeldOpen };
    const std::pair<Kind, const char*> cases[] = {
        {FolderLink, "a link to a folder"},
        {HardLink, "a second name of another file"},
        {Folder, "a folder"},
        {HeldOpen, "a file held open without sharing"},
    };
    const auto exists = [this] { return ::GetFileAttributesW(log_.c_str()) != INVALID_FILE_ATTRIBUTES; };
    for (const auto& [kind, what] : cases) {
        SCOPED_TRACE(what);
        std::unique_ptr<test::UnixLink> link;
        common::UniqueFileHandle held;
        switch (kind) {
        case FolderLink:
            link = std::make_unique<test::UnixLink>(log_, folderTarget);
            break;
        case HardLink:
            // Shaped like a log, so that nothing but the second name keeps the log from appending.
            test::write_file(target, kPrecious);
            test::run_unix_shell("ln '" + test::unix_path_of(target) + "' '" + test::unix_path_of(log_) + "'");
            ASSERT_TRUE(appears(exists));
            break;
        case Folder:
            fs::create_directory(log_);
            break;
        case HeldOpen:
            test::write_file(log_, "");
            held.reset(::CreateFileW(log_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held);
            break;
        }

        common::begin_support_log_run();
        common::support_log("result", "done");
        common::end_support_log_run();

        if (kind == HardLink) {
            EXPECT_EQ(test::read_file(target), kPrecious);
        } else {
            EXPECT_FALSE(fs::exists(target)) << "the link's target was created";
        }
        EXPECT_TRUE(fs::is_empty(folderTarget));
        if (kind == HeldOpen) {
            held.reset();
            EXPECT_EQ(test::read_file(log_), "");
        }
        EXPECT_FALSE(fs::exists(temp_ / L"Korvane-Setup.log.tmp"));
        link.reset();
        if (kind == HardLink) {
            test::run_unix_shell("rm -f '" + test::unix_path_of(log_) + "'");
            ASSERT_TRUE(appears([&] { return !exists(); }));
        }
        std::error_code ignored;
        fs::remove_all(log_, ignored);
        fs::remove(target, ignored);
    }
}

}  // namespace
