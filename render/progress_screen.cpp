#include "render/progress_screen.h"

#include <algorithm>
#include <cmath>

#include "render/format_size.h"
#include "text/utf.h"

namespace installer {

std::wstring progress_heading(int32_t state, bool cancelling) {
    if (cancelling) {
        return L"Отменяем\nустановку...";
    }
    if (state == Preparing) {
        return L"Готовим\nтвою установку.";
    }
    if (state == Downloading) {
        return L"Скачиваем\nлаунчер.";
    }
    return L"Ещё немного.\nПочти готово.";
}

std::wstring progress_subtitle(int32_t state, const std::wstring& siteHost) {
    if (state == Downloading) {
        return L"Загружаем проверенную сборку с " + siteHost + L".";
    }
    return L"Подготавливаем всё для первого запуска.";
}

std::wstring size_line(uint64_t bytesDone, uint64_t bytesTotal) {
    if (bytesTotal == 0) {
        return L"Проверяем доступность файлов";
    }
    return text::wide_from_utf8(format_size(bytesDone) + " / " + format_size(bytesTotal));
}

std::wstring percent_text(float shownProgress) {
    return text::wide_decimal(static_cast<unsigned>(std::max(0, static_cast<int>(shownProgress * 100.0f)))) + L"%";
}

UiRect progress_fill(int32_t state, float clock, float shownProgress) {
    if (state == Preparing) {
        return {360.0f + std::fmod(105.0f * clock, 390.0f), 297.0f, 84.0f, 9.0f};
    }
    return {360.0f, 297.0f, std::max(474.0f * shownProgress, 9.0f), 9.0f};
}

}  // namespace installer
