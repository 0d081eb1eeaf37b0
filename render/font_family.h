#pragma once

#include <dwrite.h>

#include <string>

namespace installer {

// The family every text is set in: "Segoe UI" whenever the system font collection has it. A system
// without it (Wine without configuration, stripped installations) would otherwise draw no text at
// all, so the first of a few common families that it does have stands in, and failing those the
// collection's first family.
std::wstring interface_font_family(IDWriteFactory* factory);

}  // namespace installer
