#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <future>
#include <string>

#include "common/install_state.h"
#include "common/support_log.h"
#include "install/install_worker.h"
#include "tests/support/loopback_server.h"
#include "tests/support/support_log_capture.h"
#include "tests/support/temp_folder.h"

namespace test {

// What every install worker test starts from: a fresh scripted listener, a player's folders in a
// temporary folder (the install folder's parent not made yet), the five values the window shares
// with the task, and the task started as the window starts it.
class WorkerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        server.reset();
        std::filesystem::create_directories(desktopDir);
        std::filesystem::create_directories(programsDir);
    }

    // The install task: install_launcher on a thread of its own, as the window starts it.
    std::future<std::string> start() {
        return std::async(std::launch::async, [this] {
            common::begin_support_log_run();  // as the window's task body does
            return install::install_launcher(installDir, desktopDir, programsDir, &progress, &cancel, &done, &total,
                                             &state);
        });
    }

    LoopbackServer& server = LoopbackServer::get();
    TempFolder temp;
    // Each run's support log, read back from a temporary folder of the test's own.
    SupportLogCapture supportLog{temp / "log"};
    std::filesystem::path installDir = temp / "Apps" / "Korvane Launcher";
    std::filesystem::path desktopDir = temp / "Desktop";
    std::filesystem::path programsDir = temp / "Start Menu" / "Programs";
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{false};
    std::atomic<uint64_t> done{0};
    std::atomic<uint64_t> total{0};
    std::atomic<int32_t> state{common::Idle};
};

}  // namespace test
