#include <windows.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/com_ptr.h"

// The program's resources as Windows reads them from the module (the test program links the same
// resource object as the product).
namespace {

std::string resource_bytes(const wchar_t* type, int id) {
    const HMODULE module = ::GetModuleHandleW(nullptr);
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) {
        return {};
    }
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
    return std::string(bytes, ::SizeofResource(module, found));
}

std::wstring version_string(const std::vector<char>& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\041904B0\\") + name;
    if (!::VerQueryValueW(block.data(), key.c_str(), &value, &length) || length == 0) {
        return {};
    }
    return std::wstring(static_cast<const wchar_t*>(value), length - 1);
}

TEST(Resources, ManifestAsksForNothingMoreThanTheUser) {
    const std::string manifest = resource_bytes(MAKEINTRESOURCEW(24), 1);
    ASSERT_FALSE(manifest.empty());
    for (const char* part : {"name=\"Korvane.Installer\"", "version=\"0.2.18.0\"", "processorArchitecture=\"amd64\"",
                             "level=\"asInvoker\"", "uiAccess=\"false\"", ">PerMonitorV2<", ">true</longPathAware>",
                             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
}

TEST(Resources, VersionRecord) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, block.data()));
    EXPECT_EQ(version_string(block, L"CompanyName"), L"Korvane Launcher");
    EXPECT_EQ(version_string(block, L"FileDescription"), L"Korvane Launcher Installer");
    EXPECT_EQ(version_string(block, L"FileVersion"), L"0.2.77");
    EXPECT_EQ(version_string(block, L"InternalName"), L"KorvaneInstaller");
    EXPECT_EQ(version_string(block, L"OriginalFilename"), L"Korvane-Setup.exe");
    EXPECT_EQ(version_string(block, L"ProductName"), L"Korvane Launcher");
    EXPECT_EQ(version_string(block, L"ProductVersion"), L"0.2.77");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(2, 0));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 73));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(2, 0));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, 73));
}

TEST(Resources, IconGroupFrom16To256Pixels) {
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const HANDLE icon = ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0);
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(static_cast<HICON>(icon), &info));
        BITMAP bitmap{};
        ::GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(static_cast<HICON>(icon));
    }
}

TEST(Resources, PicturesHaveTheirFormatsAndSizes) {
    ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        common::ComPtr<IWICImagingFactory> factory;
        ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IWICImagingFactory, factory.put_void()));
        struct Case {
            int id;
            GUID container;
            UINT width;
            UINT height;
        };
        // The artwork is the 736 x 1080 centre of a 1920 x 1080 picture: the card's crop (302 x 458 at full
        // height, 712 columns) with a few columns to spare, so nothing the card shows was cut.
        for (const Case& c :
             {Case{101, GUID_ContainerFormatJpeg, 736, 1080}, Case{102, GUID_ContainerFormatPng, 1536, 1024}}) {
            std::string bytes = resource_bytes(MAKEINTRESOURCEW(10), c.id);
            ASSERT_FALSE(bytes.empty()) << c.id;
            common::ComPtr<IWICStream> stream;
            ASSERT_HRESULT_SUCCEEDED(factory->CreateStream(stream.put()));
            ASSERT_HRESULT_SUCCEEDED(
                stream->InitializeFromMemory(reinterpret_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())));
            common::ComPtr<IWICBitmapDecoder> decoder;
            ASSERT_HRESULT_SUCCEEDED(
                factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, decoder.put()));
            GUID container{};
            decoder->GetContainerFormat(&container);
            EXPECT_TRUE(IsEqualGUID(container, c.container)) << c.id;
            common::ComPtr<IWICBitmapFrameDecode> frame;
            ASSERT_HRESULT_SUCCEEDED(decoder->GetFrame(0, frame.put()));
            UINT width = 0, height = 0;
            frame->GetSize(&width, &height);
            EXPECT_EQ(width, c.width);
            EXPECT_EQ(height, c.height);
            if (c.id == 102) {
                WICPixelFormatGUID format{};
                frame->GetPixelFormat(&format);
                EXPECT_TRUE(IsEqualGUID(format, GUID_WICPixelFormat32bppRGBA) ||
                            IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA) ||
                            IsEqualGUID(format, GUID_WICPixelFormat64bppRGBA));
            }
        }
    }
    ::CoUninitialize();
}

}  // namespace
