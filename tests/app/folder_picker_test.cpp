#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/window.h"
#include "install/folder_picker.h"
#include "tests/app/fake_task.h"
#include "tests/app/test_window.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unix_link.h"

namespace {

// Presses Escape in the folder dialog from the Linux side until the test says stop. The dialog is
// the only visible window on the test's private X display (the installer window stays hidden), and
// it takes keys only while the pointer is over it.
class DialogCanceller {
public:
    DialogCanceller() {
        const std::string stop = test::unix_path_of(stopFile_);
        // A Linux program started from Wine does not inherit the Windows environment: the script
        // names the display itself.
        char display[64] = {};
        ::GetEnvironmentVariableA("DISPLAY", display, sizeof(display));
        test::write_file(script_,
                         "export DISPLAY='" + std::string(display) + "'\n"
                         "for i in $(seq 300); do\n"
                         "  [ -e '" + stop + "' ] && exit 0\n"
                         "  [ -e \"$0\" ] || exit 0\n"
                         "  w=$(xdotool search --onlyvisible --name . 2>/dev/null | head -n1)\n"
                         "  [ -n \"$w\" ] && xdotool mousemove --window \"$w\" 60 60 key Escape\n"
                         "  sleep 0.1\n"
                         "done\n");
        test::run_unix_shell("sh '" + test::unix_path_of(script_) + "'");
    }
    ~DialogCanceller() { test::write_file(stopFile_, "stop"); }

private:
    test::TempFolder folder_;
    std::filesystem::path stopFile_ = folder_ / L"stop";
    std::filesystem::path script_ = folder_ / L"cancel-dialog.sh";
};

TEST(FolderPicker, CancellingTheDialogReturnsAnEmptyPath) {
    ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    DialogCanceller canceller;
    EXPECT_TRUE(pick_path(nullptr, false).empty());
    ::CoUninitialize();
}

TEST(FolderPicker, CancellingTheChangeFolderCommandKeepsTheFolder) {
    fake_task::reset({"", "Нет сети"});
    test::TestWindow window;
    const auto original = window->installDir;
    {
        DialogCanceller canceller;
        window->click(780, 330);  // "Изменить" on the start screen
    }
    EXPECT_EQ(window->installDir, original);
    EXPECT_TRUE(window.alive());

    // The Failed screen does not draw the button, but the region still opens the dialog.
    window->click(500, 470);
    fake_task::release();
    ASSERT_TRUE(window.tick_until_task_taken());
    ASSERT_EQ(window->state.load(), Failed);
    {
        DialogCanceller canceller;
        window->click(780, 330);
    }
    EXPECT_EQ(window->installDir, original);
    EXPECT_EQ(window->state.load(), Failed);
}

}  // namespace
