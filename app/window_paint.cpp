#include "app/window.h"
#include "common/marked_threads.h"
#include "release/release_site.h"
#include "render/screens.h"
#include "text/utf.h"

namespace installer {

ScreenModel Window::screen_model() const {
    ScreenModel model;
    model.state = state.load();
    model.cancelling = cancelRequested.load();
    model.clock = clock;
    model.stateFade = stateFade;
    model.shownProgress = shownProgress;
    model.hover = hover;
    model.mouseX = mouseX;
    model.mouseY = mouseY;
    model.bytesDone = bytesDone.load();
    model.bytesTotal = bytesTotal.load();
    model.installDir = installDir.native();
    model.errorText = errorText;
    model.versionText = versionText;
    model.siteHost = text::wide_from_utf8(release::release_site_host());
    model.primaryButton = primaryButton;
    model.secondaryButton = secondaryButton;
    model.changeButton = changeButton;
    model.closeButton = closeButton;
    if (const UiRect* change = change_region()) {
        model.changeRegion = *change;
    }
    model.focused = focusedPart;
    model.focusVisible = keyboardCues;
    return model;
}

void Window::paint() {
    pacer.frame_began(steady_now(), common::cpu_outside_marked_threads(), canvas.device.complete());
    canvas.prepare(hwnd, instance, scale);
    const ScreenModel model = screen_model();
    paintedFrame = frame_key_of(model, scale);
    paint_screen(canvas, model);
    pacer.frame_ended(steady_now());
}

void Window::resize() {
    canvas.resize(hwnd, scale);
}

}  // namespace installer
