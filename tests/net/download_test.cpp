// The resumable verified download against nginx (the happy path a publisher's server gives) and
// against the scripted server (the faults nginx will not produce on demand).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "crypto/sha256.h"
#include "net/download.h"
#include "tests/net/net_test.h"
#include "tests/support/expect_error.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace {

using test::NetTest;

constexpr uint64_t kRange = 16 * 1024 * 1024;

class DownloadTest : public NetTest {
protected:
    void download(const std::string& path, uint64_t size, const std::string& sha256, bool official = false) {
        kr::download_file(server().url("https", path), destination(), size, sha256, &progress, &cancel, &bytesDone, "",
                          official);
    }
    std::filesystem::path destination() const { return folder / "staging" / "launcher.zip"; }
    // Only what the test expects is in the destination's folder: no part file is ever left.
    std::vector<std::string> files_left() const {
        std::vector<std::string> names;
        if (std::filesystem::exists(destination().parent_path())) {
            for (const auto& entry : std::filesystem::directory_iterator(destination().parent_path())) {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }
    std::vector<std::string> ranges_seen() {
        std::vector<std::string> ranges;
        const nlohmann::json seen = server().records();
        for (const auto& record : seen["records"]) {
            ranges.push_back(test::recorded_header(record, "Range"));
        }
        return ranges;
    }
    nlohmann::json file_answer(nlohmann::json extra = nlohmann::json::object()) {
        extra["file"] = "f";
        return extra;
    }

    test::TempFolder folder;
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{false};
    std::atomic<uint64_t> bytesDone{0};
};

using Names = std::vector<std::string>;

TEST_F(DownloadTest, PreconditionsFailBeforeAnythingIsTouched) {
    const std::string digest(64, 'a');
    struct Case {
        uint64_t size;
        std::string sha256;
    };
    const Case cases[] = {{0, digest}, {8589934593ull, digest}, {10, std::string(63, 'a')}, {10, std::string(65, 'a')}};
    for (const Case& c : cases) {
        test::expect_error([&] { download("/file", c.size, c.sha256); },
                           "В каталоге отсутствует размер или SHA-256 файла");
    }
    EXPECT_FALSE(std::filesystem::exists(destination().parent_path()));
    EXPECT_TRUE(server().records()["records"].empty());
}

TEST_F(DownloadTest, RealNginxServesRangesOverTls) {
    for (const uint64_t size : {uint64_t{1}, uint64_t{300000}, kRange + 1}) {
        SCOPED_TRACE(size);
        std::string content(size, '\0');
        for (uint64_t i = 0; i < size; ++i)
            content[i] = static_cast<char>((i * 2654435761u) >> 13);
        const std::string name = "nginx-" + std::to_string(size) + ".bin";
        test::write_file(server().www() / name, content);
        const std::filesystem::path target = folder / std::to_string(size) / "launcher.zip";
        kr::download_file(server().url("nginx", "/" + name), target, size,
                          crypto::sha256_hex(content.data(), content.size()), &progress, &cancel, &bytesDone, "",
                          false);
        EXPECT_EQ(test::read_file(target), content);
        EXPECT_EQ(progress.load(), 1.0f);
        EXPECT_EQ(bytesDone.load(), size);
        std::filesystem::remove(server().www() / name);
    }
}

TEST_F(DownloadTest, RangesSplitAtSixteenMebibytesOverOneConnection) {
    const std::string exact = server().make_file("f", kRange, 1);
    server().script("/exact", {file_answer()});
    download("/exact", kRange, exact);
    EXPECT_EQ(ranges_seen(), (Names{"bytes=0-16777215"}));
    EXPECT_EQ(crypto::sha256_file_hex(destination()), exact);
    std::filesystem::remove(destination());

    server().reset();
    const std::string larger = server().make_file("f", kRange + 1, 2);
    server().script("/larger", {file_answer()});
    download("/larger", kRange + 1, larger);
    EXPECT_EQ(ranges_seen(), (Names{"bytes=0-16777215", "bytes=16777216-16777216"}));
    // One connection at most for both ranges (Wine may even take it from its process-wide pool).
    EXPECT_LE(server().records()["connections"].value("https", 0), 1);
    EXPECT_EQ(crypto::sha256_file_hex(destination()), larger);
    EXPECT_EQ(files_left(), Names{"launcher.zip"});
}

TEST_F(DownloadTest, WholeFileAnswerToTheFirstRangeIsEnough) {
    const std::string digest = server().make_file("f", kRange + 1, 3);
    server().script("/whole", {file_answer({{"ignore_range", true}})});
    download("/whole", kRange + 1, digest);
    EXPECT_EQ(ranges_seen(), Names{"bytes=0-16777215"});
    EXPECT_EQ(crypto::sha256_file_hex(destination()), digest);
}

TEST_F(DownloadTest, DropsResumeFromTheCurrentOffsetTwiceAtMost) {
    const std::string digest = server().make_file("f", 300000, 4);
    server().script("/drops",
                    {file_answer({{"close_after", 100000}}), file_answer({{"close_after", 50000}}), file_answer()});
    download("/drops", 300000, digest);
    EXPECT_EQ(ranges_seen(), (Names{"bytes=0-299999", "bytes=100000-299999", "bytes=150000-299999"}));
    const nlohmann::json seen = server().records()["records"];
    EXPECT_GE((seen[1]["time"].get<double>() - seen[0]["time"].get<double>()) * 1000, 490);
    EXPECT_GE((seen[2]["time"].get<double>() - seen[1]["time"].get<double>()) * 1000, 990);
    EXPECT_EQ(crypto::sha256_file_hex(destination()), digest);
    std::filesystem::remove(destination());

    server().reset();
    server().make_file("f", 300000, 4);
    server().script("/always-drops", {file_answer({{"close_after", 1000}})});
    test::expect_network_error([&] { download("/always-drops", 300000, digest); }, 12030,
                               "Загрузка прервана (WinHTTP 12030)");
    EXPECT_EQ(ranges_seen(), (Names{"bytes=0-299999", "bytes=1000-299999", "bytes=2000-299999"}));
    EXPECT_EQ(files_left(), Names{});
}

TEST_F(DownloadTest, RefusedResumeRestartsTheWholeDownloadThreeTimesAtMost) {
    const std::string digest = server().make_file("f", 300000, 5);
    const nlohmann::json dropped = file_answer({{"close_after", 100000}});
    const nlohmann::json ignored = file_answer({{"ignore_range", true}});
    server().script("/restart", {dropped, ignored, file_answer()});
    download("/restart", 300000, digest);
    EXPECT_EQ(ranges_seen(), (Names{"bytes=0-299999", "bytes=100000-299999", "bytes=0-299999"}));
    EXPECT_EQ(crypto::sha256_file_hex(destination()), digest);
    std::filesystem::remove(destination());

    server().reset();
    server().make_file("f", 300000, 5);
    server().script("/never-resumes", {dropped, ignored, dropped, ignored, dropped, ignored, file_answer()});
    test::expect_error([&] { download("/never-resumes", 300000, digest); },
                       "Сервер не поддерживает продолжение загрузки");
    EXPECT_EQ(ranges_seen().size(), 6u);
    EXPECT_EQ(files_left(), Names{});
}

TEST_F(DownloadTest, WrongDigestIsRetriedTwiceFromZero) {
    const std::string digest = server().make_file("f", 200000, 6);
    // Each answer pauses halfway so that the watcher sees every attempt's progress.
    server().script("/corrupt", {file_answer({{"corrupt", 199999}, {"stall_after", 100000}, {"stall", 0.2}})});
    // What the window shows: the bar and the byte count, sampled together.
    std::vector<std::pair<float, uint64_t>> seen;
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        std::pair<float, uint64_t> last{-1.0f, 0};
        while (!done.load()) {
            const std::pair<float, uint64_t> now{progress.load(), bytesDone.load()};
            if (now != last) seen.push_back(last = now);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    test::expect_error([&] { download("/corrupt", 200000, digest); }, "Файл не прошёл проверку SHA-256");
    done = true;
    watcher.join();
    EXPECT_EQ(ranges_seen().size(), 3u);
    EXPECT_EQ(files_left(), Names{});
    // The bar and the byte count back to 0 before the second and the third attempt (each attempt
    // sleeps first), so that a restarted download never shows the bytes of the one given up.
    int barRestarts = 0;
    int countRestarts = 0;
    for (size_t i = 1; i < seen.size(); ++i) {
        if (seen[i].first == 0.0f && seen[i - 1].first > 0.0f) ++barRestarts;
        if (seen[i].second == 0 && seen[i - 1].second > 0) ++countRestarts;
    }
    EXPECT_EQ(barRestarts, 2);
    EXPECT_EQ(countRestarts, 2);
}

TEST_F(DownloadTest, RefusedAnswersAreNotRetried) {
    const std::string digest = server().make_file("f", 300000, 7);
    struct Case {
        nlohmann::json answer;
        bool official;
        const char* message;
    };
    const Case cases[] = {
        {{{"status", 404}, {"body", "missing"}}, false, "Сервер не отдал файл мода"},
        {{{"status", 404}}, true, "Официальный сервер не отдал файл установки"},
        {{{"status", 302}, {"headers", {{"Location", "/elsewhere"}}}}, false, "Сервер не отдал файл мода"},
        {file_answer({{"headers", {{"Content-Encoding", "gzip"}}}}), false, "Размер файла не совпадает с каталогом"},
        {file_answer({{"content_length", 299999}, {"close_after", 299999}}), false,
         "Размер файла не совпадает с каталогом"},
        {file_answer({{"content_range", "bytes 0-299999/300001"}}), false, "Сервер вернул неверную часть файла"},
        {file_answer({{"content_range", "bytes 0-299999/*"}}), false, "Сервер вернул неверную часть файла"},
        {file_answer({{"content_length", "omit"}, {"extra", 70000}}), false, "Сервер превысил размер части файла"},
        // A transport failure that no retry can mend (an answer that is not HTTP): the range is not
        // asked for again.
        {{{"status", "not-a-status"}}, false, "Не удалось получить ответ сервера (WinHTTP 12152)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        server().reset();
        server().make_file("f", 300000, 7);
        server().script("/refused", {c.answer});
        test::expect_error([&] { download("/refused", 300000, digest, c.official); }, c.message);
        EXPECT_EQ(ranges_seen().size(), 1u);
        EXPECT_EQ(files_left(), Names{});
    }
}

TEST_F(DownloadTest, ExistingDestinationIsNeverReplaced) {
    const std::string digest = server().make_file("f", 1000, 8);
    server().script("/exists", {file_answer()});
    test::write_file(destination(), "mine");
    test::expect_error([&] { download("/exists", 1000, digest); }, "Файл уже существует или папка недоступна");
    EXPECT_EQ(test::read_file(destination()), "mine");
    EXPECT_EQ(files_left(), Names{"launcher.zip"});
}

TEST_F(DownloadTest, CancellationEndsAfterAtMostOneMoreRead) {
    const std::string digest = server().make_file("f", 1000000, 9);
    // The server holds the rest of the body back, so the download is mid-range when cancelled.
    server().script("/slow", {file_answer({{"stall_after", 400000}, {"stall", 2}})});
    auto running = std::async(std::launch::async, [&] { download("/slow", 1000000, digest); });
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (bytesDone.load() == 0 && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const uint64_t atCancel = bytesDone.load();
    cancel = true;
    test::expect_error([&] { running.get(); }, "Загрузка отменена");
    EXPECT_GT(atCancel, 0u);
    EXPECT_LE(atCancel, 400000u);
    EXPECT_LE(bytesDone.load(), atCancel + 65536);
    EXPECT_EQ(ranges_seen().size(), 1u);
    EXPECT_EQ(files_left(), Names{});
}

// The last moment a cancel can still stop the download: the whole file is received and verified, and
// only the rename is left. The download ends cancelled, and neither the file nor its part is left.
TEST_F(DownloadTest, ACancelJustBeforeTheFinalRenameLeavesNoFile) {
    const std::string digest = server().make_file("f", 300000, 11);
    server().script("/whole", {file_answer()});
    struct CancelBeforeRename {
        explicit CancelBeforeRename(std::atomic<bool>& cancel) {
            kr::set_before_rename_hook([&cancel] { cancel = true; });
        }
        ~CancelBeforeRename() { kr::set_before_rename_hook(nullptr); }
    } hook(cancel);
    test::expect_error([&] { download("/whole", 300000, digest); }, "Загрузка отменена");
    EXPECT_EQ(bytesDone.load(), 300000u);
    EXPECT_EQ(files_left(), Names{});
}

// Install folders below a Russian user name are the common case: every file call takes wide paths.
TEST_F(DownloadTest, NonAsciiFolderNames) {
    const std::string digest = server().make_file("f", 70000, 10);
    server().script("/wide", {file_answer()});
    const std::filesystem::path target = folder / L"Пользователь" / L"Программы" / L"launcher.zip";
    kr::download_file(server().url("https", "/wide"), target, 70000, digest, &progress, &cancel, &bytesDone, "", false);
    EXPECT_EQ(crypto::sha256_file_hex(target), digest);
}

}  // namespace

namespace {

// A slow but honest connection never trips the minimum-progress rule, although under Wine each 64 KiB
// read completes only once the whole buffer has arrived (about 3.2 s at 20 KiB/s).
TEST_F(DownloadTest, AnHonestSlowServerIsNeverGivenUp) {
    constexpr uint64_t kSize = 200 * 1024;
    const std::string digest = server().make_file("f", kSize, 11);
    server().script("/slow", {file_answer({{"rate", 20 * 1024}})});
    download("/slow", kSize, digest);
    EXPECT_EQ(crypto::sha256_file_hex(destination()), digest);
    EXPECT_EQ(ranges_seen(), Names{"bytes=0-204799"});
}

// Each rule that keeps a trickling server from holding the download, with nobody pressing Cancel:
// the request that breaks it is given up and the range resumed from where it stopped. The cases
// run side by side (each takes 15 to 30 s of the server's slowness); what decides is when the
// server saw the second request, and from which offset.
TEST_F(DownloadTest, EachSlowServerRuleGivesUpItsRequestAndResumes) {
    constexpr uint64_t kSize = 300000;
    const std::string digest = server().make_file("f", kSize, 13);
    struct Case {
        const char* name;
        const char* path;
        nlohmann::json slow;      // the first answer; the second is the whole honest range
        double givenUpAfter;      // seconds from the first request to the second, at least
        uint64_t resumedAtLeast;  // the second request's first byte, at least
    };
    const Case cases[] = {
        // The idle limit of a request: nothing arrives for 15 s after 100,000 bytes.
        {"stalled", "/stalled", file_answer({{"stall_after", 100000}, {"stall", 100}}), 15.0, 100000},
        // The floor holds in every window, not only the first: 64 KiB at once, then 1 B/s.
        {"fast then 1 B/s", "/fast-then-trickle", file_answer({{"stall_after", 65536}, {"rate", 1}}), 30.0, 65536},
        // The floor's size: 2 KiB/s brings 30 KiB a window, and is given up like 1 B/s.
        {"2 KiB/s", "/two-kib", file_answer({{"rate", 2048}}), 15.0, 20000},
    };
    struct Run {
        test::TempFolder folder;
        std::atomic<float> progress{0.0f};
        std::future<void> done;
    };
    std::vector<std::unique_ptr<Run>> runs;
    for (const Case& c : cases) {
        server().script(c.path, {c.slow, file_answer()});
        auto run = std::make_unique<Run>();
        run->done = std::async(std::launch::async, [this, &c, run = run.get(), &digest] {
            kr::download_file(server().url("https", c.path), run->folder / "launcher.zip", kSize, digest,
                              &run->progress, nullptr, nullptr, "", false);
        });
        runs.push_back(std::move(run));
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        try {
            runs[i]->done.get();
            EXPECT_EQ(crypto::sha256_file_hex(runs[i]->folder / "launcher.zip"), digest);
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
        std::vector<nlohmann::json> seen;
        const nlohmann::json records = server().records();
        for (const auto& record : records["records"]) {
            if (record["path"] == c.path) seen.push_back(record);
        }
        EXPECT_EQ(seen.size(), 2u);
        if (seen.size() != 2) continue;
        const double gap = seen[1]["time"].get<double>() - seen[0]["time"].get<double>();
        std::printf("[ slow     ] %-20s resumed after %.1f s with %s\n", c.name, gap,
                    test::recorded_header(seen[1], "Range").c_str());
        // The pause before a resumed request is half a second; the rest is room for a loaded machine.
        EXPECT_GE(gap, c.givenUpAfter - 0.5);
        EXPECT_LT(gap, c.givenUpAfter + 8.0);
        const std::string range = test::recorded_header(seen[1], "Range");
        EXPECT_EQ(range.rfind("bytes=", 0), 0u) << range;
        EXPECT_GE(std::stoull("0" + range.substr(6)), c.resumedAtLeast) << range;
    }
}

// A server that trickles and also ignores Range: the download starts over from the beginning when
// the resume is refused, and once the attempts are spent the player is told the first, true
// failure (too slow), not that the server cannot resume. The first two attempts fail fast on a
// damaged file so that only the last one trickles.
TEST_F(DownloadTest, ATrickleThatAlsoIgnoresRangesIsReportedAsSlow) {
    constexpr uint64_t kSize = 300000;
    const std::string digest = server().make_file("f", kSize, 14);
    const nlohmann::json damaged = file_answer({{"corrupt", 1000}});
    server().script("/trickle-whole",
                    {damaged, damaged, file_answer({{"rate", 2048}}), file_answer({{"ignore_range", true}})});
    test::expect_network_error([&] { download("/trickle-whole", kSize, digest); }, 12002,
                               "Загрузка прервана (WinHTTP 12002)");
    EXPECT_EQ(ranges_seen().size(), 4u);
    EXPECT_EQ(files_left(), Names{});
}

// A cancel reaches the download while it waits in a pause between two attempts of a range.
TEST_F(DownloadTest, CancelDuringThePauseBetweenAttemptsEndsAtOnce) {
    const std::string digest = server().make_file("f", 300000, 12);
    server().script("/dropping", {file_answer({{"close_after", 1000}})});
    std::future<void> run = std::async(std::launch::async, [&] { download("/dropping", 300000, digest); });
    // The first request ends early at once; the pause before the second lasts half a second.
    while (ranges_seen().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    cancel = true;
    test::expect_error([&] { run.get(); }, "Загрузка отменена");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    EXPECT_EQ(ranges_seen().size(), 1u);
    EXPECT_EQ(files_left(), Names{});
}

}  // namespace
