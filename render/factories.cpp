#include "render/factories.h"

#include <stdexcept>

namespace installer {
namespace {

constexpr char kNoInterface[] = "Не удалось подготовить интерфейс";
constexpr char kNoFonts[] = "Не удалось подготовить шрифты";
constexpr char kNoImages[] = "Не удалось подготовить изображения";

}  // namespace

common::ComPtr<ID2D1Factory> create_d2d_factory() {
    common::ComPtr<ID2D1Factory> factory;
    // Single-threaded: every drawing call happens on the window thread.
    if (FAILED(::D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                                   factory.put_void()))) {
        throw std::runtime_error(kNoInterface);
    }
    return factory;
}

common::ComPtr<IDWriteFactory> create_write_factory() {
    common::ComPtr<IDWriteFactory> factory;
    if (FAILED(::DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                     reinterpret_cast<IUnknown**>(factory.put())))) {
        throw std::runtime_error(kNoFonts);
    }
    return factory;
}

common::ComPtr<IWICImagingFactory> create_imaging_factory() {
    common::ComPtr<IWICImagingFactory> factory;
    if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                  factory.put_void()))) {
        throw std::runtime_error(kNoImages);
    }
    return factory;
}

}  // namespace installer
