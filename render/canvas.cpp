#include "render/canvas.h"

#include <stdexcept>

#include "common/windows_call.h"
#include "render/factories.h"
#include "render/font_family.h"

namespace installer {
namespace {

constexpr char kNoTarget[] = "Не удалось открыть интерфейс установщика";
constexpr char kNoInterface[] = "Не удалось подготовить интерфейс";
constexpr char kNoBitmap[] = "Не удалось отрисовать изображение";
constexpr char kNoFont[] = "Не удалось подготовить шрифт";
constexpr char kNoDecoration[] = "Не удалось отрисовать оформление";
constexpr char kNoFrame[] = "Не удалось отрисовать установщик";

D2D1_COLOR_F colour(uint32_t rgb, float alpha) {
    return {static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
            static_cast<float>(rgb & 0xFF) / 255.0f, alpha};
}

D2D1_RECT_F d2d_rect(const UiRect& rect) {
    return {rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
}

// Wine's Direct2D (8.x) reads gradient stop colours as premultiplied, where Windows reads them as
// straight: a translucent white sheen there paints the button solid white. Players also run the
// installer under Wine and Proton, so there the stops are handed over premultiplied, which draws
// what Windows draws.
bool gradient_stops_premultiplied() {
    static const bool wine = [] {
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

D2D1_GRADIENT_STOP gradient_stop(float position, uint32_t rgb, float alpha) {
    D2D1_COLOR_F stop = colour(rgb, alpha);
    if (gradient_stops_premultiplied()) {
        stop.r *= alpha;
        stop.g *= alpha;
        stop.b *= alpha;
    }
    return {position, stop};
}

}  // namespace

Canvas::Canvas()
    : d2dFactory(create_d2d_factory()),
      writeFactory(create_write_factory()),
      imagingFactory(create_imaging_factory()) {}

void Canvas::prepare(HWND hwnd, HINSTANCE instance, float scale) {
    if (device.complete()) {
        return;
    }
    // The pictures are decoded and scaled on a helper thread while the render target is made here:
    // under Wine each of the two takes a good part of the first frame.
    if (!device.artwork && !picturesReady.valid() && pictures.scale != scale) {
        picturesReady = std::async(std::launch::async, prepare_pictures, instance, scale);
    }
    // A set-up that fails half-way is undone: a render target without its brush or bitmaps would
    // make the next paint skip the set-up and draw with objects that do not exist.
    try {
        if (!device.renderTarget) {
            create_render_target(hwnd, scale);
        }
        if (picturesReady.valid()) {
            pictures = picturesReady.get();
        }
        create_bitmap(pictures.artwork, device.artwork);
        create_bitmap(pictures.logo, device.logo);
    } catch (...) {
        device = {};
        throw;
    }
}

void Canvas::create_render_target(HWND hwnd, float scale) {
    RECT client{};
    ::GetClientRect(hwnd, &client);
    const float dpi = 96.0f * scale;
    const D2D1_RENDER_TARGET_PROPERTIES targetProperties{D2D1_RENDER_TARGET_TYPE_DEFAULT,
                                                         {DXGI_FORMAT_UNKNOWN, D2D1_ALPHA_MODE_UNKNOWN},
                                                         dpi,
                                                         dpi,
                                                         D2D1_RENDER_TARGET_USAGE_NONE,
                                                         D2D1_FEATURE_LEVEL_DEFAULT};
    const D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties{
        hwnd, {static_cast<UINT32>(client.right), static_cast<UINT32>(client.bottom)}, D2D1_PRESENT_OPTIONS_NONE};
    common::throw_if_failed(
        d2dFactory->CreateHwndRenderTarget(&targetProperties, &windowProperties, device.renderTarget.put()), kNoTarget);
    const D2D1_COLOR_F white{1.0f, 1.0f, 1.0f, 1.0f};
    common::throw_if_failed(device.renderTarget->CreateSolidColorBrush(&white, nullptr, device.brush.put()),
                            kNoInterface);
    device.renderTarget->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_CLEARTYPE);
}

void Canvas::create_bitmap(const PixelImage& image, common::ComPtr<ID2D1Bitmap>& bitmap) {
    // The pixels were scaled for this DPI: one bitmap pixel is one device pixel where it is drawn.
    const float dpi = 96.0f * pictures.scale;
    const D2D1_BITMAP_PROPERTIES properties{{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED}, dpi, dpi};
    common::throw_if_failed(device.renderTarget->CreateBitmap({image.width, image.height}, image.pixels.data(),
                                                              image.width * 4, &properties, bitmap.put()),
                            kNoBitmap);
}

void Canvas::resize(HWND hwnd, float scale) {
    if (!device.renderTarget) {
        return;
    }
    RECT client{};
    ::GetClientRect(hwnd, &client);
    const D2D1_SIZE_U size{static_cast<UINT32>(client.right), static_cast<UINT32>(client.bottom)};
    device.renderTarget->Resize(&size);
    device.renderTarget->SetDpi(96.0f * scale, 96.0f * scale);
    if (pictures.scale != scale) {
        // Pictures scaled for another DPI would be drawn resampled again: the next prepare() makes
        // them anew at this one.
        device.artwork.reset();
        device.logo.reset();
    }
}

void Canvas::begin_frame(uint32_t background) {
    ID2D1HwndRenderTarget* target = device.renderTarget.get();
    target->BeginDraw();
    target->SetTransform(D2D1::Matrix3x2F::Identity());
    const D2D1_COLOR_F clear = colour(background, 1.0f);
    target->Clear(&clear);
    const D2D1_SIZE_F size = target->GetSize();
    target->SetTransform(D2D1::Matrix3x2F::Scale(size.width / kCanvasWidth, size.height / kCanvasHeight));
}

void Canvas::end_frame() {
    finish_frame(device.renderTarget->EndDraw());
}

void Canvas::abandon_frame() noexcept {
    device.renderTarget->EndDraw();
}

void Canvas::finish_frame(HRESULT endDrawResult) {
    if (endDrawResult == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
        // A lost device is an expected event: the next prepare() rebuilds every device resource.
        // Factories and text formats are device-independent and stay.
        device = {};
        return;
    }
    common::throw_if_failed(endDrawResult, kNoFrame);
}

void Canvas::fill_rounded_rect(const UiRect& rect, uint32_t rgb, float radius, float alpha) {
    device.brush->SetColor(colour(rgb, alpha));
    const D2D1_ROUNDED_RECT rounded{d2d_rect(rect), radius, radius};
    device.renderTarget->FillRoundedRectangle(&rounded, device.brush.get());
}

void Canvas::stroke_rounded_rect(const UiRect& rect, uint32_t rgb, float radius, float width) {
    device.brush->SetColor(colour(rgb, 1.0f));
    const D2D1_ROUNDED_RECT rounded{d2d_rect(rect), radius, radius};
    device.renderTarget->DrawRoundedRectangle(&rounded, device.brush.get(), width, nullptr);
}

void Canvas::draw_line(float x1, float y1, float x2, float y2, uint32_t rgb, float width) {
    device.brush->SetColor(colour(rgb, 1.0f));
    device.renderTarget->DrawLine({x1, y1}, {x2, y2}, device.brush.get(), width, nullptr);
}

void Canvas::fill_gradient(const UiRect& rect, uint32_t rgb1, float alpha1, uint32_t rgb2, float alpha2,
                           bool vertical) {
    ID2D1HwndRenderTarget* target = device.renderTarget.get();
    const D2D1_GRADIENT_STOP stops[] = {gradient_stop(0.0f, rgb1, alpha1), gradient_stop(1.0f, rgb2, alpha2)};
    common::ComPtr<ID2D1GradientStopCollection> collection;
    common::throw_if_failed(
        target->CreateGradientStopCollection(stops, 2, D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP, collection.put()),
        kNoDecoration);
    const D2D1_LINEAR_GRADIENT_BRUSH_PROPERTIES line{
        {rect.x, rect.y},
        vertical ? D2D1_POINT_2F{rect.x, rect.y + rect.height} : D2D1_POINT_2F{rect.x + rect.width, rect.y}};
    common::ComPtr<ID2D1LinearGradientBrush> gradient;
    common::throw_if_failed(target->CreateLinearGradientBrush(&line, nullptr, collection.get(), gradient.put()),
                            kNoDecoration);
    const D2D1_RECT_F area = d2d_rect(rect);
    target->FillRectangle(&area, gradient.get());
}

IDWriteTextFormat* Canvas::text_format(int32_t size, bool bold) {
    common::ComPtr<IDWriteTextFormat>& format = textFormats[{size, bold}];
    if (!format) {
        const std::wstring family = interface_font_family(writeFactory.get());
        if (FAILED(writeFactory->CreateTextFormat(family.c_str(), nullptr,
                                                  bold ? DWRITE_FONT_WEIGHT_BOLD : DWRITE_FONT_WEIGHT_NORMAL,
                                                  DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                                  static_cast<float>(size), L"ru-ru", format.put()))) {
            textFormats.erase({size, bold});
            throw std::runtime_error(kNoFont);
        }
    }
    return format.get();
}

void Canvas::draw_text(const std::wstring& text, const UiRect& rect, int32_t size, uint32_t rgb, bool bold, float alpha,
                       bool centred) {
    IDWriteTextFormat* format = text_format(size, bold);
    // One cached format serves centred and leading texts alike, so the alignment is set every time.
    format->SetTextAlignment(centred ? DWRITE_TEXT_ALIGNMENT_CENTER : DWRITE_TEXT_ALIGNMENT_LEADING);
    format->SetParagraphAlignment(centred ? DWRITE_PARAGRAPH_ALIGNMENT_CENTER : DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
    device.brush->SetColor(colour(rgb, alpha));
    const D2D1_RECT_F box = d2d_rect(rect);
    device.renderTarget->DrawText(text.c_str(), static_cast<UINT32>(text.size()), format, &box, device.brush.get(),
                                  D2D1_DRAW_TEXT_OPTIONS_CLIP, DWRITE_MEASURING_MODE_NATURAL);
}

void Canvas::draw_picture(Picture picture, const UiRect& area, float opacity, bool cropToArea) {
    ID2D1Bitmap* bitmap = (picture == Picture::Artwork ? device.artwork : device.logo).get();
    const D2D1_SIZE_F size = bitmap->GetSize();
    const float cropWidth = size.height * area.width / area.height;
    const D2D1_RECT_F crop{(size.width - cropWidth) / 2.0f, 0.0f, (size.width + cropWidth) / 2.0f, size.height};
    const D2D1_RECT_F destination = d2d_rect(area);
    device.renderTarget->DrawBitmap(bitmap, &destination, opacity, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR,
                                    cropToArea ? &crop : nullptr);
}

void Canvas::push_rounded_clip(const UiRect& rect, float radius) {
    const D2D1_ROUNDED_RECT rounded{d2d_rect(rect), radius, radius};
    if (FAILED(d2dFactory->CreateRoundedRectangleGeometry(&rounded, clipShape_.put())) ||
        FAILED(device.renderTarget->CreateLayer(nullptr, clipLayer_.put()))) {
        throw std::runtime_error(kNoDecoration);
    }
    const D2D1_LAYER_PARAMETERS parameters{
        rounded.rect, clipShape_.get(),       D2D1_ANTIALIAS_MODE_PER_PRIMITIVE, D2D1::Matrix3x2F::Identity(), 1.0f,
        nullptr,      D2D1_LAYER_OPTIONS_NONE};
    device.renderTarget->PushLayer(&parameters, clipLayer_.get());
}

void Canvas::pop_clip() {
    device.renderTarget->PopLayer();
    clipLayer_.reset();
    clipShape_.reset();
}

}  // namespace installer
