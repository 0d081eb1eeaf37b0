// The install worker against release sites that misbehave: a cancel must end the task quickly in
// every wait, and a server that trickles or holds a connection must not hold the installer.
#include "install/install_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/install_state.h"
#include "tests/install/worker_fixture.h"
#include "tests/release/sample_package.h"
#include "tests/release/zip_builder.h"
#include "tests/support/files.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr char kManifestPath[] = "/downloads/launcher-release.json";
constexpr char kPackagePath[] = "/files/launcher.zip";
constexpr char kCancelled[] = "Установка отменена";
constexpr char kDownloadCancelled[] = "Загрузка отменена";
// The player waits at most a second; the rest is room for a loaded machine.
constexpr milliseconds kCancelBound{2000};

// A package of a bit more than 1 MiB that does not compress.
std::vector<test::ZipEntry> package() {
    std::vector<test::ZipEntry> entries = test::sample_package();
    std::string noise(1 << 20, '\0');
    uint32_t seed = 7;
    for (char& c : noise) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    entries.emplace_back("KORLAUNCHER/assets/images/noise.bin", std::move(noise));
    return entries;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class InstallWorkerFaults : public test::WorkerFixture {
protected:
    // The package on the scripted listener with `packageAnswer`; returns its signed manifest.
    nlohmann::json publish(nlohmann::json packageAnswer) {
        const fs::path zip = temp / "published" / "launcher.zip";
        test::write_file(zip, test::build_zip(package()));
        server.serve_copy("launcher", zip);
        packageAnswer["file"] = "launcher";
        server.script(kPackagePath, {packageAnswer});
        return server.signed_manifest(zip, "1.0.0", server.url("https", kPackagePath));
    }

    // The failure's text and how long it took.
    std::pair<std::string, double> failure_of(std::future<std::string>& run) {
        const Clock::time_point start = Clock::now();
        try {
            ADD_FAILURE() << "installed " << run.get();
            return {"", seconds_since(start)};
        } catch (const std::exception& error) {
            return {error.what(), seconds_since(start)};
        }
    }

    bool package_requested() {
        const nlohmann::json seen = server.records();
        for (const auto& record : seen["records"]) {
            if (record["path"] == kPackagePath) return true;
        }
        return false;
    }

    bool nothing_left_beside_the_install_folder() {
        return !fs::exists(installDir.parent_path()) || fs::is_empty(installDir.parent_path());
    }
};

struct Fault {
    const char* name;
    bool inDownload;        // the fault is the package's; otherwise the manifest's
    nlohmann::json answer;  // the faulty answer ("body" of a manifest answer is filled in)
    bool mute = false;      // the release site takes connections and never speaks TLS
};

// Each way a server can keep a request waiting, with the cancel arriving while it waits.
TEST_F(InstallWorkerFaults, CancelEndsTheTaskWithinASecondInEveryWait) {
    const Fault faults[] = {
        {"manifest: request read, never answered", false, {{"hang", true}}},
        {"manifest: TCP accepted, no TLS handshake", false, nlohmann::json::object(), true},
        // Within the manifest's size bound, which refuses a larger announced length at once.
        {"manifest: Content-Length larger than sent, connection held", false, {{"content_length", 8000}}},
        {"manifest at 1 byte/s", false, {{"rate", 1}}},
        {"package: request read, never answered", true, {{"hang", true}}},
        {"package: 256 KiB of 1 MiB sent, connection held", true, {{"stall_after", 262144}, {"stall", 100}}},
        {"package at 1 byte/s", true, {{"rate", 1}}},
        {"package at 2,000 B/s", true, {{"rate", 2000}}},
        {"package at 20,000 B/s", true, {{"rate", 20000}}},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        server.reset();
        cancel = false;
        state = common::Idle;
        const nlohmann::json manifest = publish(fault.inDownload ? fault.answer : nlohmann::json::object());
        nlohmann::json manifestAnswer = fault.inDownload ? nlohmann::json::object() : fault.answer;
        manifestAnswer["body"] = manifest.dump();
        server.script(kManifestPath, {manifestAnswer});
        if (fault.mute) server.mute("release");

        std::future<std::string> run = start();
        if (fault.inDownload) {
            const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
            while (!(state.load() == common::Downloading && package_requested()) && Clock::now() < deadline) {
                std::this_thread::sleep_for(milliseconds(20));
            }
            ASSERT_EQ(state.load(), common::Downloading);
        }
        // Long enough for the worker to sit in the wait the fault makes.
        std::this_thread::sleep_for(milliseconds(1500));
        ASSERT_EQ(run.wait_for(milliseconds(0)), std::future_status::timeout) << "the run ended before the cancel";

        cancel = true;
        const auto [message, elapsed] = failure_of(run);
        std::printf("[ cancel   ] %-60s %.3f s\n", fault.name, elapsed);
        EXPECT_TRUE(message == kCancelled || message == kDownloadCancelled) << message;
        EXPECT_LT(elapsed, std::chrono::duration<double>(kCancelBound).count());
        EXPECT_TRUE(nothing_left_beside_the_install_folder());
    }
}

// Slow retrieval: without any cancel, a trickle ends in an error screen the player can act on.
TEST_F(InstallWorkerFaults, ATrickledManifestFailsWithinItsBound) {
    const nlohmann::json manifest = publish(nlohmann::json::object());
    server.script(kManifestPath, {{{"body", manifest.dump()}, {"rate", 1}}});
    std::future<std::string> run = start();
    const Clock::time_point start = Clock::now();
    const auto [message, ignored] = failure_of(run);
    const double elapsed = seconds_since(start);
    std::printf("[ trickle  ] manifest at 1 byte/s failed after %.1f s: %s\n", elapsed, message.c_str());
    EXPECT_NE(message.find("(WinHTTP 12002)"), std::string::npos) << message;
    EXPECT_LT(elapsed, 40.0);
    EXPECT_TRUE(nothing_left_beside_the_install_folder());
}

TEST_F(InstallWorkerFaults, ATrickledPackageFailsAfterItsRetries) {
    const nlohmann::json manifest = publish({{"rate", 1}});
    server.script(kManifestPath, {{{"body", manifest.dump()}}});
    std::future<std::string> run = start();
    const Clock::time_point start = Clock::now();
    const auto [message, ignored] = failure_of(run);
    const double elapsed = seconds_since(start);
    std::printf("[ trickle  ] package at 1 byte/s failed after %.1f s: %s\n", elapsed, message.c_str());
    EXPECT_EQ(message, "Загрузка прервана (WinHTTP 12002)");
    EXPECT_LT(elapsed, 70.0);  // three windows of 15 s and two pauses, with room for a loaded machine
    int packageRequests = 0;
    const nlohmann::json seen = server.records();
    for (const auto& record : seen["records"]) {
        packageRequests += record["path"] == kPackagePath ? 1 : 0;
    }
    EXPECT_EQ(packageRequests, 3);  // the range's three requests, no more
    EXPECT_TRUE(nothing_left_beside_the_install_folder());
}

}  // namespace
