#pragma once

#include <cstdint>
#include <string>

#include "render/screen_model.h"
#include "render/ui_rect.h"

// The parts of the progress screen that are computed rather than fixed.
namespace installer {

// The heading: cancelling wins over every step.
std::wstring progress_heading(int32_t state, bool cancelling);

// "Загружаем проверенную сборку с <siteHost>." while downloading, else the preparation line.
std::wstring progress_subtitle(int32_t state, const std::wstring& siteHost);

// "<done> / <total>" once the release manifest has announced the size, else the check line.
std::wstring size_line(uint64_t bytesDone, uint64_t bytesTotal);

// The whole percent of the smoothed bar, truncated: the bar just short of 0.43 reads "42%".
std::wstring percent_text(float shownProgress);

// The accent part of the track: a sweeping segment while preparing, else the bar, never narrower
// than its own height so that 0 still shows a dot at the start.
UiRect progress_fill(int32_t state, float clock, float shownProgress);

}  // namespace installer
