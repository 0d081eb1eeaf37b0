#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "app/window.h"
#include "render/animation.h"
#include "render/progress_screen.h"

// paint() and the screens it composes. Positions are logical pixels of the 880 x 570 canvas; the
// frame's transform maps them onto the render target whatever the window's scale.

namespace installer {
namespace {

constexpr char kNoDecoration[] = "Не удалось отрисовать оформление";

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

constexpr UiRect kCardRect{22, 90, 302, 458};

}  // namespace

void Window::paint() {
    const int64_t begin = steady_now();
    const bool steady = renderTarget && artwork && logo;
    create_device_resources();
    paintedFrame = frame_key();
    renderTarget->BeginDraw();
    try {
        compose_frame();
    } catch (...) {
        // Close the frame so that the next paint can begin a new one.
        renderTarget->EndDraw();
        throw;
    }
    finish_frame(renderTarget->EndDraw());
    const int64_t end = steady_now();
    pacer.frame_painted(end, end - begin, steady);
}

void Window::compose_frame() {
    renderTarget->SetTransform(D2D1::Matrix3x2F::Identity());
    const D2D1_COLOR_F background{0x10 / 255.0f, 0x11 / 255.0f, 0x14 / 255.0f, 1.0f};
    renderTarget->Clear(&background);
    const D2D1_SIZE_F size = renderTarget->GetSize();
    renderTarget->SetTransform(D2D1::Matrix3x2F::Scale(size.width / 880.0f, size.height / 570.0f));

    const float intro = intro_at(clock);
    const float headingAlpha = heading_alpha(stateFade, intro);

    // Left card: artwork cropped to the card, darkened toward the bottom, with a slow accent glow.
    fill_rounded_rect(kCardRect, kCard, 18.0f, 1.0f);
    common::ComPtr<ID2D1RoundedRectangleGeometry> cardShape;
    const D2D1_ROUNDED_RECT cardRounded{{22, 90, 324, 548}, 18, 18};
    common::ComPtr<ID2D1Layer> layer;
    if (FAILED(d2dFactory->CreateRoundedRectangleGeometry(&cardRounded, cardShape.put())) ||
        FAILED(renderTarget->CreateLayer(nullptr, layer.put()))) {
        throw std::runtime_error(kNoDecoration);
    }
    const D2D1_LAYER_PARAMETERS layerParameters{{22, 90, 324, 548},
                                                cardShape.get(),
                                                D2D1_ANTIALIAS_MODE_PER_PRIMITIVE,
                                                D2D1::Matrix3x2F::Identity(),
                                                1.0f,
                                                nullptr,
                                                D2D1_LAYER_OPTIONS_NONE};
    renderTarget->PushLayer(&layerParameters, layer.get());
    const D2D1_SIZE_F art = artwork->GetSize();
    const float cropWidth = art.height * 302.0f / 458.0f;
    const D2D1_RECT_F artSource{(art.width - cropWidth) / 2.0f, 0.0f, (art.width + cropWidth) / 2.0f, art.height};
    const D2D1_RECT_F cardArea{22, 90, 324, 548};
    renderTarget->DrawBitmap(artwork.get(), &cardArea, 0.68f, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, &artSource);
    fill_gradient(kCardRect, kBackground, 0.15f, kBackground, 0.98f, true);
    fill_gradient(kCardRect, kAccent, glow_alpha(clock), kAccent, 0.0f, true);
    renderTarget->PopLayer();

    const D2D1_RECT_F logoArea{44, 15, 149, 87};
    renderTarget->DrawBitmap(logo.get(), &logoArea, intro, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR, nullptr);
    draw_text(L"Твоя следующая поездка\nначинается здесь.", {46, 390 + 12 * (1 - intro), 266, 80}, 21,
              kPrimaryText, true, intro);
    draw_text(L"Моды. Обновления. Сообщество.", {46, 498, 254, 30}, 11, kSecondaryText, false, intro);
    draw_text(L"УСТАНОВКА", {360, 30, 420, 30}, 11, kAccent, true, 1.0f);

    const bool closeHovered = closeButton.contains(mouseX, mouseY);
    fill_rounded_rect(closeButton, kCloseHover, 8.0f, closeHovered ? 0.8f : 0.0f);
    draw_line(838, 32, 850, 44, kCloseGlyph, 1.5f);
    draw_line(850, 32, 838, 44, kCloseGlyph, 1.5f);

    const int32_t s = state.load();
    if (s == Idle) {
        draw_text(L"Установить\nKorvane Launcher", {360, 109, 472, 112}, 35, kPrimaryText, true, headingAlpha);
        draw_folder_row();
        draw_step(362, 396, L"Ярлыки на рабочем столе и в меню «Пуск»", true);
        draw_text(L"Windows 10 / 11 · 64 бит", {360, 512, 442, 26}, 11, kSecondaryText, false, 1.0f);
        draw_button(primaryButton, L"Установить лаунчер", true);
    } else if (s == Done) {
        fill_rounded_rect({360, 112, 56, 56}, kAccent, 28.0f, 0.13f);
        draw_line(376, 139, 386, 149, kAccent, 3.0f);
        draw_line(386, 149, 403, 130, kAccent, 3.0f);
        draw_text(L"Всё готово.\nПриятной поездки!", {360, 195, 470, 108}, 35, kPrimaryText, true, headingAlpha);
        draw_text(L"Ярлыки созданы на рабочем столе и в меню «Пуск».\n"
                  L"Твоя коллекция начинается с первого запуска.",
                  {360, 321, 462, 68}, 14, kSecondaryText, false, 1.0f);
        draw_button(kLaunchButton, L"Запустить лаунчер", true);
        draw_button(secondaryButton, L"Закрыть", false);
        draw_text(L"Korvane Launcher · " + versionText, {360, 512, 442, 26}, 11, kSecondaryText, false, 1.0f);
    } else if (s == Failed) {
        draw_text(L"Не получилось\nзавершить установку.", {360, 114, 470, 115}, 30, kPrimaryText, true,
                  headingAlpha);
        draw_text(errorText, {360, 248, 460, 158}, 14, kErrorText, false, 1.0f);
        fill_rounded_rect(kFailedChangeButton,
                          kFailedChangeButton.contains(mouseX, mouseY) ? kChangeButtonHover : kChangeButton, 7.0f, 1.0f);
        draw_text(L"Изменить папку", kFailedChangeButton, 11, kLightText, true, 1.0f, true);
        draw_button(primaryButton, L"Повторить", true);
        draw_text(L"Проверь подключение и доступ к папке установки.", {360, 512, 458, 30}, 11, kSecondaryText,
                  false, 1.0f);
    } else {
        const bool cancelling = cancelRequested.load();
        draw_text(progress_heading(s, cancelling), {360, 112, 470, 112}, 35, kPrimaryText, true, headingAlpha);
        draw_text(progress_subtitle(s), {360, 234, 470, 48}, 13, kSecondaryText, false, 1.0f);
        fill_rounded_rect({360, 297, 474, 9}, kTrack, 4.5f, 1.0f);
        fill_rounded_rect(progress_fill(s, clock, shownProgress), kAccent, 4.5f, 1.0f);
        draw_text(size_line(bytesDone.load(), bytesTotal.load()), {360, 320, 310, 28}, 12, kSecondaryText, false,
                  1.0f);
        draw_text(percent_text(shownProgress), {783, 320, 52, 28}, 12, kPrimaryText, true, 1.0f);
        draw_step(362, 366, L"Скачать файлы", s >= Verifying);
        draw_step(362, 392, L"Установить лаунчер", s >= Shortcuts);
        draw_step(362, 418, L"Создать ярлыки", false);
        draw_button(primaryButton, cancelling ? L"Отмена..." : L"Отменить установку", false);
        draw_text(L"Установка для текущего пользователя", {360, 512, 462, 28}, 11, kSecondaryText, false, 1.0f);
    }
}

void Window::draw_button(const UiRect& rect, const std::wstring& text, bool primary) {
    UiRect r = rect;
    if (rect.contains(mouseX, mouseY)) {
        r.y += -1.5f * hover;
    }
    if (primary) {
        fill_rounded_rect({r.x - 3, r.y - 3, r.width + 6, r.height + 6}, kAccent, 13.0f, 0.06f + 0.09f * hover);
        fill_rounded_rect(r, kAccent, 10.0f, 1.0f);
        fill_gradient(r, 0xFFFFFF, 0.03f + 0.12f * hover, 0xFFFFFF, 0.0f, false);
    } else {
        fill_rounded_rect(r, rect.contains(mouseX, mouseY) ? kSecondaryButtonHover : kSecondaryButton, 10.0f, 1.0f);
    }
    draw_text(text, r, 15, primary ? kPrimaryButtonText : kPrimaryText, true, 1.0f, true);
}

void Window::draw_step(float x, float y, const std::wstring& text, bool done) {
    fill_rounded_rect({x, y + 1, 15, 15}, done ? kAccent : kUncheckedStep, 7.5f, done ? 0.16f : 0.12f);
    if (done) {
        draw_line(x + 4, y + 8, x + 7, y + 11, kAccent, 1.3f);
        draw_line(x + 7, y + 11, x + 12, y + 5, kAccent, 1.3f);
    }
    draw_text(text, {x + 25, y - 2, 425, 26}, 12, done ? kLightText : kSecondaryText, false, 1.0f);
}

void Window::draw_folder_row() {
    fill_rounded_rect({360, 310, 474, 67}, kFolderRow, 10.0f, 1.0f);
    draw_text(L"ПАПКА УСТАНОВКИ", {375, 321, 350, 22}, 9, kSecondaryText, true, 1.0f);
    draw_text(installDir.native(), {375, 344, 347, 27}, 11, kLightText, false, 1.0f);
    fill_rounded_rect(changeButton, changeButton.contains(mouseX, mouseY) ? kChangeButtonHover : kChangeButton,
                      7.0f, 1.0f);
    draw_text(L"Изменить", changeButton, 11, kLightText, true, 1.0f, true);
}

}  // namespace installer
