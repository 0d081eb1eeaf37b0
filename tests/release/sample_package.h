#pragma once

#include <string>
#include <vector>

#include "tests/release/zip_builder.h"

namespace test {

// A package the installer accepts: the top folder, a folder entry, the six required files (some
// deflated, some stored) and one extra asset.
std::vector<ZipEntry> sample_package();

}  // namespace test
