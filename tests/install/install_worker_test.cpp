// The install worker end to end: a manifest signed by the release tool, a real ZIP package, both
// served over HTTPS by the loopback servers (this executable's built-in release site is the
// loopback "release" listener), real placement and real shortcuts in a temporary folder.
#include "install/install_worker.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "common/install_state.h"
#include "common/long_path.h"
#include "install/cleanup.h"
#include "tests/install/package_fixture.h"
#include "tests/install/worker_fixture.h"
#include "tests/release/sample_package.h"
#include "tests/release/zip_builder.h"
#include "tests/support/files.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unix_link.h"

namespace fs = std::filesystem;

namespace {

constexpr char kManifestPath[] = "/downloads/launcher-release.json";
constexpr char kPackagePath[] = "/files/launcher.zip";
constexpr char kChooseFolder[] = "Выберите папку для лаунчера";
constexpr char kLinkInPath[] = "Папка установки содержит ссылку. Выберите другую папку.";
constexpr char kCancelled[] = "Установка отменена";
constexpr char kDownloadCancelled[] = "Загрузка отменена";
constexpr char kManifestUnavailable[] =
    "Не удалось получить файлы лаунчера. Проверьте подключение и повторите попытку.";
constexpr char kNotSigned[] = "Обновление не подписано издателем";
constexpr char kAnswerTooLarge[] = "Ответ сервера слишком большой";
constexpr char kSignatureInvalid[] = "Подпись обновления недействительна. Установка отменена";
constexpr char kPackageRefused[] = "Официальный сервер не отдал файл установки";
constexpr char kExtractFailed[] = "Не удалось распаковать обновление";
constexpr char kPathNotAllowed[] = "Недопустимый путь обновления";
constexpr char kExecutableHeld[] = "Не удалось заменить KORLAUNCHER.exe (Windows ";

// Megabytes that do not compress, so that checking and unpacking a package takes a good tenth of a
// second even on a fast machine: long enough for a watching thread to see it on a busy one.
std::string incompressible(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return bytes;
}

// The sample package with every file's bytes marked by the release, plus a large asset.
std::vector<test::ZipEntry> package_of(const std::string& release) {
    std::vector<test::ZipEntry> entries = test::sample_package();
    for (test::ZipEntry& entry : entries) {
        if (entry.name.back() != '/') entry.data += release;
    }
    entries.emplace_back("KORLAUNCHER/assets/images/background.png",
                         incompressible(12 << 20, static_cast<uint32_t>(release.size())));
    return entries;
}

// A signed manifest with an extra member of 400,000 empty lists: still validly signed (extra
// members are not), but no manifest is that large.
nlohmann::json padded(nlohmann::json manifest) {
    manifest["a"] = nlohmann::json::array();
    for (int i = 0; i < 400'000; ++i)
        manifest["a"].push_back(nlohmann::json::array());
    return manifest;
}

// What the install folder holds once the package is in place.
test::Tree tree_of(const std::vector<test::ZipEntry>& entries) {
    test::Tree tree;
    for (const test::ZipEntry& entry : entries) {
        const std::string relative = entry.name.substr(std::string("KORLAUNCHER/").size());
        if (!relative.empty() && relative.back() != '/') tree[relative] = entry.data;
    }
    return test::with_folders(std::move(tree));
}

bool wait_until(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    if (fs::exists(folder)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

// Every change of `state` and `stepProgress`, seen by a thread that does nothing but look. The
// first values are taken before the constructor returns, so a run started afterwards cannot slip
// past them.
class StateRecorder {
public:
    struct Step {
        int32_t state;
        float progress;
        bool operator==(const Step&) const = default;
    };

    StateRecorder(const std::atomic<int32_t>& state, const std::atomic<float>& progress)
        : thread_([this, &state, &progress] {
              Step last{state.load(), progress.load()};
              seen_.push_back(last);
              watching_.set_value();
              while (!stop_.load()) {
                  const Step now{state.load(), progress.load()};
                  if (!(now == last)) seen_.push_back(last = now);
              }
          }) {
        watching_.get_future().wait();
    }
    StateRecorder(const StateRecorder&) = delete;
    StateRecorder& operator=(const StateRecorder&) = delete;
    ~StateRecorder() { finish(); }

    void finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    // The states in the order they came, each once.
    std::vector<int32_t> states() const {
        std::vector<int32_t> states;
        for (const Step& step : seen_) {
            if (states.empty() || states.back() != step.state) states.push_back(step.state);
        }
        return states;
    }

    bool saw(const Step& step) const { return std::find(seen_.begin(), seen_.end(), step) != seen_.end(); }

    // The progress when `state` was first seen.
    float progress_entering(int32_t state) const {
        const auto first = std::find_if(seen_.begin(), seen_.end(), [&](const Step& s) { return s.state == state; });
        return first == seen_.end() ? -1.0f : first->progress;
    }

private:
    std::atomic<bool> stop_{false};
    std::promise<void> watching_;
    std::vector<Step> seen_;
    std::thread thread_;
};

// A package answer that stops for a moment after its first 64 KiB.
const nlohmann::json kHeldBack = {{"stall_after", 65536}, {"stall", 0.2}};

class InstallWorker : public test::WorkerFixture {
protected:
    // Publishes a package the way the release site does: the ZIP on the scripted listener and its
    // manifest, signed by the release tool. Returns the manifest.
    nlohmann::json publish(const std::vector<test::ZipEntry>& entries, const std::string& version,
                           nlohmann::json packageAnswer = nlohmann::json::object()) {
        nlohmann::json manifest = publish_package(entries, version, std::move(packageAnswer));
        serve_manifest(manifest);
        return manifest;
    }

    // The package alone, with the manifest that would describe it.
    nlohmann::json publish_package(const std::vector<test::ZipEntry>& entries, const std::string& version,
                                   nlohmann::json packageAnswer = nlohmann::json::object()) {
        const fs::path zip = temp / "published" / (version + ".zip");
        test::write_file(zip, test::build_zip(entries));
        server.serve_copy(version, zip);
        packageAnswer["file"] = version;
        server.script(kPackagePath, {packageAnswer});
        return server.signed_manifest(zip, version, server.url("https", kPackagePath));
    }

    // `delay` holds the answer back, keeping the worker in Preparing for that long.
    void serve_manifest(const nlohmann::json& manifest, double delay = 0) {
        server.script(kManifestPath, {{{"body", manifest.dump()}, {"delay", delay}}});
    }

    // The error text of a run that must fail.
    std::string failure() {
        try {
            const std::string version = start().get();
            ADD_FAILURE() << "installed " << version;
            return "";
        } catch (const std::exception& error) {
            return error.what();
        }
    }

    std::vector<std::string> staging_folders() {
        std::vector<std::string> staging;
        for (const std::string& name : names_in(installDir.parent_path())) {
            if (name.rfind(".korvane-install-", 0) == 0) staging.push_back(name);
        }
        return staging;
    }

    bool shortcuts_exist() const {
        return fs::is_regular_file(desktopDir / "Korvane Launcher.lnk") &&
               fs::is_regular_file(programsDir / "Korvane Launcher.lnk");
    }
};

TEST_F(InstallWorker, InstallsThenUpdatesThroughEveryStepWithAFreshStagingFolderEachRun) {
    // First run: nothing there yet, not even the parent folder. The download is held back a moment
    // so that the staging folder can be seen while it exists.
    const std::vector<test::ZipEntry> first = package_of("first");
    const nlohmann::json firstManifest = publish(first, "0001.04.0002", kHeldBack);
    std::future<std::string> run = start();
    ASSERT_TRUE(wait_until([&] { return state.load() == common::Downloading; }));
    const std::vector<std::string> firstStaging = staging_folders();
    EXPECT_EQ(run.get(), "0001.04.0002");  // the stored text, not a number made from it
    const std::vector<std::vector<std::string>> firstLogged = {
        {" setup Korvane Setup "},
        {" manifest GET https://"},
        {" net attempt 1: through the system's proxy, HTTP 200"},
        {" manifest verified: version 0001.04.0002, size " + std::to_string(firstManifest["size"].get<uint64_t>()),
         "SHA-256 " + firstManifest["sha256"].get<std::string>()},
        {" download range 0-" + std::to_string(firstManifest["size"].get<uint64_t>() - 1), ": HTTP 206, ",
         std::to_string(firstManifest["size"].get<uint64_t>()) + " bytes in "},
        {" package accepted: "},
        {" folder verdict: missing (a first install)"},
        {" place the package folder became the install folder in one move"},
        {" shortcut created ", "Desktop"},
    };
    supportLog.expect_last_run_has(firstLogged);

    EXPECT_EQ(total.load(), firstManifest["size"].get<uint64_t>());
    EXPECT_EQ(done.load(), total.load());
    EXPECT_EQ(state.load(), common::Shortcuts);
    EXPECT_EQ(test::read_tree(installDir), tree_of(first));
    EXPECT_EQ(names_in(installDir.parent_path()), std::vector<std::string>{"Korvane Launcher"});
    EXPECT_TRUE(shortcuts_exist());
    const nlohmann::json requests = server.records()["records"];
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0]["listener"], "release");
    EXPECT_EQ(requests[0]["method"], "GET");
    EXPECT_EQ(requests[0]["path"], kManifestPath);
    EXPECT_EQ(requests[1]["path"], kPackagePath);

    // Second run: an update over it. The manifest and the package are held back a moment, and a
    // running launcher holds its executable until the worker is in the placement step, so that
    // every step lasts long enough to be seen.
    server.reset();
    const std::vector<test::ZipEntry> second = package_of("second");
    const nlohmann::json secondManifest = publish_package(second, "1.5.0", kHeldBack);
    serve_manifest(secondManifest, 0.2);
    progress = 0.0f;
    done = 0;
    total = 0;
    state = common::Idle;
    auto launcher = test::hold_open(installDir / "KORLAUNCHER.exe", FILE_SHARE_READ);
    StateRecorder recorder(state, progress);
    run = start();
    ASSERT_TRUE(wait_until([&] { return state.load() == common::Installing; }));
    const std::vector<std::string> secondStaging = staging_folders();
    launcher.reset();
    EXPECT_EQ(run.get(), "1.5.0");
    const std::vector<std::vector<std::string>> secondLogged = {
        {" manifest verified: version 1.5.0"},     {" folder verdict: an installed launcher (an update)"},
        {" existing files saved in the backup, "}, {" files moved into place, "},
        {" shortcut replaced ", "Desktop"},
    };
    supportLog.expect_last_run_has(secondLogged);

    recorder.finish();
    EXPECT_EQ(recorder.states(), (std::vector<int32_t>{common::Idle, common::Preparing, common::Downloading,
                                                       common::Verifying, common::Installing, common::Shortcuts}));
    // The download leaves its bar full; the placement's starts empty again, and stays so while the
    // old files are saved, before its first write.
    EXPECT_EQ(recorder.progress_entering(common::Verifying), 1.0f);
    EXPECT_TRUE(recorder.saw({common::Installing, 0.0f}));
    EXPECT_EQ(recorder.progress_entering(common::Shortcuts), 1.0f);
    EXPECT_EQ(total.load(), secondManifest["size"].get<uint64_t>());
    EXPECT_EQ(test::read_tree(installDir), tree_of(second));
    EXPECT_EQ(names_in(installDir.parent_path()), std::vector<std::string>{"Korvane Launcher"});
    EXPECT_TRUE(shortcuts_exist());

    ASSERT_EQ(firstStaging.size(), 1u);
    ASSERT_EQ(secondStaging.size(), 1u);
    EXPECT_EQ(firstStaging[0].size(), std::string(".korvane-install-").size() + 24);
    EXPECT_EQ(firstStaging[0].find_first_not_of("0123456789abcdef", 17), std::string::npos);
    EXPECT_NE(firstStaging[0], secondStaging[0]);
}

// Refusals that must come before the worker reaches the network or makes any folder.
class RefusedBeforeAnyRequest : public InstallWorker {
protected:
    void expect_refused(const std::string& message) {
        EXPECT_EQ(failure(), message);
        EXPECT_TRUE(server.records()["records"].empty());
        // The worker publishes no state before its checks pass (the window shows Preparing itself).
        EXPECT_EQ(state.load(), common::Idle);
        EXPECT_EQ(total.load(), 0u);
    }
};

TEST_F(RefusedBeforeAnyRequest, FolderThatIsARootOrEndsInASeparator) {
    for (const fs::path& folder : {fs::path(L"C:\\"), temp / L"Games\\"}) {
        SCOPED_TRACE(folder.string());
        installDir = folder;
        expect_refused(kChooseFolder);
    }
    EXPECT_FALSE(fs::exists(temp / "Games"));
}

TEST_F(RefusedBeforeAnyRequest, LinkOnTheWayToTheFolder) {
    fs::create_directories(temp / "elsewhere");
    const test::UnixLink link(temp / "link", temp / "elsewhere");
    installDir = link.path() / "Apps" / "Korvane Launcher";
    expect_refused(kLinkInPath);
    EXPECT_TRUE(fs::is_empty(temp / "elsewhere"));
}

TEST_F(RefusedBeforeAnyRequest, CancelAlreadyRequested) {
    cancel = true;
    expect_refused(kCancelled);
    EXPECT_FALSE(fs::exists(installDir.parent_path()));
}

// Failures after the folder checks: whatever the worker made beside the install folder is gone.
TEST_F(InstallWorker, FailedRunsLeaveNoStagingFolder) {
    const fs::path fileForDesktop = temp / "Desktop.txt";
    std::vector<test::ZipEntry> badCrc = package_of("bad crc");
    badCrc.back().crc = 0x12345678;  // the release tool refuses to sign this; plain openssl does

    std::vector<test::ZipEntry> strayFile = package_of("stray file");
    strayFile.emplace_back("KORLAUNCHER/readme.txt", "not a place the launcher has");

    struct Case {
        const char* name;
        std::function<void()> publishRelease;
        std::string message;
        size_t requests;
        std::vector<std::string> logged;  // what one line of the run's support log names
    };
    const std::vector<Case> cases = {
        {"manifest answered 404",
         [&] {
             server.script(kManifestPath, {{{"status", 404}}});
         },
         kManifestUnavailable,
         1,
         {" manifest refused: HTTP 404"}},
        {"manifest body not JSON",
         [&] {
             server.script(kManifestPath, {{{"body", "<html>"}}});
         },
         kNotSigned,
         1,
         {" manifest refused (6 bytes received): ", kNotSigned}},
        // A signed manifest padded with an extra member is refused before it is parsed, whether its
        // length is announced or it simply goes on.
        {"signed manifest padded past 1 MiB",
         [&] { serve_manifest(padded(publish_package(package_of("padded"), "1.0.0"))); },
         kAnswerTooLarge,
         1,
         {" manifest no answer to use: ", kAnswerTooLarge}},
        {"signed manifest padded past 1 MiB, no Content-Length",
         [&] {
             const nlohmann::json manifest = padded(publish_package(package_of("padded"), "1.0.0"));
             server.script(kManifestPath, {{{"body", manifest.dump()}, {"content_length", "omit"}}});
         },
         kAnswerTooLarge,
         1,
         {" manifest no answer to use: ", kAnswerTooLarge}},
        {"signature altered",
         [&] {
             nlohmann::json manifest = publish_package(package_of("altered"), "1.0.0");
             std::string signature = manifest["signature"];
             signature[10] = signature[10] == '0' ? '1' : '0';
             manifest["signature"] = signature;
             serve_manifest(manifest);
         },
         kSignatureInvalid,
         1,
         {" manifest refused (", kSignatureInvalid}},
        {"package answered 404",
         [&] {
             publish(package_of("missing"), "1.0.0", {{"status", 404}});
         },
         kPackageRefused,
         2,
         {" download range 0-", ": HTTP 404, stopped at byte 0 after 0 bytes"}},
        {"package entry fails its CRC",
         [&] {
             const fs::path zip = temp / "published" / "bad-crc.zip";
             test::write_file(zip, test::build_zip(badCrc));
             server.serve_copy("bad-crc", zip);
             server.script(kPackagePath, {{{"file", "bad-crc"}}});
             serve_manifest(server.signed_manifest(zip, "1.0.0", server.url("https", kPackagePath), true));
         },
         kExtractFailed,
         2,
         {" package entry ", "its data is damaged (size or CRC-32)", kExtractFailed}},
        {"package with a file where the launcher has none",
         [&] {
             const fs::path zip = temp / "published" / "stray.zip";
             test::write_file(zip, test::build_zip(strayFile));
             server.serve_copy("stray", zip);
             server.script(kPackagePath, {{{"file", "stray"}}});
             serve_manifest(server.signed_manifest(zip, "1.0.0", server.url("https", kPackagePath), true));
         },
         kPathNotAllowed,
         2,
         {" package refused: entry ", "\"KORLAUNCHER/readme.txt\"", "the rule \"not an allowed place\"",
          kPathNotAllowed}},
        // The placement fails before it has saved anything: nothing worth keeping.
        {"Desktop is a file",
         [&] {
             publish(package_of("no desktop"), "1.0.0");
             desktopDir = fileForDesktop;
             test::write_file(desktopDir, "not a folder");
         },
         "filesystem error: create_directories: Not a directory [" + fileForDesktop.string() + "]",
         2,
         {" shortcut failed: filesystem error: create_directories"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.reset();
        c.publishRelease();
        state = common::Preparing;
        EXPECT_EQ(failure(), c.message);
        supportLog.expect_last_run_has({c.logged});
        EXPECT_EQ(server.records()["records"].size(), c.requests);
        // The run made the install folder's parent: it is gone again.
        EXPECT_FALSE(fs::exists(installDir.parent_path()));
        EXPECT_FALSE(shortcuts_exist());
    }
}

TEST_F(InstallWorker, CancelDuringTheDownloadLeavesNothingBehind) {
    publish(package_of("cancelled"), "1.0.0", kHeldBack);
    std::future<std::string> run = start();
    ASSERT_TRUE(wait_until([&] { return state.load() == common::Downloading; }));
    cancel = true;
    try {
        ADD_FAILURE() << "installed " << run.get();
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), kDownloadCancelled);  // the download's own word; the window shows none
    }
    EXPECT_EQ(state.load(), common::Downloading);
    EXPECT_FALSE(fs::exists(installDir.parent_path()));
    EXPECT_FALSE(shortcuts_exist());
}

// A first install into a folder whose parents do not exist makes them; a failed run takes away
// exactly those, and only while they are empty.
TEST_F(InstallWorker, AFailedRunRemovesOnlyTheEmptyFoldersItMade) {
    const fs::path games = temp / "Games";
    installDir = games / "New" / "Deeper" / "Korvane Launcher";
    struct Case {
        const char* name;
        test::Tree before;  // below Games; empty: Games does not exist
        std::vector<std::string> after;
    };
    const Case cases[] = {
        {"nothing above existed", {}, {}},
        {"Games held the player's file", {{"notes.txt", "mine"}}, {"notes.txt"}},
        {"New existed, empty", {{"New/", ""}}, {"New"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.reset();
        fs::remove_all(games);
        if (!c.before.empty()) test::write_tree(games, c.before);
        publish(package_of("missing"), "1.0.0", {{"status", 404}});
        EXPECT_EQ(failure(), kPackageRefused);
        EXPECT_EQ(names_in(games), c.after);
        if (c.before.count("New/") != 0) {
            EXPECT_TRUE(fs::is_empty(games / "New"));
        }
    }
}

TEST_F(InstallWorker, UpdateWhoseUndoRestoredEveryFileLeavesNothingBehind) {
    const test::Tree installed = tree_of(package_of("installed"));
    test::write_tree(installDir, installed);
    publish(package_of("update"), "1.5.0");
    // A launcher that keeps running: its executable, replaced after every other file, can be read
    // and saved but never replaced, so the placement gives up and puts the saved files back.
    const auto launcher = test::hold_open(installDir / "KORLAUNCHER.exe", FILE_SHARE_READ);
    const std::string error = failure();
    EXPECT_EQ(error.rfind(kExecutableHeld, 0), 0u) << error;
    // Support reads which file was held, how long it was waited for, and that the undo was whole.
    const std::vector<std::vector<std::string>> logged = {
        {" place KORLAUNCHER.exe is held by another program (Windows ", "up to 50 attempts"},
        {" place cannot move ", "KORLAUNCHER.exe: Windows ", " at attempt 50 of 50"},
        {" place failed: ", kExecutableHeld},
        {" place undo complete: "},
    };
    supportLog.expect_last_run_has(logged);

    EXPECT_EQ(test::read_tree(installDir), installed);
    EXPECT_FALSE(shortcuts_exist());
    EXPECT_EQ(names_in(installDir.parent_path()), std::vector<std::string>{"Korvane Launcher"});
}

// A launcher that will not let go of its executable: the placement waits for it, and a cancel ends
// that wait at once; the undo then puts every replaced file back.
TEST_F(InstallWorker, CancelWhileWaitingForAHeldFileEndsWithinASecond) {
    const test::Tree installed = tree_of(package_of("installed"));
    test::write_tree(installDir, installed);
    publish(package_of("update"), "1.5.0");
    const auto launcher = test::hold_open(installDir / "KORLAUNCHER.exe", FILE_SHARE_READ);
    std::future<std::string> run = start();
    ASSERT_TRUE(wait_until([&] { return state.load() == common::Installing && progress.load() > 0.5f; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // well inside the five seconds of waiting
    ASSERT_EQ(run.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    // A second installer's cleanup passes over both staging folders of this run, the one beside the
    // install folder and the one inside it that the files are moved from.
    EXPECT_EQ(install::remove_stale_staging_folders(installDir.parent_path()).size(), 1u);
    EXPECT_EQ(install::remove_stale_staging_folders(installDir).size(), 1u);
    const auto pressed = std::chrono::steady_clock::now();
    cancel = true;
    std::string error;
    try {
        ADD_FAILURE() << "installed " << run.get();
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - pressed).count();
    std::printf("[ cancel   ] waiting for a held executable: ended %.3f s after the cancel\n", elapsed);
    EXPECT_EQ(error, kCancelled);
    EXPECT_LT(elapsed, 2.0);  // the player waits at most a second; the rest is room for a loaded machine
    EXPECT_EQ(test::read_tree(installDir), installed);
    EXPECT_EQ(names_in(installDir.parent_path()), std::vector<std::string>{"Korvane Launcher"});
}

TEST_F(InstallWorker, UpdateWhoseUndoIsIncompleteKeepsTheStagingFolderItNames) {
    const test::Tree installed = tree_of(package_of("installed"));
    test::write_tree(installDir, installed);
    publish(package_of("update"), "1.5.0");
    auto launcher = test::hold_open(installDir / "KORLAUNCHER.exe", FILE_SHARE_READ);
    std::future<std::string> run = start();
    // Every other file is in place and the executable is being waited for: a saved copy that goes
    // missing now cannot be put back by the undo.
    const test::Tree update = tree_of(package_of("update"));
    const auto files =
        std::count_if(update.begin(), update.end(), [](const auto& entry) { return entry.first.back() != '/'; });
    const float allButOne = static_cast<float>(files - 1) / static_cast<float>(files);
    ASSERT_TRUE(
        wait_until([&] { return state.load() == common::Installing && progress.load() >= allButOne - 0.001f; }));
    const std::vector<std::string> staging = staging_folders();
    ASSERT_EQ(staging.size(), 1u);
    const fs::path kept = installDir.parent_path() / staging[0];
    ASSERT_TRUE(fs::remove(kept / "previous" / "launcher.json"));
    std::string error;
    try {
        ADD_FAILURE() << "installed " << run.get();
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    launcher.reset();

    EXPECT_EQ(error,
              std::string("Не удалось восстановить файлы. Резервная копия сохранена: ") + (kept / "previous").string());
    test::Tree saved = installed;
    saved.erase("launcher.json");
    EXPECT_EQ(test::read_tree(kept / "previous"), saved);
    EXPECT_TRUE(fs::is_regular_file(kept / "launcher.zip"));
    EXPECT_EQ(test::read_tree(kept / "payload"), tree_of(package_of("update")));
    test::Tree restored = installed;
    restored["launcher.json"] = tree_of(package_of("update")).at("launcher.json");
    EXPECT_EQ(test::read_tree(installDir), restored);

    // The folder the message named is the player's now: a later successful run passes it over...
    server.reset();
    publish(package_of("later"), "1.6.0");
    EXPECT_EQ(start().get(), "1.6.0");
    EXPECT_EQ(test::read_tree(kept / "previous"), saved);
    EXPECT_EQ(names_in(installDir.parent_path()), (std::vector<std::string>{staging[0], "Korvane Launcher"}));
    // ...until the player has taken the saved files away; then the rest of it is a leftover.
    fs::remove_all(kept / "previous");
    fs::create_directories(kept / "previous" / "assets");
    EXPECT_EQ(install::remove_stale_staging_folders(installDir.parent_path()), std::vector<fs::path>{});
    EXPECT_FALSE(fs::exists(kept));
}

TEST_F(InstallWorker, ReadOnlyFilesNeitherBlockTheUpdateNorItsCleanup) {
    test::write_tree(installDir, tree_of(package_of("installed")));
    for (const char* file : {"launcher.json", "KORLAUNCHER.exe"}) {
        const fs::path path = installDir / file;
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    publish(package_of("update"), "1.5.0");

    EXPECT_EQ(start().get(), "1.5.0");
    EXPECT_EQ(test::read_tree(installDir), tree_of(package_of("update")));
    EXPECT_EQ(names_in(installDir.parent_path()), std::vector<std::string>{"Korvane Launcher"});
}

// What killed and failed runs leave: staging folders beside and inside the install folder (with
// part files and read-only saved copies) and hidden shortcut temporaries. Names the program does
// not make, and links, stay.
TEST_F(InstallWorker, SuccessfulRunRemovesTheLeftoversOfEarlierRunsAndNothingElse) {
    const fs::path apps = installDir.parent_path();
    const test::Tree installed = tree_of(package_of("installed"));
    test::write_tree(installDir, installed);
    const test::Tree leftover = {{"launcher.zip.part-0123456789abcdef", "part"}, {"previous/launcher.json", "saved"}};
    const std::vector<fs::path> leftoverFolders = {apps / ".korvane-install-0123456789abcdef01234567",
                                                   apps / ".korvane-install-aaaaaaaaaaaaaaaaaaaaaaaa",
                                                   installDir / ".korvane-install-bbbbbbbbbbbbbbbbbbbbbbbb"};
    for (const fs::path& folder : leftoverFolders) {
        test::write_tree(folder, leftover);
        const fs::path saved = folder / "previous" / "launcher.json";
        ASSERT_TRUE(SetFileAttributesW(saved.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    const test::Tree foreign = {{"notes.txt", "mine"}, {".korvane-install-mine/keep.txt", "mine"}};
    test::write_tree(apps / "Other Game", foreign);
    test::write_file(apps / ".korvane-install-cccccccccccccccccccccccc", "a file of that name is not ours");
    for (const fs::path& folder : {desktopDir, programsDir}) {
        test::write_file(folder / ".Korvane-Launcher-0123456789abcdef.lnk", "killed before the move");
        test::write_file(folder / ".Korvane-Launcher-0123456789abcdef.bak", "old link moved aside");
        test::write_file(folder / "Other Game.lnk", "someone else's");
    }
    test::TempFolder disposable;
    test::write_file(disposable / "slot1.sav", "progress");
    publish(package_of("update"), "1.5.0");
    {
        const test::UnixLink link(apps / ".korvane-install-dddddddddddddddddddddddd", disposable.path());
        EXPECT_EQ(start().get(), "1.5.0");
        EXPECT_TRUE(fs::exists(link.path()));
    }

    EXPECT_EQ(test::read_tree(installDir), tree_of(package_of("update")));
    EXPECT_EQ(names_in(apps), (std::vector<std::string>{".korvane-install-cccccccccccccccccccccccc", "Korvane Launcher",
                                                        "Other Game"}));
    EXPECT_EQ(test::read_tree(apps / "Other Game"), test::with_folders(foreign));
    EXPECT_EQ(test::read_tree(disposable.path()), test::Tree({{"slot1.sav", "progress"}}));
    for (const fs::path& folder : {desktopDir, programsDir}) {
        EXPECT_EQ(names_in(folder), (std::vector<std::string>{"Korvane Launcher.lnk", "Other Game.lnk"}));
    }
}

// Deeper than MAX_PATH below the install folder: installed, updated, updated again, each run
// through download, extraction, placement with backup, and cleanup.
TEST_F(InstallWorker, PackageWithAPathPastMaxPathInstallsAndUpdates) {
    const std::string deep =
        "assets/" + std::string(90, 'a') + "/" + std::string(90, 'b') + "/" + std::string(90, 'c') + "/deep.bin";
    const auto release = [&](const std::string& name) {
        std::vector<test::ZipEntry> entries = test::sample_package();
        for (test::ZipEntry& entry : entries) {
            if (entry.name.back() != '/') entry.data += name;
        }
        entries.emplace_back("KORLAUNCHER/" + deep, "deep file of " + name);
        return entries;
    };
    const fs::path longest = installDir / deep;
    ASSERT_GE(fs::absolute(longest).native().size(), 330u);
    const fs::path tree = common::extended_length_path(installDir);

    for (const std::string name : {"first", "second", "third"}) {
        SCOPED_TRACE(name);
        server.reset();
        publish(release(name), "1.0.0");
        EXPECT_EQ(start().get(), "1.0.0");
        EXPECT_EQ(test::read_tree(tree), tree_of(release(name)));
        EXPECT_EQ(names_in(installDir.parent_path()), std::vector<std::string>{"Korvane Launcher"});
    }
    // Short enough again for the temporary folder's own removal.
    ASSERT_TRUE(MoveFileW(common::extended_length_path(installDir / "assets" / std::string(90, 'a')).c_str(),
                          common::extended_length_path(installDir / "assets" / "a").c_str()));
}

}  // namespace
