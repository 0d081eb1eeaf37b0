#include <objbase.h>

#include <gtest/gtest.h>

#include "app/window.h"
#include "install/folder_picker.h"
#include "tests/app/fake_task.h"
#include "tests/app/test_window.h"
#include "tests/app/dialog_closer.h"

namespace {

TEST(FolderPicker, CancellingTheChangeFolderCommandKeepsTheFolder) {
    fake_task::reset({"", "Нет сети"});
    test::TestWindow window;
    const auto original = window->installDir;
    {
        test::DialogCloser canceller;
        window->click(780, 330);  // "Изменить" on the start screen
        EXPECT_TRUE(canceller.pressed());
    }
    EXPECT_EQ(window->installDir, original);
    EXPECT_TRUE(window.alive());

    // The error screen has a change-folder button of its own, below the message; a click on the
    // message itself (where the start screen's button would be) opens nothing.
    window->click(500, 470);
    fake_task::release();
    ASSERT_TRUE(window.tick_until_task_taken());
    ASSERT_EQ(window->state.load(), Failed);
    {
        test::DialogCloser canceller;
        window->click(780, 330);
        ::Sleep(500);  // the closer looks every tenth of a second
        EXPECT_FALSE(canceller.pressed());
    }
    {
        test::DialogCloser canceller;
        window->click(445, 424);  // "Изменить папку"
        EXPECT_TRUE(canceller.pressed());
    }
    EXPECT_EQ(window->installDir, original);
    EXPECT_EQ(window->state.load(), Failed);
}

// A picker that fails shows its message; the player stays on the screen with the folder they had.
TEST(FolderPicker, APickerErrorIsReportedAndTheWindowStays) {
    fake_task::reset({"", "Нет сети"});
    test::TestWindow window;
    const auto original = window->installDir;
    // Without COM on the window's thread the dialog cannot be made: "Не удалось открыть выбор пути".
    // The thread's apartment is left as often as it was entered, and entered again as often after.
    int left = 0;
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    while (left < 16 && ::CoGetApartmentType(&type, &qualifier) == S_OK &&
           (type == APTTYPE_STA || type == APTTYPE_MAINSTA)) {
        ::CoUninitialize();
        ++left;
    }
    ASSERT_GT(left, 0);
    struct Reenter {
        int times;
        ~Reenter() {
            for (int i = 0; i < times; ++i) ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        }
    } reenter{left};
    {
        test::DialogCloser closer;  // presses Escape in the message box
        window->click(780, 330);
        EXPECT_TRUE(closer.pressed());
    }
    EXPECT_TRUE(window.alive());
    EXPECT_FALSE(window->closeRequested);
    EXPECT_EQ(window->state.load(), Idle);
    EXPECT_EQ(window->installDir, original);
}

// Last, and in a test program of its own with the other picker tests: under Wine, once this ownerless
// dialog has been shown, showing another dialog in the same process keeps the imaging factory from
// being made afterwards, and every window test after that fails to start.
TEST(FolderPicker, CancellingTheDialogReturnsAnEmptyPath) {
    ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    test::DialogCloser canceller;
    EXPECT_TRUE(pick_path(nullptr, false).empty());
    EXPECT_TRUE(canceller.pressed());
    ::CoUninitialize();
}

}  // namespace
