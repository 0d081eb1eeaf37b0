#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <wincodec.h>

#include <cstdint>
#include <future>
#include <map>
#include <string>
#include <utility>

#include "common/com_ptr.h"
#include "render/pictures.h"
#include "render/ui_rect.h"

namespace installer {

// The objects that depend on the graphics device. A lost device invalidates all of them at once, so
// they are dropped and rebuilt as one.
struct DeviceResources {
    common::ComPtr<ID2D1HwndRenderTarget> renderTarget;
    common::ComPtr<ID2D1SolidColorBrush> brush;
    common::ComPtr<ID2D1Bitmap> artwork;
    common::ComPtr<ID2D1Bitmap> logo;

    bool complete() const noexcept { return renderTarget && brush && artwork && logo; }
};

enum class Picture { Artwork, Logo };

// Everything the window draws with, and the drawing primitives. The factories and the text-format
// cache are device-independent and live as long as the canvas; the device resources are made by
// prepare() and rebuilt after a lost device. Window thread only: the Direct2D factory is
// single-threaded. Members are destroyed in reverse declaration order: the pictures' helper thread
// is waited for first, the factories go last.
class Canvas {
public:
    // Creates the factories in the order Direct2D, DirectWrite, WIC; each failure throws its message.
    Canvas();

    // Makes whatever device resource is missing for a window at `scale`, the pictures from the
    // RCDATA resources of `instance`. A set-up that fails half-way leaves none of them.
    void prepare(HWND hwnd, HINSTANCE instance, float scale);
    // Fits the render target to the window's client area at `scale`.
    void resize(HWND hwnd, float scale);

    // One frame: begin_frame clears the target and maps the 880 x 570 logical canvas onto it.
    // end_frame presents it; abandon_frame closes a frame whose drawing failed, so that the next one
    // can begin.
    void begin_frame(uint32_t background);
    void end_frame();
    void abandon_frame() noexcept;
    // What EndDraw reported: a lost device drops the device resources for the next prepare() to
    // rebuild; any other failure throws.
    void finish_frame(HRESULT endDrawResult);

    void fill_rounded_rect(const UiRect& rect, uint32_t rgb, float radius, float alpha);
    void stroke_rounded_rect(const UiRect& rect, uint32_t rgb, float radius, float width);
    void draw_line(float x1, float y1, float x2, float y2, uint32_t rgb, float width);
    void fill_gradient(const UiRect& rect, uint32_t rgb1, float alpha1, uint32_t rgb2, float alpha2, bool vertical);
    void draw_text(const std::wstring& text, const UiRect& rect, int32_t size, uint32_t rgb, bool bold, float alpha,
                   bool centred = false);
    // Draws a picture into `area`; with `cropToArea` only the centre part of the picture that has the
    // area's proportions.
    void draw_picture(Picture picture, const UiRect& area, float opacity, bool cropToArea);
    // Clips what is drawn until pop_clip() to a rounded rectangle; one clip at a time.
    void push_rounded_clip(const UiRect& rect, float radius);
    void pop_clip();

    IDWriteTextFormat* text_format(int32_t size, bool bold);

    common::ComPtr<ID2D1Factory> d2dFactory;
    common::ComPtr<IDWriteFactory> writeFactory;
    common::ComPtr<IWICImagingFactory> imagingFactory;
    std::map<std::pair<int32_t, bool>, common::ComPtr<IDWriteTextFormat>> textFormats;
    DeviceResources device;
    // The pictures' pixels at the scale they were made for, kept to rebuild the bitmaps after a
    // lost device; a helper thread makes them for the first frame.
    Pictures pictures;
    std::future<Pictures> picturesReady;

private:
    void create_render_target(HWND hwnd, float scale);
    void create_bitmap(const PixelImage& image, common::ComPtr<ID2D1Bitmap>& bitmap);

    // The pushed clip's layer and shape, held until it is popped.
    common::ComPtr<ID2D1RoundedRectangleGeometry> clipShape_;
    common::ComPtr<ID2D1Layer> clipLayer_;
};

}  // namespace installer
