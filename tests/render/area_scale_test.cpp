#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "render/area_scale.h"

namespace {

using installer::PixelImage;

// Every channel of every pixel set to `value(x, y)`.
template <typename Value>
PixelImage make_image(uint32_t width, uint32_t height, Value value) {
    PixelImage image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4)};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (int c = 0; c < 4; ++c) {
                image.pixels[(static_cast<size_t>(y) * width + x) * 4 + c] = value(x, y);
            }
        }
    }
    return image;
}

uint8_t channel(const PixelImage& image, uint32_t x, uint32_t y, int c = 0) {
    return image.pixels[(static_cast<size_t>(y) * image.width + x) * 4 + c];
}

// One-pixel detail shrunk fourfold: a filter that samples (as a bilinear draw of a picture many
// times its drawn size does) lands on black or white and shows stairs and moiré; averaging the
// area gives the even grey the eye sees, along either axis.
TEST(AreaScale, FineDetailAveragesInsteadOfAliasing) {
    struct Case {
        const char* name;
        uint8_t (*value)(uint32_t x, uint32_t y);
    };
    const Case cases[] = {
        {"checkerboard", [](uint32_t x, uint32_t y) -> uint8_t { return (x + y) % 2 ? 255 : 0; }},
        {"vertical lines", [](uint32_t x, uint32_t) -> uint8_t { return x % 2 ? 255 : 0; }},
        {"horizontal lines", [](uint32_t, uint32_t y) -> uint8_t { return y % 2 ? 255 : 0; }},
    };
    for (const Case& c : cases) {
        const PixelImage small = installer::area_scale(make_image(64, 64, c.value), {0, 0, 64, 64}, 16, 16);
        ASSERT_EQ(small.width, 16u);
        ASSERT_EQ(small.height, 16u);
        for (uint32_t y = 0; y < 16; ++y) {
            for (uint32_t x = 0; x < 16; ++x) {
                EXPECT_NEAR(channel(small, x, y), 128, 1) << c.name << " at " << x << "," << y;
            }
        }
    }
}

// Fractional edges: each target pixel weighs the source pixels by how much of them it covers.
TEST(AreaScale, PartlyCoveredPixelsCountByTheirCoverage) {
    struct Case {
        const char* name;
        installer::SourceRegion region;
        uint32_t width;
        std::vector<uint8_t> expected;
    };
    // Source row: 0, 90, 180, 255.
    const PixelImage row = make_image(4, 1, [](uint32_t x, uint32_t) -> uint8_t { return x == 3 ? 255 : x * 90; });
    const Case cases[] = {
        {"three to two", {0, 0, 3, 1}, 2, {30, 150}},      // (0 + 90/2) / 1.5, (90/2 + 180) / 1.5
        {"whole row halved", {0, 0, 4, 1}, 2, {45, 218}},  // means of pairs
        {"off-centre crop", {0.5, 0, 3, 1}, 1, {133}},     // (0/2 + 90 + 180 + 255/2) / 3
    };
    for (const Case& c : cases) {
        const PixelImage scaled = installer::area_scale(row, c.region, c.width, 1);
        ASSERT_EQ(scaled.width, c.width) << c.name;
        for (uint32_t x = 0; x < c.width; ++x) {
            EXPECT_NEAR(channel(scaled, x, 0), c.expected[x], 1) << c.name << " pixel " << x;
        }
    }
}

// Premultiplied: a transparent pixel adds no colour, only transparency.
TEST(AreaScale, TransparentNeighboursOnlyThinTheAlpha) {
    PixelImage edge{2, 1, {0, 0, 0, 0, /* opaque orange, BGRA */ 0x3B, 0x71, 0xFF, 0xFF}};
    const PixelImage one = installer::area_scale(edge, {0, 0, 2, 1}, 1, 1);
    EXPECT_NEAR(channel(one, 0, 0, 0), 0x3B / 2, 1);
    EXPECT_NEAR(channel(one, 0, 0, 1), 0x71 / 2, 1);
    EXPECT_NEAR(channel(one, 0, 0, 2), 0xFF / 2, 1);
    EXPECT_NEAR(channel(one, 0, 0, 3), 0xFF / 2, 1);
}

}  // namespace
