#pragma once

#include <d2d1.h>
#include <dwrite.h>
#include <wincodec.h>

#include "common/com_ptr.h"

namespace installer {

// The device-independent graphics factories, made once per canvas. Each failure throws its
// own message: they are start-up errors that the entry point reports.
common::ComPtr<ID2D1Factory> create_d2d_factory();
common::ComPtr<IDWriteFactory> create_write_factory();
common::ComPtr<IWICImagingFactory> create_imaging_factory();

}  // namespace installer
