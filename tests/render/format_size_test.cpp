#include <gtest/gtest.h>

#include "render/format_size.h"

namespace {

TEST(FormatSize, MegabytesAndGigabytes) {
    struct Case {
        uint64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0.0 МБ"},           {524288, "0.5 МБ"},     {1048575, "1.0 МБ"},
        {1048576, "1 МБ"},       {1572864, "2 МБ"},      {157286400, "150 МБ"},
        {1073741823, "1024 МБ"}, {1073741824, "1.0 ГБ"}, {1610612736, "1.5 ГБ"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(installer::format_size(c.bytes), c.text) << c.bytes;
    }
}

}  // namespace
