#include "render/pictures.h"

#include <wincodec.h>

#include <cmath>
#include <stdexcept>

#include "common/com_apartment.h"
#include "common/com_ptr.h"
#include "common/windows_call.h"

namespace installer {
namespace {

constexpr char kNoResource[] = "Не удалось загрузить оформление установщика";
constexpr char kNoStream[] = "Не удалось загрузить изображение";
constexpr char kUnreadableImage[] = "Не удалось прочитать изображение";
constexpr int kArtworkId = 101;
constexpr int kLogoId = 102;
constexpr double kCardWidth = 302.0;
constexpr double kCardHeight = 458.0;
constexpr double kLogoWidth = 105.0;
constexpr double kLogoHeight = 72.0;

// The premultiplied pixels of the picture in RCDATA `id`, columns [left, left + width) only.
PixelImage decode(IWICImagingFactory* factory, HINSTANCE instance, int id, double cropAspect) {
    const HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    const HGLOBAL loaded = resource ? ::LoadResource(instance, resource) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        throw std::runtime_error(kNoResource);
    }
    common::ComPtr<IWICStream> stream;
    common::throw_if_failed(factory->CreateStream(stream.put()), kNoStream);
    // The resource stays mapped for the life of the module, so the stream may read it in place.
    common::throw_if_failed(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)),
                                                         ::SizeofResource(instance, resource)),
                            kUnreadableImage);
    common::ComPtr<IWICBitmapDecoder> decoder;
    common::throw_if_failed(
        factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, decoder.put()),
        kUnreadableImage);
    common::ComPtr<IWICBitmapFrameDecode> frame;
    common::throw_if_failed(decoder->GetFrame(0, frame.put()), kUnreadableImage);
    common::ComPtr<IWICFormatConverter> converter;
    common::throw_if_failed(factory->CreateFormatConverter(converter.put()), kUnreadableImage);
    common::throw_if_failed(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                                                  nullptr, 0.0, WICBitmapPaletteTypeCustom),
                            kUnreadableImage);
    UINT width = 0;
    UINT height = 0;
    common::throw_if_failed(converter->GetSize(&width, &height), kUnreadableImage);
    if (width == 0 || height == 0) {
        throw std::runtime_error(kUnreadableImage);
    }
    // Only the columns a centre crop keeps are copied out of the decoder.
    UINT left = 0;
    UINT copied = width;
    if (cropAspect > 0.0) {
        const double kept = std::min<double>(height * cropAspect, width);
        left = static_cast<UINT>(std::floor((width - kept) / 2.0));
        copied = std::min<UINT>(width - left, static_cast<UINT>(std::ceil((width + kept) / 2.0)) - left);
    }
    PixelImage image{copied, height, std::vector<uint8_t>(static_cast<size_t>(copied) * height * 4)};
    const WICRect rect{static_cast<INT>(left), 0, static_cast<INT>(copied), static_cast<INT>(height)};
    common::throw_if_failed(
        converter->CopyPixels(&rect, copied * 4, static_cast<UINT>(image.pixels.size()), image.pixels.data()),
        kUnreadableImage);
    return image;
}

uint32_t device_pixels(double logical, float scale) {
    return static_cast<uint32_t>(std::max(1L, std::lround(logical * scale)));
}

}  // namespace

Pictures prepare_pictures(HINSTANCE instance, float scale) {
    const common::ComApartment apartment;
    if (!apartment.succeeded()) {
        throw std::runtime_error(kNoStream);
    }
    common::ComPtr<IWICImagingFactory> factory;
    common::throw_if_failed(::CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER,
                                               __uuidof(IWICImagingFactory), reinterpret_cast<void**>(factory.put())),
                            kNoStream);

    Pictures pictures;
    pictures.scale = scale;
    // The card shows the artwork's centre at the card's aspect, full height.
    const double cardAspect = kCardWidth / kCardHeight;
    const PixelImage art = decode(factory.get(), instance, kArtworkId, cardAspect);
    const double kept = std::min<double>(art.height * cardAspect, art.width);
    pictures.artwork = area_scale(art, {(art.width - kept) / 2.0, 0.0, kept, static_cast<double>(art.height)},
                                  device_pixels(kCardWidth, scale), device_pixels(kCardHeight, scale));
    const PixelImage logo = decode(factory.get(), instance, kLogoId, 0.0);
    pictures.logo = area_scale(logo, {0.0, 0.0, static_cast<double>(logo.width), static_cast<double>(logo.height)},
                               device_pixels(kLogoWidth, scale), device_pixels(kLogoHeight, scale));
    return pictures;
}

}  // namespace installer
