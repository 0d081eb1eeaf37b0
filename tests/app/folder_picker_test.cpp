#include <windows.h>
#include <dlgs.h>
#include <objbase.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/window.h"
#include "common/launcher_names.h"
#include "install/folder_picker.h"
#include "tests/app/dialog_closer.h"
#include "tests/app/fake_task.h"
#include "tests/app/test_window.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace {

using enum common::InstallState;

using std::chrono::steady_clock;

// The visible file dialog of this process (a dialog with a file name box), or null.
HWND shown_file_dialog() {
    HWND found = nullptr;
    ::EnumWindows(
        [](HWND window, LPARAM result) -> BOOL {
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window) &&
                ::GetDlgItem(window, edt1) != nullptr) {
                *reinterpret_cast<HWND*>(result) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// A visible message box over the dialog, or null.
HWND message_box_over(HWND dialog) {
    struct Search {
        HWND owner;
        HWND found;
    } search{dialog, nullptr};
    ::EnumWindows(
        [](HWND window, LPARAM state) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(state);
            wchar_t kind[16] = {};
            ::GetClassNameW(window, kind, 16);
            if (::IsWindowVisible(window) && ::GetWindow(window, GW_OWNER) == s.owner &&
                std::wstring(kind) == L"#32770") {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Answers the file dialog that the window's thread is about to show, as a player who types a path
// into its name box and presses its default button. It runs on a thread of its own, since the
// window's thread stays inside the modal dialog, and talks to the dialog through window messages:
// the path arrives exactly as written, whatever the keyboard layout. The name box is Wine's (edt1).
// What the dialog did with the path:
//   "accepted"  it closed and returned the path;
//   "refused"   it said so in a message box (closed here, then the dialog is cancelled);
//   "stayed"    neither within 10 s, as a file dialog does when it navigates into a typed folder
//               (cancelled here);
//   "no dialog" none was shown within 15 s.
class DialogAnswer {
public:
    explicit DialogAnswer(std::wstring typed)
        : outcome_(std::async(std::launch::async, [typed = std::move(typed)] { return answer(typed); })) {}

    std::string outcome() { return outcome_.get(); }

private:
    static std::string answer(const std::wstring& typed) {
        HWND dialog = nullptr;
        for (const auto shown = steady_clock::now() + std::chrono::seconds(15);
             dialog == nullptr && steady_clock::now() < shown; dialog = shown_file_dialog()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (dialog == nullptr) {
            return "no dialog";
        }
        ::SendMessageW(::GetDlgItem(dialog, edt1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
        for (const auto answered = steady_clock::now() + std::chrono::seconds(10); steady_clock::now() < answered;
             std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
            if (!::IsWindow(dialog) || !::IsWindowVisible(dialog)) {
                return "accepted";
            }
            if (HWND box = message_box_over(dialog)) {
                // The box is modal over the dialog: it goes first, then the dialog.
                ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                for (const auto gone = steady_clock::now() + std::chrono::seconds(10);
                     ::IsWindow(box) && steady_clock::now() < gone;) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
                ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                return "refused";
            }
        }
        ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return "stayed";
    }

    std::future<std::string> outcome_;
};

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

// "Изменить" picks folders, not files: a folder's path typed into the dialog becomes the place of the
// install folder, and a file's path is refused by the dialog itself, so the window never puts the
// install folder "inside" a file. A file dialog would do the opposite with both.
TEST(FolderPicker, TheChangeButtonPicksAFolderAndRefusesAFile) {
    test::TempFolder temp;
    const auto folder = temp / L"Игры";
    const auto file = temp / L"game.exe";
    std::filesystem::create_directory(folder);
    test::write_file(file, "MZ");
    struct Case {
        const char* typed;
        std::filesystem::path path;
        std::string outcome;
        std::filesystem::path installDir;  // empty: the window keeps the folder it had
    };
    const Case cases[] = {
        {"a folder", folder, "accepted", folder / common::kLauncherName},
        {"an executable file", file, "refused", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        test::TestWindow window;
        const auto original = window->installDir;
        DialogAnswer answer(c.path.native());
        window->click(780, 330);  // "Изменить" on the start screen
        EXPECT_EQ(answer.outcome(), c.outcome);
        EXPECT_EQ(window->installDir, c.installDir.empty() ? original : c.installDir);
        EXPECT_TRUE(window.alive());
    }
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
            for (int i = 0; i < times; ++i)
                ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
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
    EXPECT_TRUE(install::pick_path(nullptr, false).empty());
    EXPECT_TRUE(canceller.pressed());
    ::CoUninitialize();
}

}  // namespace
