#include "render/format_size.h"

#include <cstdio>

namespace installer {

std::string format_size(uint64_t bytes) {
    constexpr uint64_t kMebibyte = uint64_t{1} << 20;
    constexpr uint64_t kGibibyte = uint64_t{1} << 30;
    char number[64];
    const double value = static_cast<double>(bytes);
    if (bytes >= kGibibyte) {
        std::snprintf(number, sizeof(number), "%.1f", value / static_cast<double>(kGibibyte));
        return std::string(number) + " ГБ";
    }
    std::snprintf(number, sizeof(number), bytes < kMebibyte ? "%.1f" : "%.0f", value / static_cast<double>(kMebibyte));
    return std::string(number) + " МБ";
}

}  // namespace installer
