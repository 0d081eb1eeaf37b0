#include <gtest/gtest.h>

#include <cmath>

#include "render/progress_screen.h"

namespace {

using namespace installer;

TEST(ProgressScreen, SizeLineWaitsForTheAnnouncedSize) {
    EXPECT_EQ(size_line(0, 0), L"Проверяем доступность файлов");
    EXPECT_EQ(size_line(12, 0), L"Проверяем доступность файлов");
    EXPECT_EQ(size_line(524288, 157286400), L"0.5 МБ / 150 МБ");
}

TEST(ProgressScreen, PercentTruncates) {
    EXPECT_EQ(percent_text(0.0f), L"0%");
    EXPECT_EQ(percent_text(0.4299f), L"42%");
    EXPECT_EQ(percent_text(0.999f), L"99%");
    EXPECT_EQ(percent_text(1.0f), L"100%");
}

TEST(ProgressScreen, FillIsADotAtZeroAndSweepsWhilePreparing) {
    const UiRect dot = progress_fill(Downloading, 3.0f, 0.0f);
    EXPECT_EQ(dot.x, 360.0f);
    EXPECT_EQ(dot.width, 9.0f);
    EXPECT_EQ(progress_fill(Verifying, 0.0f, 0.5f).width, 237.0f);
    for (float clock : {0.0f, 1.0f, 3.7f, 4.0f}) {
        const UiRect sweep = progress_fill(Preparing, clock, 0.9f);
        EXPECT_NEAR(sweep.x, 360.0f + std::fmod(105.0f * clock, 390.0f), 1e-3) << clock;
        EXPECT_EQ(sweep.width, 84.0f);
        EXPECT_LE(sweep.x + sweep.width, 834.0f);
    }
}

TEST(ProgressScreen, HeadingsAndSubtitle) {
    EXPECT_EQ(progress_heading(Preparing, false), L"Готовим\nтвою установку.");
    EXPECT_EQ(progress_heading(Downloading, false), L"Скачиваем\nлаунчер.");
    EXPECT_EQ(progress_heading(Installing, false), L"Ещё немного.\nПочти готово.");
    for (int32_t state : {1, 2, 3, 4, 5}) {
        EXPECT_EQ(progress_heading(state, true), L"Отменяем\nустановку...");
    }
    EXPECT_EQ(progress_subtitle(Downloading, L"example.test:8443"),
              L"Загружаем проверенную сборку с example.test:8443.");
    EXPECT_EQ(progress_subtitle(Verifying, L"example.test:8443"), L"Подготавливаем всё для первого запуска.");
}

}  // namespace
