// Pure rules of the network client: error texts, retry decisions, throttle delays, origin rewrite.
// Wine reports every certificate problem as 12157 without secure-failure flags, so the 12175 reasons
// are proven here as a function of code and flags.
#include <gtest/gtest.h>

#include <windows.h>

#include "net/api_origin.h"
#include "net/network_error.h"
#include "net/throttle.h"

namespace {

TEST(NetworkErrorText, NamesTheFirstMatchingTlsReasonOnlyFor12175) {
    struct Case {
        uint32_t code;
        uint32_t flags;
        const char* text;
    };
    const Case cases[] = {
        {12175, 0x3F, "X. Защищённое соединение: сертификат отозван (WinHTTP 12175)"},
        {12175, 0x3B,
         "X. Защищённое соединение: сертификат ещё не действует или истёк; проверьте дату и время Windows (WinHTTP "
         "12175)"},
        {12175, 0x1B, "X. Защищённое соединение: сертификат выдан для другого адреса (WinHTTP 12175)"},
        {12175, 0x0B, "X. Защищённое соединение: Windows не доверяет центру сертификации сервера (WinHTTP 12175)"},
        {12175, 0x03, "X. Защищённое соединение: некорректный сертификат сервера (WinHTTP 12175)"},
        {12175, 0x01, "X. Защищённое соединение: не удалось проверить отзыв сертификата (WinHTTP 12175)"},
        {12175, 0, "X. Защищённое соединение: сбой согласования TLS (WinHTTP 12175)"},
        {12175, 0x80000040, "X. Защищённое соединение: сбой согласования TLS (WinHTTP 12175)"},
        {12157, 0x08,
         "X. Защищённое соединение: не удалось установить; проверьте дату и время Windows, антивирус или прокси "
         "(WinHTTP 12157)"},
        {12002, 0x3F, "X (WinHTTP 12002)"},
        {0xFFFFFFFF, 0, "X (WinHTTP 4294967295)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kr::network_error_text("X", c.code, c.flags), c.text) << c.code << " " << c.flags;
        const kr::NetworkError error("X", c.code, c.flags);
        EXPECT_EQ(error.what(), std::string(c.text));
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.secure_flags, c.flags);
    }
}

TEST(NetworkErrorRetry, TransientCodesOnlyAndNeverAJudgedCertificate) {
    struct Case {
        uint32_t code;
        uint32_t flags;
        bool retryable;
    };
    const Case cases[] = {
        {12002, 0, true},     {12007, 0, true},          {12029, 0, true},     {12030, 0, true},
        {12032, 0, true},     {12057, 0, true},          {12157, 0x3E, true},  {12175, 0, true},
        {12175, 0x01, true},  {12175, 0x80000000, true}, {12175, 0x02, false}, {12175, 0x04, false},
        {12175, 0x08, false}, {12175, 0x10, false},      {12175, 0x20, false}, {12152, 0, false},
        {10054, 0, false},    {10060, 0, false},         {0, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kr::NetworkError("X", c.code, c.flags).is_retryable(), c.retryable) << c.code << " " << c.flags;
    }
}

uint64_t file_time(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME system{};
    system.wYear = year;
    system.wMonth = month;
    system.wDay = day;
    system.wHour = hour;
    system.wMinute = minute;
    system.wSecond = second;
    FILETIME file{};
    SystemTimeToFileTime(&system, &file);
    return (uint64_t{file.dwHighDateTime} << 32) | file.dwLowDateTime;
}

TEST(ThrottleDelay, DefaultsClampsAndHttpDates) {
    // "now" is Tue, 01 Jun 2027 12:00:00 GMT.
    const uint64_t now = file_time(2027, 6, 1, 12, 0, 0);
    struct Case {
        int32_t status;
        const wchar_t* challenge;
        const wchar_t* retryAfter;
        uint32_t seconds;
    };
    const Case cases[] = {
        {429, L"", L"", 60},
        {429, L"", L"0", 1},
        {429, L"", L"5", 5},
        {429, L"", L"3600", 900},
        {429, L"", L"9999999", 900},
        // Eight digits are not seconds: as a date they do not parse, so the default stays.
        {429, L"", L"00000005", 60},
        {429, L"", L"Tue, 01 Jun 2027 12:02:00 GMT", 120},
        {429, L"", L"Tue, 01 Jun 2027 12:00:00 GMT", 60},
        {429, L"", L"Mon, 31 May 2027 12:00:00 GMT", 60},
        {429, L"", L"Wed, 02 Jun 2027 12:00:00 GMT", 900},
        {429, L"", L"soon", 60},
        {403, L"", L"", 0},
        {403, L"managed", L"", 0},
        {403, L"Challenge", L"", 0},
        {403, L"challenge", L"", 300},
        {403, L"", L"30", 30},
        {403, L"", L"Tue, 01 Jun 2027 11:00:00 GMT", 300},
        {503, L"challenge", L"30", 0},
        {200, L"", L"", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kr::throttle_delay_seconds(c.status, c.challenge, c.retryAfter, now), c.seconds)
            << c.status << " [" << testing::PrintToString(std::wstring(c.retryAfter)) << "]";
    }
}

TEST(OriginRewrite, OnlyTheRetiredOriginAloneOrFollowedBySlash) {
    const std::string retired = "https://old.example";
    const std::string current = "https://new.example";
    struct Case {
        const char* url;
        const char* expected;
    };
    const Case cases[] = {
        {"https://old.example", "https://new.example"},
        {"https://old.example/", "https://new.example/"},
        {"https://old.example/api/me?x=1&y=/2#f", "https://new.example/api/me?x=1&y=/2#f"},
        {"https://old.example.org/api", "https://old.example.org/api"},
        {"https://old.example:443/api", "https://old.example:443/api"},
        {"https://old.example?x=1", "https://old.example?x=1"},
        {"https://OLD.example/api", "https://OLD.example/api"},
        {"http://old.example/api", "http://old.example/api"},
        {"https://other.example/https://old.example/", "https://other.example/https://old.example/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kr::rewrite_retired_origin(c.url, retired, current), c.expected) << c.url;
    }
}

}  // namespace
