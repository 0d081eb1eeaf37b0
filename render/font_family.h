#pragma once

#include <dwrite.h>

#include <initializer_list>
#include <string>

namespace installer {

// The family every text is set in: "Segoe UI" whenever the system font collection has it. A system
// without it (Wine without configuration, stripped installations) would otherwise draw no text at
// all, so the first of a few common families that it does have stands in.
std::wstring interface_font_family(IDWriteFactory* factory);

// The first of the families that the collection has; failing all of them, the collection's first
// family; failing that (an empty collection), the first preferred name.
std::wstring first_available_family(IDWriteFontCollection* collection, std::initializer_list<const wchar_t*> preferred);

}  // namespace installer
