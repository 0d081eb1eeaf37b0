#include <algorithm>
#include <exception>
#include <future>
#include <stdexcept>

#include "app/folder_choice.h"
#include "app/install_task.h"
#include "app/message_text.h"
#include "app/window.h"
#include "app/window_proc.h"
#include "common/launcher_names.h"
#include "common/support_log.h"
#include "install/folder_picker.h"
#include "install/placement.h"
#include "text/utf.h"

namespace installer {
namespace {

float progress_target(int32_t state, float step) {
    switch (state) {
    case Downloading:
        return 0.06f + 0.74f * step;
    case Verifying:
        return 0.82f;
    case Installing:
        return 0.87f + 0.10f * step;
    case Shortcuts:
        return 0.98f;
    case Done:
        return 1.0f;
    default:
        return 0.0f;
    }
}

}  // namespace

void Window::request_close() {
    if (!task_pending()) {
        ::DestroyWindow(hwnd);
        return;
    }
    if (!cancelRequested.exchange(true)) {
        common::support_log("cancel", "requested: the window is being closed");
    }
    closeRequested = true;
}

const UiRect* Window::change_region() const noexcept {
    if (task_pending()) {
        return nullptr;
    }
    switch (state.load()) {
    case Idle:
        return &changeButton;
    case Failed:
        return &kFailedChangeButton;
    default:
        return nullptr;
    }
}

void Window::click(float x, float y) {
    if (closeButton.contains(x, y) || (state.load() == Done && secondaryButton.contains(x, y))) {
        request_close();
        return;
    }
    const UiRect* change = change_region();
    if (change != nullptr && change->contains(x, y)) {
        change_folder();
        return;
    }
    const UiRect primary = state.load() == Done ? kLaunchButton : primaryButton;
    if (!primary.contains(x, y)) {
        return;
    }
    if (task_pending()) {
        if (steady_now() - installStartedAt >= kStartSettleNanoseconds && !cancelRequested.exchange(true)) {
            common::support_log("cancel", "requested: \"Отменить установку\" pressed");
        }
        return;
    }
    if (state.load() == Done) {
        try {
            start_installed_launcher(installDir / common::kLauncherExecutable);
            common::support_log("launch", "started ", installDir / common::kLauncherExecutable);
        } catch (const std::exception& error) {
            errorText = message_text(error);
            state.exchange(Failed);
            common::support_log("launch", "failed: ", errorText);
            return;
        }
        ::DestroyWindow(hwnd);
        return;
    }
    start_install();
}

// A choice that fails (a virtual folder, a folder whose contents cannot be examined) is reported,
// and the player stays on the screen they were on with the folder they had.
void Window::change_folder() {
    try {
        const std::filesystem::path path = install::pick_path(hwnd, false);
        if (!path.empty()) {
            installDir = install_dir_for_choice(path);
            installDirOrigin = installDir == path ? "chosen in the folder dialog"
                                                  : "chosen in the folder dialog, \"Korvane Launcher\" added";
        }
    } catch (const std::exception& error) {
        report_error(hwnd, error);
    }
}

void Window::start_install() {
    stepProgress.exchange(0.0f);
    bytesDone.exchange(0);
    bytesTotal.exchange(0);
    cancelRequested.exchange(false);
    errorText.clear();
    state.exchange(Preparing);
    shownProgress = 0.0f;
    installStartedAt = steady_now();
    // Lines of the window thread between now and the task's first belong to no run.
    common::end_support_log_run();
    InstallTaskBody body{this, installDir, desktopDir, programsDir, installDirOrigin};
    task = std::async(std::launch::async, std::move(body));
}

void Window::tick() {
    tick_at(steady_now());
}

void Window::tick_at(int64_t now) {
    frameDelta = std::min(static_cast<float>(static_cast<double>(now - lastTick) / 1e9), 0.1f);
    lastTick = now;
    clock = static_cast<float>(static_cast<double>(now - startTime) / 1e9);

    if (task_pending() && task.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        std::future<std::string> finished = std::move(task);
        try {
            versionText = text::wide_from_utf8(finished.get());
            state.exchange(Done);
            common::support_log("result", "done: version ", versionText, " installed in ", installDir);
        } catch (const install::PlacementNotRestored& error) {
            // Some of the player's files could not be put back: whatever they asked for, they are
            // told where the saved copies lie, and a close waits until they have seen it.
            errorText = message_text(error);
            state.exchange(Failed);
            closeRequested = false;
            common::support_log("result", "failed: ", errorText);
        } catch (const std::exception& error) {
            if (cancelRequested.load()) {
                state.exchange(Idle);
                common::support_log("cancel", "honoured: the install stopped (", error.what(), ")",
                                    closeRequested ? "; the window closes" : "; back on the start screen");
            } else {
                errorText = message_text(error);
                state.exchange(Failed);
                common::support_log("result", "failed: ", errorText);
            }
        }
        if (closeRequested) {
            ::DestroyWindow(hwnd);
            return;
        }
    }

    const int32_t s = state.load();
    const float target = progress_target(s, stepProgress.load());
    shownProgress += (target - shownProgress) * std::min(10.0f * frameDelta, 1.0f);
    // The Done screen's launch button is narrower than the field's button: neither "Закрыть" nor
    // the gap beside it lights it.
    const float h = (s == Done ? kLaunchButton : primaryButton).contains(mouseX, mouseY) ? 1.0f : 0.0f;
    hover += (h - hover) * std::min(12.0f * frameDelta, 1.0f);
    if (s != shownState) {
        shownState = s;
        // Where frames are dear the new heading shows at full strength at once (fades_animated).
        stateFade = fades_animated(pacer.frame_cost()) ? 0.0f : 1.0f;
    }
    stateFade = std::min(stateFade + 4.0f * frameDelta, 1.0f);

    settle_focus();
    accessibility.tick();

    price_frames(now);
    if (wants_frame(now)) {
        ::InvalidateRect(hwnd, nullptr, FALSE);
    }
}

}  // namespace installer
