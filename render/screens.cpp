#include "render/screens.h"

#include "render/animation.h"
#include "render/progress_screen.h"
#include "render/screen_parts.h"
#include "render/screen_texts.h"

// The screens of one frame. Positions are logical pixels of the 880 x 570 canvas; the frame's
// transform maps them onto the render target whatever the window's scale.

namespace installer {
namespace {

using namespace texts;

constexpr uint32_t kBackground = 0x101114;
constexpr uint32_t kCard = 0x181B20;
constexpr uint32_t kFolderRow = 0x1B1C22;
constexpr uint32_t kAccent = 0xFF713B;
constexpr uint32_t kPrimaryText = 0xF3F3F5;
constexpr uint32_t kSecondaryText = 0xA0A1AA;
constexpr uint32_t kLightText = 0xD2D2D8;
constexpr uint32_t kErrorText = 0xE8AAA3;
constexpr uint32_t kSecondaryButton = 0x202127;
constexpr uint32_t kSecondaryButtonHover = 0x292A32;
constexpr uint32_t kChangeButton = 0x26272F;
constexpr uint32_t kChangeButtonHover = 0x30313B;
constexpr uint32_t kTrack = 0x26272F;
constexpr uint32_t kCloseHover = 0x25262C;
constexpr uint32_t kCloseGlyph = 0xB7B8C0;
constexpr uint32_t kPrimaryButtonText = 0x151515;
constexpr uint32_t kUncheckedStep = 0x61636E;

constexpr uint32_t kFocusRing = 0xF3F3F5;

constexpr UiRect kCardRect{22, 90, 302, 458};

void draw_button(Canvas& canvas, const ScreenModel& model, const UiRect& rect, const std::wstring& text, bool primary) {
    const bool hovered = model.pointer_over(rect);
    UiRect r = rect;
    if (hovered) {
        r.y += -1.5f * model.hover;
    }
    if (primary) {
        canvas.fill_rounded_rect({r.x - 3, r.y - 3, r.width + 6, r.height + 6}, kAccent, 13.0f,
                                 0.06f + 0.09f * model.hover);
        canvas.fill_rounded_rect(r, kAccent, 10.0f, 1.0f);
        canvas.fill_gradient(r, 0xFFFFFF, 0.03f + 0.12f * model.hover, 0xFFFFFF, 0.0f, false);
    } else {
        canvas.fill_rounded_rect(r, hovered ? kSecondaryButtonHover : kSecondaryButton, 10.0f, 1.0f);
    }
    canvas.draw_text(text, r, 15, primary ? kPrimaryButtonText : kPrimaryText, true, 1.0f, true);
}

void draw_step(Canvas& canvas, float x, float y, const std::wstring& text, bool done) {
    canvas.fill_rounded_rect({x, y + 1, 15, 15}, done ? kAccent : kUncheckedStep, 7.5f, done ? 0.16f : 0.12f);
    if (done) {
        canvas.draw_line(x + 4, y + 8, x + 7, y + 11, kAccent, 1.3f);
        canvas.draw_line(x + 7, y + 11, x + 12, y + 5, kAccent, 1.3f);
    }
    canvas.draw_text(text, {x + 25, y - 2, 425, 26}, 12, done ? kLightText : kSecondaryText, false, 1.0f);
}

void draw_folder_row(Canvas& canvas, const ScreenModel& model) {
    canvas.fill_rounded_rect({360, 310, 474, 67}, kFolderRow, 10.0f, 1.0f);
    canvas.draw_text(kFolderLabel, {375, 321, 350, 22}, 9, kSecondaryText, true, 1.0f);
    canvas.draw_text(model.installDir, {375, 344, 347, 27}, 11, kLightText, false, 1.0f);
    canvas.fill_rounded_rect(model.changeButton,
                             model.pointer_over(model.changeButton) ? kChangeButtonHover : kChangeButton, 7.0f, 1.0f);
    canvas.draw_text(kChange, model.changeButton, 11, kLightText, true, 1.0f, true);
}

// Left card: artwork cropped to the card, darkened toward the bottom, with a slow accent glow; the
// logo and the tagline above and below it; the heading of the right panel and the close glyph.
void draw_frame_parts(Canvas& canvas, const ScreenModel& model, float intro) {
    canvas.fill_rounded_rect(kCardRect, kCard, 18.0f, 1.0f);
    canvas.push_rounded_clip(kCardRect, 18.0f);
    canvas.draw_picture(Picture::Artwork, kCardRect, 0.68f, true);
    canvas.fill_gradient(kCardRect, kBackground, 0.15f, kBackground, 0.98f, true);
    canvas.fill_gradient(kCardRect, kAccent, glow_alpha(model.clock), kAccent, 0.0f, true);
    canvas.pop_clip();

    canvas.draw_picture(Picture::Logo, {44, 15, 105, 72}, intro, false);
    canvas.draw_text(L"Твоя следующая поездка\nначинается здесь.", {46, 390 + 12 * (1 - intro), 266, 80}, 21,
                     kPrimaryText, true, intro);
    canvas.draw_text(L"Моды. Обновления. Сообщество.", {46, 498, 254, 30}, 11, kSecondaryText, false, intro);
    canvas.draw_text(L"УСТАНОВКА", {360, 30, 420, 30}, 11, kAccent, true, 1.0f);

    canvas.fill_rounded_rect(model.closeButton, kCloseHover, 8.0f, model.pointer_over(model.closeButton) ? 0.8f : 0.0f);
    canvas.draw_line(838, 32, 850, 44, kCloseGlyph, 1.5f);
    canvas.draw_line(850, 32, 838, 44, kCloseGlyph, 1.5f);
}

void draw_start_screen(Canvas& canvas, const ScreenModel& model, float headingAlpha) {
    canvas.draw_text(kStartHeading, {360, 109, 472, 112}, 35, kPrimaryText, true, headingAlpha);
    draw_folder_row(canvas, model);
    draw_step(canvas, 362, 396, kShortcutsFeature, true);
    canvas.draw_text(kSystemFooter, {360, 512, 442, 26}, 11, kSecondaryText, false, 1.0f);
    draw_button(canvas, model, model.primaryButton, kInstall, true);
}

void draw_result_screen(Canvas& canvas, const ScreenModel& model, float headingAlpha) {
    canvas.fill_rounded_rect({360, 112, 56, 56}, kAccent, 28.0f, 0.13f);
    canvas.draw_line(376, 139, 386, 149, kAccent, 3.0f);
    canvas.draw_line(386, 149, 403, 130, kAccent, 3.0f);
    canvas.draw_text(kDoneHeading, {360, 195, 470, 108}, 35, kPrimaryText, true, headingAlpha);
    canvas.draw_text(kDoneText, {360, 321, 462, 68}, 14, kSecondaryText, false, 1.0f);
    draw_button(canvas, model, kLaunchButton, kLaunch, true);
    draw_button(canvas, model, model.secondaryButton, kClose, false);
    canvas.draw_text(kVersionPrefix + model.versionText, {360, 512, 442, 26}, 11, kSecondaryText, false, 1.0f);
}

void draw_error_screen(Canvas& canvas, const ScreenModel& model, float headingAlpha) {
    canvas.draw_text(kFailedHeading, {360, 114, 470, 115}, 30, kPrimaryText, true, headingAlpha);
    canvas.draw_text(model.errorText, {360, 248, 460, 158}, 14, kErrorText, false, 1.0f);
    canvas.fill_rounded_rect(kFailedChangeButton,
                             model.pointer_over(kFailedChangeButton) ? kChangeButtonHover : kChangeButton, 7.0f, 1.0f);
    canvas.draw_text(kChangeFolder, kFailedChangeButton, 11, kLightText, true, 1.0f, true);
    draw_button(canvas, model, model.primaryButton, kRetry, true);
    canvas.draw_text(kFailedFooter, {360, 512, 458, 30}, 11, kSecondaryText, false, 1.0f);
}

void draw_progress_screen(Canvas& canvas, const ScreenModel& model, float headingAlpha) {
    const int32_t s = model.state;
    canvas.draw_text(progress_heading(s, model.cancelling), {360, 112, 470, 112}, 35, kPrimaryText, true, headingAlpha);
    canvas.draw_text(progress_subtitle(s, model.siteHost), {360, 234, 470, 48}, 13, kSecondaryText, false, 1.0f);
    canvas.fill_rounded_rect({360, 297, 474, 9}, kTrack, 4.5f, 1.0f);
    canvas.fill_rounded_rect(progress_fill(s, model.clock, model.shownProgress), kAccent, 4.5f, 1.0f);
    canvas.draw_text(size_line(model.bytesDone, model.bytesTotal), {360, 320, 310, 28}, 12, kSecondaryText, false,
                     1.0f);
    canvas.draw_text(percent_text(model.shownProgress), {783, 320, 52, 28}, 12, kPrimaryText, true, 1.0f);
    draw_step(canvas, 362, 366, kStepDownload, s >= Verifying);
    draw_step(canvas, 362, 392, kStepInstall, s >= Shortcuts);
    draw_step(canvas, 362, 418, kStepShortcuts, false);
    draw_button(canvas, model, model.primaryButton, model.cancelling ? kCancelling : kCancel, false);
    canvas.draw_text(kUserFooter, {360, 512, 462, 28}, 11, kSecondaryText, false, 1.0f);
}

// The keyboard's focus: a light ring just outside the focused button, clear of its glow.
void draw_focus_ring(Canvas& canvas, const ScreenModel& model) {
    if (!model.focusVisible || !model.focused) {
        return;
    }
    const std::vector<ScreenPart> parts = screen_parts(model);
    if (const ScreenPart* part = find_part(parts, *model.focused)) {
        const UiRect& r = part->rect;
        canvas.stroke_rounded_rect({r.x - 4, r.y - 4, r.width + 8, r.height + 8}, kFocusRing, 13.0f, 2.0f);
    }
}

void compose_frame(Canvas& canvas, const ScreenModel& model) {
    const float intro = intro_at(model.clock);
    const float headingAlpha = heading_alpha(model.stateFade, intro);
    draw_frame_parts(canvas, model, intro);
    switch (model.state) {
    case Idle:
        draw_start_screen(canvas, model, headingAlpha);
        break;
    case Done:
        draw_result_screen(canvas, model, headingAlpha);
        break;
    case Failed:
        draw_error_screen(canvas, model, headingAlpha);
        break;
    default:
        draw_progress_screen(canvas, model, headingAlpha);
        break;
    }
    draw_focus_ring(canvas, model);
}

}  // namespace

void paint_screen(Canvas& canvas, const ScreenModel& model) {
    canvas.begin_frame(kBackground);
    try {
        compose_frame(canvas, model);
    } catch (...) {
        canvas.abandon_frame();
        throw;
    }
    canvas.end_frame();
}

}  // namespace installer
