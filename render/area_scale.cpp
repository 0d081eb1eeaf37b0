#include "render/area_scale.h"

#include <algorithm>
#include <cmath>

namespace installer {
namespace {

// Source pixel `index` and the share of it that one target pixel covers.
struct Tap {
    uint32_t index;
    float weight;
};

// For each target pixel along one axis, the source pixels under it and their coverage, normalised.
std::vector<std::vector<Tap>> taps_along(double start, double length, uint32_t sourceSize, uint32_t targetSize) {
    std::vector<std::vector<Tap>> taps(targetSize);
    const double step = length / targetSize;
    for (uint32_t i = 0; i < targetSize; ++i) {
        const double from = std::clamp(start + step * i, 0.0, static_cast<double>(sourceSize));
        const double to = std::clamp(start + step * (i + 1), from, static_cast<double>(sourceSize));
        double total = 0.0;
        for (auto p = static_cast<uint32_t>(std::floor(from)); p < sourceSize && p < to; ++p) {
            const double covered = std::min<double>(to, p + 1) - std::max<double>(from, p);
            if (covered > 0.0) {
                taps[i].push_back({p, static_cast<float>(covered)});
                total += covered;
            }
        }
        if (taps[i].empty()) {
            // A region narrower than a source pixel: take the pixel it lies in.
            taps[i].push_back({std::min(static_cast<uint32_t>(from), sourceSize - 1), 1.0f});
            total = 1.0;
        }
        for (Tap& tap : taps[i]) {
            tap.weight = static_cast<float>(tap.weight / total);
        }
    }
    return taps;
}

}  // namespace

PixelImage area_scale(const PixelImage& source, const SourceRegion& region, uint32_t width, uint32_t height) {
    PixelImage target{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    if (width == 0 || height == 0 || source.width == 0 || source.height == 0) {
        return target;
    }
    const auto columns = taps_along(region.x, region.width, source.width, width);
    const auto rows = taps_along(region.y, region.height, source.height, height);

    // Columns first, into floats, for every source row the target rows need.
    const uint32_t firstRow = rows.front().front().index;
    const uint32_t lastRow = rows.back().back().index;
    std::vector<float> narrowed(static_cast<size_t>(lastRow - firstRow + 1) * width * 4);
    for (uint32_t y = firstRow; y <= lastRow; ++y) {
        const uint8_t* in = source.pixels.data() + static_cast<size_t>(y) * source.width * 4;
        float* out = narrowed.data() + static_cast<size_t>(y - firstRow) * width * 4;
        for (uint32_t x = 0; x < width; ++x) {
            float sum[4] = {0, 0, 0, 0};
            for (const Tap& tap : columns[x]) {
                const uint8_t* pixel = in + static_cast<size_t>(tap.index) * 4;
                for (int c = 0; c < 4; ++c) {
                    sum[c] += tap.weight * pixel[c];
                }
            }
            std::copy(sum, sum + 4, out + static_cast<size_t>(x) * 4);
        }
    }
    // Then rows, rounded back to bytes.
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* out = target.pixels.data() + static_cast<size_t>(y) * width * 4;
        for (uint32_t x = 0; x < width * 4; ++x) {
            float sum = 0.0f;
            for (const Tap& tap : rows[y]) {
                sum += tap.weight * narrowed[static_cast<size_t>(tap.index - firstRow) * width * 4 + x];
            }
            out[x] = static_cast<uint8_t>(std::clamp(std::lround(sum), 0L, 255L));
        }
    }
    return target;
}

}  // namespace installer
