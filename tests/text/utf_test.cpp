#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "text/utf.h"

namespace {

using namespace std::string_literals;

TEST(Utf, EmptyInEitherDirection) {
    EXPECT_EQ(text::wide_from_utf8(""), L"");
    EXPECT_EQ(text::utf8_from_wide(L""), "");
}

TEST(Utf, CyrillicRoundTripKeepsEveryByte) {
    const std::string message = "В выбранной папке находятся другие файлы. Выберите пустую папку.";
    const std::wstring wide = text::wide_from_utf8(message);
    EXPECT_EQ(wide.substr(0, 2), L"\u0412 ");
    EXPECT_EQ(text::utf8_from_wide(wide), message);
}

TEST(Utf, FourByteSequenceBecomesSurrogatePair) {
    EXPECT_EQ(text::wide_from_utf8("\xF0\x9F\x9A\x80"), L"\xD83D\xDE80");
    EXPECT_EQ(text::utf8_from_wide(L"\xD83D\xDE80"), "\xF0\x9F\x9A\x80");
}

TEST(Utf, EmbeddedZeroIsConvertedAndDoesNotEndTheText) {
    EXPECT_EQ(text::wide_from_utf8("a\0b"s), L"a\0b"s);
    EXPECT_EQ(text::utf8_from_wide(L"\u044f\0z"s), "\xD1\x8F\0z"s);
}

TEST(Utf, MalformedUtf8IsRefused) {
    const std::string cases[] = {
        "\x80",              // lone continuation byte
        "ok\xBF",            // continuation byte after ASCII
        "\xD0",              // truncated two-byte sequence
        "\xE2\x82",          // truncated three-byte sequence
        "\xC0\xAF",          // overlong '/'
        "\xE0\x80\xAF",      // overlong '/' in three bytes
        "\xED\xA0\x80",      // encoded high surrogate
        "\xED\xBF\xBF",      // encoded low surrogate
        "\xF4\x90\x80\x80",  // beyond U+10FFFF
        "\xFF",              // never valid
    };
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        try {
            text::wide_from_utf8(bytes);
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Некорректный UTF-8");
        }
    }
}

TEST(Utf, LoneSurrogateBecomesReplacementCharacter) {
    EXPECT_EQ(text::utf8_from_wide(L"a\xD800z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(text::utf8_from_wide(L"\xDC00"), "\xEF\xBF\xBD");
}

}  // namespace
