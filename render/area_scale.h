#pragma once

#include <cstdint>
#include <vector>

namespace installer {

// Pixels in rows of 4 bytes each (premultiplied BGRA), top row first, no padding.
struct PixelImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;
};

// A region of a source image in source pixels; its edges may fall inside a pixel.
struct SourceRegion {
    double x;
    double y;
    double width;
    double height;
};

// Shrinks `region` of `source` to width x height by area averaging: each target pixel is the
// coverage-weighted mean of the source pixels under it (what WIC calls the Fant filter). Unlike a
// bilinear draw of a picture many times its drawn size, every source pixel counts, so thin lines
// and edges come out smooth rather than jagged. Channels are averaged premultiplied, as they are
// stored, so transparent pixels lend no colour to their neighbours. For shrinking: a region smaller
// than the target is stretched with blocky pixels.
PixelImage area_scale(const PixelImage& source, const SourceRegion& region, uint32_t width, uint32_t height);

}  // namespace installer
