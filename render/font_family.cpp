#include "render/font_family.h"

#include <vector>

#include "common/com_ptr.h"

namespace installer {
namespace {

std::wstring first_name(IDWriteFontCollection* collection, UINT32 index) {
    common::ComPtr<IDWriteFontFamily> family;
    common::ComPtr<IDWriteLocalizedStrings> names;
    UINT32 length = 0;
    if (FAILED(collection->GetFontFamily(index, family.put())) || FAILED(family->GetFamilyNames(names.put())) ||
        names->GetCount() == 0 || FAILED(names->GetStringLength(0, &length))) {
        return {};
    }
    std::vector<wchar_t> name(length + 1);
    if (FAILED(names->GetString(0, name.data(), length + 1))) {
        return {};
    }
    return std::wstring(name.data(), length);
}

}  // namespace

std::wstring first_available_family(IDWriteFontCollection* collection,
                                    std::initializer_list<const wchar_t*> preferred) {
    for (const wchar_t* family : preferred) {
        UINT32 index = 0;
        BOOL exists = FALSE;
        if (SUCCEEDED(collection->FindFamilyName(family, &index, &exists)) && exists) {
            return family;
        }
    }
    if (collection->GetFontFamilyCount() > 0) {
        std::wstring name = first_name(collection, 0);
        if (!name.empty()) {
            return name;
        }
    }
    return preferred.size() > 0 ? *preferred.begin() : L"";
}

std::wstring interface_font_family(IDWriteFactory* factory) {
    constexpr const wchar_t* kSegoe = L"Segoe UI";
    common::ComPtr<IDWriteFontCollection> collection;
    if (FAILED(factory->GetSystemFontCollection(collection.put(), FALSE)) || !collection) {
        return kSegoe;
    }
    return first_available_family(collection.get(), {kSegoe, L"Tahoma", L"Arial", L"Noto Sans", L"Open Sans",
                                                     L"DejaVu Sans", L"Liberation Sans"});
}

}  // namespace installer
