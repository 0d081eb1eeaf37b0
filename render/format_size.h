#pragma once

#include <cstdint>
#include <string>

namespace installer {

// A byte count for the download's size line: "1.0 ГБ" from 2^30 bytes up, otherwise megabytes with
// one decimal below 1 MiB ("0.5 МБ") and none above ("2 МБ"). UTF-8.
std::string format_size(uint64_t bytes);

}  // namespace installer
