#include <gtest/gtest.h>

#include "app/window.h"
#include "render/font_family.h"
#include "tests/app/test_window.h"
#include "tests/support/expect_error.h"

namespace {

// The pictures are shrunk once to the device pixels they are drawn at (the card's crop of the
// artwork and the logo's box), so the frame never resamples them again.
TEST(Graphics, FirstPaintCreatesTheDeviceObjectsAndBothPicturesAtTheirDrawnSize) {
    test::TestWindow window;
    window->paint();
    ASSERT_TRUE(window->canvas.device.renderTarget && window->canvas.device.brush && window->canvas.device.artwork &&
                window->canvas.device.logo);
    const D2D1_SIZE_U art = window->canvas.device.artwork->GetPixelSize();
    const D2D1_SIZE_U logo = window->canvas.device.logo->GetPixelSize();
    EXPECT_EQ(art.width, 302u);
    EXPECT_EQ(art.height, 458u);
    EXPECT_EQ(logo.width, 105u);
    EXPECT_EQ(logo.height, 72u);
    EXPECT_FALSE(window->canvas.textFormats.empty());
}

TEST(Graphics, ANewScaleRemakesThePicturesForIt) {
    test::TestWindow window;
    window->paint();
    window->scale = 1.5f;
    window->resize();
    window->paint();
    ASSERT_TRUE(window->canvas.device.artwork && window->canvas.device.logo);
    const D2D1_SIZE_U art = window->canvas.device.artwork->GetPixelSize();
    const D2D1_SIZE_U logo = window->canvas.device.logo->GetPixelSize();
    EXPECT_EQ(art.width, 453u);
    EXPECT_EQ(art.height, 687u);
    EXPECT_EQ(logo.width, 158u);
    EXPECT_EQ(logo.height, 108u);
    // Still drawn into the same logical boxes.
    EXPECT_NEAR(window->canvas.device.artwork->GetSize().width, 302.0f, 0.5f);
    EXPECT_NEAR(window->canvas.device.logo->GetSize().height, 72.0f, 0.5f);
}

TEST(Graphics, ALostDeviceIsRebuiltByTheNextPaint) {
    test::TestWindow window;
    window->paint();
    const size_t formats = window->canvas.textFormats.size();
    window->canvas.finish_frame(static_cast<HRESULT>(D2DERR_RECREATE_TARGET));
    EXPECT_FALSE(window->canvas.device.renderTarget);
    EXPECT_FALSE(window->canvas.device.brush);
    EXPECT_FALSE(window->canvas.device.artwork);
    EXPECT_FALSE(window->canvas.device.logo);
    EXPECT_EQ(window->canvas.textFormats.size(), formats);  // device-independent: kept
    ASSERT_NO_THROW(window->paint());
    EXPECT_TRUE(window->canvas.device.renderTarget && window->canvas.device.brush && window->canvas.device.artwork &&
                window->canvas.device.logo);
}

TEST(Graphics, OtherEndOfFrameFailuresAreErrors) {
    test::TestWindow window;
    window->paint();
    test::expect_error([&] { window->canvas.finish_frame(E_FAIL); }, "Не удалось отрисовать установщик");
}

TEST(Graphics, MissingPicturesFailTheFirstPaintAndLeaveNoHalfDevice) {
    test::TestWindow window;
    // kernel32 holds no RCDATA 101 or 102.
    window->instance = ::GetModuleHandleW(L"kernel32.dll");
    test::expect_error([&] { window->paint(); }, "Не удалось загрузить оформление установщика");
    EXPECT_FALSE(window->canvas.device.renderTarget);
    EXPECT_FALSE(window->canvas.device.brush);
    // The next paint tries the whole set-up again rather than drawing without a brush.
    test::expect_error([&] { window->paint(); }, "Не удалось загрузить оформление установщика");
    window->instance = ::GetModuleHandleW(nullptr);
    EXPECT_NO_THROW(window->paint());
}

TEST(Graphics, OneCachedFormatServesBothAlignments) {
    test::TestWindow window;
    window->canvas.prepare(window->hwnd, window->instance, window->scale);
    const size_t before = window->canvas.textFormats.size();
    window->canvas.begin_frame(0x101114);
    window->canvas.draw_text(L"Центр", {0, 0, 200, 40}, 17, 0xFFFFFF, true, 1.0f, true);
    IDWriteTextFormat* format = window->canvas.text_format(17, true);
    EXPECT_EQ(format->GetTextAlignment(), DWRITE_TEXT_ALIGNMENT_CENTER);
    EXPECT_EQ(format->GetParagraphAlignment(), DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
    window->canvas.draw_text(L"Слева", {0, 50, 200, 40}, 17, 0xFFFFFF, true, 1.0f, false);
    EXPECT_EQ(format->GetTextAlignment(), DWRITE_TEXT_ALIGNMENT_LEADING);
    EXPECT_EQ(format->GetParagraphAlignment(), DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
    window->canvas.draw_text(L"Снова центр", {0, 100, 200, 40}, 17, 0xFFFFFF, true, 1.0f, true);
    EXPECT_EQ(format->GetTextAlignment(), DWRITE_TEXT_ALIGNMENT_CENTER);
    window->canvas.end_frame();
    EXPECT_EQ(window->canvas.textFormats.size(), before + 1);
    EXPECT_NE(window->canvas.text_format(17, false), format);  // bold is part of the key
}

TEST(Graphics, TextUsesSegoeUiWhereTheSystemHasIt) {
    test::TestWindow window;
    const std::wstring family = installer::interface_font_family(window->canvas.writeFactory.get());
    common::ComPtr<IDWriteFontCollection> fonts;
    ASSERT_HRESULT_SUCCEEDED(window->canvas.writeFactory->GetSystemFontCollection(fonts.put(), FALSE));
    UINT32 index = 0;
    BOOL segoe = FALSE;
    ASSERT_HRESULT_SUCCEEDED(fonts->FindFamilyName(L"Segoe UI", &index, &segoe));
    // The test prefix maps "Segoe UI" to an installed family, as Windows always has it.
    EXPECT_TRUE(segoe);
    EXPECT_EQ(family, L"Segoe UI");
    IDWriteTextFormat* format = window->canvas.text_format(12, false);
    std::wstring name(format->GetFontFamilyNameLength() + 1, L'\0');
    format->GetFontFamilyName(name.data(), static_cast<UINT32>(name.size()));
    name.resize(name.size() - 1);
    EXPECT_EQ(name, family);
}

}  // namespace

namespace {

bool has_family(IDWriteFontCollection* fonts, const std::wstring& family) {
    UINT32 index = 0;
    BOOL exists = FALSE;
    return SUCCEEDED(fonts->FindFamilyName(family.c_str(), &index, &exists)) && exists;
}

TEST(Graphics, AMissingFamilyFallsBackToOneTheSystemHas) {
    test::TestWindow window;
    common::ComPtr<IDWriteFontCollection> fonts;
    ASSERT_HRESULT_SUCCEEDED(window->canvas.writeFactory->GetSystemFontCollection(fonts.put(), FALSE));
    ASSERT_TRUE(has_family(fonts.get(), L"DejaVu Sans"));  // installed by the set-up script
    EXPECT_EQ(installer::first_available_family(fonts.get(), {L"Korvane Missing Sans", L"DejaVu Sans"}),
              L"DejaVu Sans");
    const std::wstring last = installer::first_available_family(fonts.get(), {L"Korvane Missing Sans"});
    EXPECT_NE(last, L"Korvane Missing Sans");
    EXPECT_TRUE(has_family(fonts.get(), last));
}

}  // namespace
