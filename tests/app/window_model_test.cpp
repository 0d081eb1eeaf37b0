#include <windows.h>
#include <knownfolders.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/window.h"
#include "release/release_site.h"
#include "tests/app/fake_task.h"
#include "tests/app/test_window.h"
#include "text/utf.h"

namespace {

using enum common::InstallState;

TEST(WindowModel, FreshObjectStartsIdleWithTheDefaultFolder) {
    test::TestWindow window;
    EXPECT_EQ(window->state.load(), Idle);
    EXPECT_EQ(window->stateFade, 1.0f);
    EXPECT_EQ(window->mouseX, -1.0f);
    EXPECT_EQ(window->mouseY, -1.0f);
    EXPECT_EQ(window->versionText, L"0.2.77");
    EXPECT_FALSE(window->task_pending());
    EXPECT_EQ(window->scale, 1.0f);
    EXPECT_TRUE(window->canvas.d2dFactory && window->canvas.writeFactory && window->canvas.imagingFactory);
    EXPECT_FALSE(window->canvas.device.renderTarget);

    const std::wstring localAppData = installer::known_folder_path(FOLDERID_LocalAppData).native();
    EXPECT_EQ(window->installDir.native(), localAppData + L"\\Programs\\Korvane Launcher");
    EXPECT_EQ(window->desktopDir, installer::known_folder_path(FOLDERID_Desktop));
    EXPECT_EQ(window->programsDir, installer::known_folder_path(FOLDERID_Programs));
    EXPECT_FALSE(window->desktopDir.empty());
    EXPECT_FALSE(window->programsDir.empty());
}

TEST(WindowModel, DestroyingTheObjectWaitsForARunningTask) {
    fake_task::reset({"1.0.0", ""});
    auto window = std::make_unique<test::TestWindow>();
    (*window)->click(500, 470);
    ASSERT_TRUE(fake_task::wait_started());
    std::thread releaser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        fake_task::release();
    });
    window.reset();
    // The task could only end after the release; the destructor returned after it had.
    EXPECT_EQ(fake_task::finished(), 1);
    releaser.join();
}

// The download screen names the host the program was built to fetch its release from.
TEST(WindowModel, TheScreenModelNamesTheReleaseSite) {
    test::TestWindow window;
    window->state = Downloading;
    const installer::ScreenModel model = window->screen_model();
    EXPECT_EQ(model.siteHost, text::wide_from_utf8(release::release_site_host()));
    EXPECT_FALSE(model.siteHost.empty());
}

}  // namespace
