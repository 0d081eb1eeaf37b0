#pragma once

#include <filesystem>

#include "tests/support/temp_folder.h"

namespace test {

// While it lives, presses Escape from the Linux side in whatever window is visible on the test's
// private X display: the folder dialog or a message box (the installer window of the tests stays
// hidden). The dialog takes keys only while the pointer is over it, so the pointer is moved first.
class DialogCloser {
public:
    DialogCloser();
    DialogCloser(const DialogCloser&) = delete;
    DialogCloser& operator=(const DialogCloser&) = delete;
    ~DialogCloser();

    // Whether a visible window was found to press Escape in: proof that a dialog was shown.
    bool pressed() const;

private:
    TempFolder folder_;
    std::filesystem::path stopFile_ = folder_ / L"stop";
    std::filesystem::path pressedFile_ = folder_ / L"pressed";
    std::filesystem::path script_ = folder_ / L"close-dialog.sh";
};

}  // namespace test
