#include <gtest/gtest.h>

#include "app/window.h"
#include "install/folder_picker.h"
#include "tests/app/fake_task.h"
#include "tests/app/test_window.h"
#include "tests/app/dialog_closer.h"

namespace {

TEST(FolderPicker, CancellingTheDialogReturnsAnEmptyPath) {
    ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    test::DialogCloser canceller;
    EXPECT_TRUE(pick_path(nullptr, false).empty());
    EXPECT_TRUE(canceller.pressed());
    ::CoUninitialize();
}

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

    // The Failed screen does not draw the button, but the region still opens the dialog.
    window->click(500, 470);
    fake_task::release();
    ASSERT_TRUE(window.tick_until_task_taken());
    ASSERT_EQ(window->state.load(), Failed);
    {
        test::DialogCloser canceller;
        window->click(780, 330);
        EXPECT_TRUE(canceller.pressed());
    }
    EXPECT_EQ(window->installDir, original);
    EXPECT_EQ(window->state.load(), Failed);
}

}  // namespace
