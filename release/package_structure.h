#pragma once

// Whether every byte of a ZIP archive is accounted for by its own records. Free of Windows headers:
// the release tool and the fuzz targets compile it too.

#include <string>

#include <miniz.h>

namespace release {

// Empty when the archive is laid out without ambiguity: local records back to back from the first
// byte, each with the name, method and CRC the central directory gives it; the central directory
// right after them; then only the ZIP64 end records (when present) and one end record whose comment
// runs to the last byte. Otherwise a short English description of the first flaw, for the publisher.
// Two archives joined together, bytes before the first record, a second end record and entries
// sharing data all fail here: other ZIP readers would see a different package in them.
std::string package_structure_flaw(mz_zip_archive& zip);

}  // namespace release
