#include <gtest/gtest.h>

#include "app/folder_choice.h"
#include "app/window.h"
#include "tests/app/fake_task.h"
#include "tests/app/test_window.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace {

using enum common::InstallState;

constexpr float kEnterX = 500;
constexpr float kEnterY = 470;

class WindowCommands : public ::testing::Test {
protected:
    void SetUp() override { fake_task::reset({"1.4.2", ""}); }
    void TearDown() override { fake_task::release(); }

    void start() {
        window->click(kEnterX, kEnterY);
        ASSERT_TRUE(window->task_pending());
        ASSERT_TRUE(fake_task::wait_started());
    }
    void finish() {
        fake_task::release();
        ASSERT_TRUE(window.tick_until_task_taken());
    }
    // As if the moment in which a second press counts as part of the starting one had passed.
    void settle() { window->installStartedAt -= installer::kStartSettleNanoseconds; }

    test::TestWindow window;
};

TEST_F(WindowCommands, StartResetsTheCountersAndSuccessShowsTheVersion) {
    window->stepProgress = 0.7f;
    window->bytesDone = 5;
    window->bytesTotal = 9;
    window->cancelRequested = true;
    window->errorText = L"old";
    window->shownProgress = 0.9f;
    start();
    EXPECT_EQ(window->state.load(), Preparing);
    EXPECT_EQ(window->stepProgress.load(), 0.0f);
    EXPECT_EQ(window->bytesDone.load(), 0u);
    EXPECT_EQ(window->bytesTotal.load(), 0u);
    EXPECT_FALSE(window->cancelRequested.load());
    EXPECT_TRUE(window->errorText.empty());
    EXPECT_EQ(window->shownProgress, 0.0f);
    EXPECT_EQ(fake_task::last_install_dir(), window->installDir);

    // The task works on its own copy: changing the folder now does not reach it.
    const auto original = window->installDir;
    window->installDir = L"C:\\Elsewhere";
    finish();
    EXPECT_EQ(fake_task::last_install_dir(), original);
    EXPECT_EQ(window->state.load(), Done);
    EXPECT_EQ(window->versionText, L"1.4.2");
    EXPECT_TRUE(window.alive());
}

TEST_F(WindowCommands, FailureShowsItsMessageAndRetryStartsAgain) {
    fake_task::reset({"", "Сервер обновлений недоступен"});
    start();
    finish();
    EXPECT_EQ(window->state.load(), Failed);
    EXPECT_EQ(window->errorText, L"Сервер обновлений недоступен");
    fake_task::reset({"2.0.0", ""});
    start();
    EXPECT_EQ(window->state.load(), Preparing);
    EXPECT_TRUE(window->errorText.empty());
    finish();
    EXPECT_EQ(window->state.load(), Done);
}

TEST_F(WindowCommands, AMessageThatIsNotUtf8StillEndsOnTheErrorScreen) {
    fake_task::reset({"", "\xff\xfe broken"});
    start();
    finish();
    EXPECT_EQ(window->state.load(), Failed);
    EXPECT_EQ(window->errorText, L"Некорректный UTF-8");
}

TEST_F(WindowCommands, PrimaryButtonDuringAnInstallOnlyRequestsCancel) {
    fake_task::end_on_cancel();
    start();
    window->state = Downloading;  // as the worker would have set it
    settle();
    window->click(kEnterX, kEnterY);
    EXPECT_TRUE(window->cancelRequested.load());
    EXPECT_EQ(window->state.load(), Downloading);
    EXPECT_FALSE(window->closeRequested);
    ASSERT_TRUE(window.tick_until_task_taken());
    EXPECT_EQ(window->state.load(), Idle);
    EXPECT_TRUE(window->errorText.empty());
    EXPECT_EQ(fake_task::runs(), 1);
}

TEST_F(WindowCommands, ACancelledInstallFailingForAnotherReasonReturnsToIdleSilently) {
    fake_task::reset({"", "Не удалось скачать пакет"});
    start();
    settle();
    window->click(kEnterX, kEnterY);
    finish();
    EXPECT_EQ(window->state.load(), Idle);
    EXPECT_TRUE(window->errorText.empty());
}

TEST_F(WindowCommands, ACancelledInstallThatSucceedsAnywayIsDone) {
    start();
    settle();
    window->click(kEnterX, kEnterY);
    finish();
    EXPECT_EQ(window->state.load(), Done);
}

TEST_F(WindowCommands, HoldingEnterStartsTheInstallAndNeverCancelsIt) {
    const HWND hwnd = window->hwnd;
    constexpr LPARAM kRepeat = 0x40000001;  // the key was already down; repeat count 1
    ::SendMessageW(hwnd, WM_KEYDOWN, VK_RETURN, 1);
    ASSERT_TRUE(window->task_pending());
    ASSERT_TRUE(fake_task::wait_started());
    // The keyboard's auto-repeat, well past the moment after the start.
    for (int i = 0; i < 30; ++i) {
        ::SendMessageW(hwnd, WM_KEYDOWN, VK_RETURN, kRepeat);
        ::Sleep(33);
    }
    EXPECT_FALSE(window->cancelRequested.load());
    // Released and pressed again: a new press cancels.
    ::SendMessageW(hwnd, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC0000001));
    ::SendMessageW(hwnd, WM_KEYDOWN, VK_RETURN, 1);
    EXPECT_TRUE(window->cancelRequested.load());
    EXPECT_EQ(fake_task::runs(), 1);
}

// A double-click on "Установить лаунчер" starts the install; its second click does not cancel it.
TEST_F(WindowCommands, ADoubleClickOnStartDoesNotCancel) {
    for (int apart : {150, 300}) {
        SCOPED_TRACE(apart);
        fake_task::reset({"1.4.2", ""});
        test::TestWindow fresh;
        ::SendMessageW(fresh->hwnd, WM_LBUTTONUP, 0, MAKELPARAM(500, 470));
        ASSERT_TRUE(fresh->task_pending());
        ::Sleep(static_cast<DWORD>(apart));
        ::SendMessageW(fresh->hwnd, WM_LBUTTONUP, 0, MAKELPARAM(500, 470));
        EXPECT_FALSE(fresh->cancelRequested.load());
        // A deliberate click a moment later still cancels.
        ::Sleep(700);
        ::SendMessageW(fresh->hwnd, WM_LBUTTONUP, 0, MAKELPARAM(500, 470));
        EXPECT_TRUE(fresh->cancelRequested.load());
        fake_task::release();
        ASSERT_TRUE(fresh.tick_until_task_taken());
    }
}

TEST_F(WindowCommands, ClosingDuringAnInstallWaitsForTheTask) {
    fake_task::end_on_cancel();
    start();
    ::SendMessageW(window->hwnd, WM_CLOSE, 0, 0);
    EXPECT_TRUE(window->cancelRequested.load());
    EXPECT_TRUE(window->closeRequested);
    EXPECT_TRUE(window.alive());
    ASSERT_TRUE(window.tick_until_task_taken());
    EXPECT_FALSE(window.alive());
}

// The undo after a cancel could not put every file back: the player must learn where the saved
// copies lie, whether they pressed Cancel or closed the window.
TEST_F(WindowCommands, AnIncompleteRestoreIsShownAfterACancelAndAfterAClose) {
    const std::string message = "Не удалось восстановить файлы. Резервная копия сохранена: C:\\Apps\\previous";
    const std::wstring shown = L"Не удалось восстановить файлы. Резервная копия сохранена: C:\\Apps\\previous";
    struct Case {
        const char* name;
        void (*act)(installer::Window&);
    };
    const Case cases[] = {
        {"cancel", [](installer::Window& w) { w.click(kEnterX, kEnterY); }},
        {"close glyph", [](installer::Window& w) { w.click(840, 30); }},
        {"WM_CLOSE", [](installer::Window& w) { ::SendMessageW(w.hwnd, WM_CLOSE, 0, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake_task::reset({"", message, true});
        fake_task::end_on_cancel();
        start();
        window->state = Installing;
        settle();
        c.act(*window);
        ASSERT_TRUE(window->cancelRequested.load());
        ASSERT_TRUE(window.tick_until_task_taken());
        ASSERT_TRUE(window.alive());
        EXPECT_EQ(window->state.load(), Failed);
        EXPECT_EQ(window->errorText, shown);
        EXPECT_FALSE(window->closeRequested);
    }
    // Seen: a second close closes.
    ::SendMessageW(window->hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(window.alive());
}

TEST_F(WindowCommands, CloseRequestsWithoutATaskDestroyTheWindow) {
    struct Case {
        const char* name;
        void (*act)(installer::Window&);
    };
    const Case cases[] = {
        {"close glyph", [](installer::Window& w) { w.click(840, 30); }},
        {"Escape", [](installer::Window& w) { ::SendMessageW(w.hwnd, WM_KEYDOWN, VK_ESCAPE, 0); }},
        {"WM_CLOSE", [](installer::Window& w) { ::SendMessageW(w.hwnd, WM_CLOSE, 0, 0); }},
    };
    for (const Case& c : cases) {
        test::TestWindow fresh;
        c.act(*fresh);
        EXPECT_FALSE(fresh.alive()) << c.name;
    }
}

TEST_F(WindowCommands, DoneScreenButtons) {
    start();
    finish();
    ASSERT_EQ(window->state.load(), Done);
    // The gap between the launch button and "Закрыть" does nothing.
    for (float x : {664.0f, 670.0f, 680.9f}) {
        window->click(x, 470);
        EXPECT_TRUE(window.alive()) << x;
        EXPECT_EQ(window->state.load(), Done) << x;
        EXPECT_FALSE(window->task_pending()) << x;
    }
    EXPECT_TRUE(fake_task::last_launched().empty());

    // A launch failure turns into the error screen; the window stays.
    fake_task::set_launch_error("Исполняемый файл не найден. Укажите путь в настройках.");
    window->click(kEnterX, kEnterY);
    EXPECT_EQ(fake_task::last_launched(), window->installDir / L"KORLAUNCHER.exe");
    EXPECT_EQ(window->state.load(), Failed);
    EXPECT_EQ(window->errorText, L"Исполняемый файл не найден. Укажите путь в настройках.");
    EXPECT_TRUE(window.alive());
}

TEST_F(WindowCommands, DoneScreenLaunchesAndCloses) {
    start();
    finish();
    window->click(kEnterX, kEnterY);
    EXPECT_EQ(fake_task::last_launched(), window->installDir / L"KORLAUNCHER.exe");
    EXPECT_FALSE(window.alive());
}

TEST_F(WindowCommands, EnterDoesWhatTheScreensPrimaryButtonDoes) {
    const auto enter = [this] { ::SendMessageW(window->hwnd, WM_KEYDOWN, VK_RETURN, 1); };
    // Start screen: the install starts; error screen: "Повторить" starts it again.
    const fake_task::Ending runs[] = {{"", "Сервер обновлений недоступен"}, {"1.4.2", ""}};
    for (const fake_task::Ending& ending : runs) {
        fake_task::reset(ending);
        enter();
        ASSERT_TRUE(window->task_pending());
        ASSERT_TRUE(fake_task::wait_started());
        finish();
        ASSERT_EQ(window->state.load(), ending.error.empty() ? Done : Failed);
    }
    // Result screen: "Запустить лаунчер", not "Закрыть" beside it.
    enter();
    EXPECT_EQ(fake_task::last_launched(), window->installDir / L"KORLAUNCHER.exe");
    EXPECT_FALSE(window.alive());
}

TEST_F(WindowCommands, DoneScreenCloseButton) {
    start();
    finish();
    window->click(700, 470);
    EXPECT_FALSE(window.alive());
    EXPECT_TRUE(fake_task::last_launched().empty());
}

TEST_F(WindowCommands, TheTopBandDragsTheWindowExceptTheCloseGlyph) {
    RECT frame{};
    ::GetWindowRect(window->hwnd, &frame);
    const auto hit = [&](int x, int y) {
        return ::SendMessageW(window->hwnd, WM_NCHITTEST, 0, MAKELPARAM(frame.left + x, frame.top + y));
    };
    EXPECT_EQ(hit(100, 40), HTCAPTION);
    EXPECT_EQ(hit(600, 73), HTCAPTION);
    EXPECT_EQ(hit(840, 30), HTCLIENT);
    EXPECT_EQ(hit(100, 74), HTCLIENT);
    EXPECT_EQ(hit(500, 470), HTCLIENT);
}

TEST_F(WindowCommands, MouseMoveStoresLogicalPosition) {
    window->scale = 2.0f;
    ::SendMessageW(window->hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(1000, 940));
    EXPECT_EQ(window->mouseX, 500.0f);
    EXPECT_EQ(window->mouseY, 470.0f);
    // A click is scaled the same way: device (1000, 940) is the primary button.
    ::SendMessageW(window->hwnd, WM_LBUTTONUP, 0, MAKELPARAM(1000, 940));
    EXPECT_TRUE(window->task_pending());
}

TEST_F(WindowCommands, TheHandCursorMarksWhatAClickWouldDo) {
    const HCURSOR hand = ::LoadCursorW(nullptr, IDC_HAND);
    const HCURSOR arrow = ::LoadCursorW(nullptr, IDC_ARROW);
    const auto cursor_at = [&](int x, int y) {
        ::SendMessageW(window->hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
        return ::GetCursor();
    };
    EXPECT_EQ(cursor_at(500, 470), hand);
    EXPECT_EQ(cursor_at(840, 30), hand);
    EXPECT_EQ(cursor_at(780, 330), hand);
    EXPECT_EQ(cursor_at(700, 200), arrow);
    start();
    EXPECT_EQ(cursor_at(780, 330), arrow);  // no folder change while installing
    EXPECT_EQ(cursor_at(500, 470), hand);
    finish();
    ASSERT_EQ(window->state.load(), Done);
    EXPECT_EQ(cursor_at(757, 473), hand);   // "Закрыть"
    EXPECT_EQ(cursor_at(600, 473), hand);   // "Запустить лаунчер"
    EXPECT_EQ(cursor_at(670, 473), arrow);  // the gap between them, where a click does nothing
    // The change-folder region does nothing on this screen (and lies over its text).
    EXPECT_EQ(cursor_at(780, 330), arrow);
    window->click(780, 330);
    EXPECT_EQ(window->state.load(), Done);
    EXPECT_FALSE(window->task_pending());
}

TEST(FolderChoice, AppendsTheFolderNameUnlessThePickIsAlreadyIt) {
    test::TempFolder temp;
    const auto installed = temp / L"Games" / L"Launcher";
    test::write_file(installed / L"KORLAUNCHER.exe", "MZ");
    struct Case {
        std::filesystem::path chosen;
        std::filesystem::path expected;
    };
    const Case cases[] = {
        {L"C:\\Games", L"C:\\Games\\Korvane Launcher"},
        {L"C:\\Games\\korvane launcher", L"C:\\Games\\korvane launcher"},
        {L"D:\\KORVANE LAUNCHER", L"D:\\KORVANE LAUNCHER"},
        {L"C:\\Games\\Korvane Launcher 2", L"C:\\Games\\Korvane Launcher 2\\Korvane Launcher"},
        {L"C:\\", L"C:\\Korvane Launcher"},
        {installed, installed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(installer::install_dir_for_choice(c.chosen).native(), c.expected.native()) << c.chosen.string();
    }
}

}  // namespace
