#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <wincodec.h>
#include <shtypes.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <future>
#include <map>
#include <string>
#include <utility>

#include "app/frame_key.h"
#include "app/frame_pacer.h"
#include "common/com_ptr.h"
#include "render/pictures.h"
#include "render/ui_rect.h"
#include "install/install_state.h"

namespace installer {

// A second press of the start button within this time of the start is the rest of a double-click
// (or a bounce), not a request to cancel the install it has just started.
inline constexpr int64_t kStartSettleNanoseconds = 600'000'000;

// The installer's one window object. Everything here is touched on the window thread only, except
// the five atomics (state, stepProgress, cancelRequested, bytesDone, bytesTotal) that the install
// task writes through the pointers it is given. Members are destroyed in reverse declaration order,
// which releases the graphics objects first and drops the task handle (waiting for a still-running
// task) before the atomics and the folders it may still be using.
class Window {
public:
    explicit Window(HINSTANCE instance);
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() = default;

    // Input and timer commands.
    void click(float x, float y);
    void request_close();
    void tick();
    // One timer step at a given steady-clock time in nanoseconds: tick() with the clock made explicit.
    void tick_at(int64_t now);
    bool task_pending() const noexcept { return task.valid(); }
    // What the next frame would show, and whether the tick at `now` should ask for it.
    FrameKey frame_key() const;
    bool wants_frame(int64_t now) const;
    // The change-folder region that is live on the current screen, if any.
    const UiRect* change_region() const noexcept;

    // Fits the render target to the client area and the current scale.
    void resize();

    // Drawing (the graphics resources and the screens).
    void paint();
    void create_device_resources();
    void release_device_resources();
    void create_render_target();
    void create_bitmap(const PixelImage& image, common::ComPtr<ID2D1Bitmap>& field);
    void fill_rounded_rect(const UiRect& rect, uint32_t rgb, float radius, float alpha);
    void draw_line(float x1, float y1, float x2, float y2, uint32_t rgb, float width);
    void fill_gradient(const UiRect& rect, uint32_t rgb1, float alpha1, uint32_t rgb2, float alpha2,
                       bool vertical);
    void draw_text(const std::wstring& text, const UiRect& rect, int32_t size, uint32_t rgb, bool bold,
                   float alpha, bool centred = false);
    IDWriteTextFormat* text_format(int32_t size, bool bold);
    // The result of EndDraw: a lost device drops the device objects for the next paint to rebuild.
    void finish_frame(HRESULT endDrawResult);
    void draw_button(const UiRect& rect, const std::wstring& text, bool primary);
    void draw_step(float x, float y, const std::wstring& text, bool done);
    void draw_folder_row();

    HWND hwnd = nullptr;
    float scale = 1.0f;
    HINSTANCE instance;
    std::filesystem::path installDir;
    std::filesystem::path desktopDir;
    std::filesystem::path programsDir;
    std::atomic<int32_t> state{Idle};
    std::atomic<float> stepProgress{0.0f};
    std::atomic<bool> cancelRequested{false};
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<uint64_t> bytesTotal{0};
    std::future<std::string> task;
    std::wstring errorText;
    std::wstring versionText;
    bool closeRequested = false;
    int32_t shownState = 0;
    float clock = 0.0f;
    float frameDelta = 0.0f;
    float shownProgress = 0.0f;
    float hover = 0.0f;
    float stateFade = 1.0f;
    float mouseX = -1.0f;
    float mouseY = -1.0f;
    UiRect primaryButton{360, 446, 474, 54};
    UiRect secondaryButton{681, 446, 153, 54};
    UiRect changeButton{736, 316, 88, 36};
    UiRect closeButton{826, 20, 36, 36};
    int64_t startTime;
    int64_t lastTick;
    // Steady-clock time of the last install start; see kStartSettleNanoseconds.
    int64_t installStartedAt = 0;
    common::ComPtr<ID2D1Factory> d2dFactory;
    common::ComPtr<IDWriteFactory> writeFactory;
    common::ComPtr<IWICImagingFactory> imagingFactory;
    common::ComPtr<ID2D1HwndRenderTarget> renderTarget;
    common::ComPtr<ID2D1SolidColorBrush> brush;
    common::ComPtr<ID2D1Bitmap> artwork;
    common::ComPtr<ID2D1Bitmap> logo;
    std::map<std::pair<int32_t, bool>, common::ComPtr<IDWriteTextFormat>> textFormats;
    // The pictures' pixels at the scale they were made for, kept to rebuild the bitmaps after a
    // lost device; a helper thread makes them for the first frame.
    Pictures pictures;
    std::future<Pictures> picturesReady;
    // What the last painted frame showed, and what frames cost.
    FrameKey paintedFrame;
    FramePacer pacer;
    // Loads the trusted root certificates once after the first frame, so that the first request
    // after the click does not wait for them.
    std::future<void> rootStoreWarmup;

private:
    void compose_frame();
    void start_install();
    void change_folder();
};

// The path of a known folder (SHGetKnownFolderPath, flags 0, no user token).
std::filesystem::path known_folder_path(const KNOWNFOLDERID& folder);

// Steady-clock time in nanoseconds, the clock of tick().
int64_t steady_now() noexcept;

}  // namespace installer
