// Asynchronous exchanges against an absolute deadline.
#include <chrono>

#include "net/http_request.h"
#include "tests/net/net_test.h"

namespace {

using test::NetTest;
using Clock = std::chrono::steady_clock;

kr::HttpResponse fetch_by(const std::string& url, uint64_t deadline) {
    kr::HttpRequest request = kr::open_request(url, "GET", "", "", false, false, deadline, false, L"", nullptr);
    return kr::read_response(request, false);
}

TEST_F(NetTest, AsynchronousExchangeAndClosingReleasesWinHttpsShare) {
    server().script("/async", {{{"status", 200}, {"body_size", 100000}}});
    EXPECT_EQ(fetch_by(server().url("https", "/async"), GetTickCount64() + 10000).body.size(), 100000u);

    kr::HttpRequest request = kr::open_request(server().url("https", "/async"), "GET", "", "", false, false,
                                               GetTickCount64() + 10000, false, L"", nullptr);
    EXPECT_TRUE(request.callback_active);
    EXPECT_EQ(request.response_status(), 200);
    // WinHTTP holds its own share of the signals until its last word about the handle.
    EXPECT_EQ(request.signals.use_count(), 2);
    request.handle.reset();
    EXPECT_EQ(WaitForSingleObject(request.signals->closed_event.get(), 10000), WAIT_OBJECT_0);
    // The notification drops its share just after setting the event.
    for (int i = 0; i < 1000 && request.signals.use_count() != 1; ++i)
        Sleep(1);
    EXPECT_EQ(request.signals.use_count(), 1);
}

TEST_F(NetTest, DeadlineInThePastWaitsNoTimeAtAll) {
    server().script("/late", {{{"status", 200}, {"delay", 1}}});
    const auto start = Clock::now();
    test::expect_network_error([&] { fetch_by(server().url("https", "/late"), 1); }, 12002,
                               "Не удалось отправить запрос (WinHTTP 12002)");
    // A wrapped-around wait would last for weeks; the close under Wine waits for the request's own end.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

TEST_F(NetTest, SilentServerTimesOutAtTheDeadline) {
    server().script("/silent", {{{"hang", true}}});
    const auto start = Clock::now();
    try {
        fetch_by(server().url("https", "/silent"), GetTickCount64() + 1500);
        ADD_FAILURE() << "a silent server answered";
    } catch (const kr::NetworkError& error) {
        EXPECT_EQ(error.code, 12002u);
        // Wine completes the send only with the headers, so the send's wait is the one that expires
        // there; on Windows it is the receive's.
        const std::string text = error.what();
        EXPECT_TRUE(text == "Не удалось отправить запрос (WinHTTP 12002)" ||
                    text == "Не удалось получить ответ сервера (WinHTTP 12002)")
            << text;
    }
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1400));
    EXPECT_LT(elapsed, std::chrono::seconds(15));
    // A request given up by an earlier test may still reach the server late; count this one's only.
    const nlohmann::json seen = server().records();
    int silent = 0;
    for (const auto& record : seen["records"])
        silent += record["path"] == "/silent" ? 1 : 0;
    EXPECT_EQ(silent, 1);
}

}  // namespace
