// Throttling answers block later requests inside this process, before any socket is opened. Entries
// live for the whole test process, so each test uses paths of its own and 1-second blocks where it
// must see the end of one; the longer delays are proven as a pure function in network_error_test.cpp.
#include <chrono>
#include <thread>

#include "net/http_request.h"
#include "tests/net/net_test.h"
#include "tests/support/expect_error.h"

namespace {

using test::NetTest;

constexpr char kOriginThrottled[] = "Сервер временно ограничил запросы (HTTP 429). Повторите позже.";
constexpr char kPathThrottled[] = "Доступ к этому ресурсу временно ограничен (HTTP 403). Повторите позже.";

int32_t status_of(const std::string& url, const std::string& method = "GET") {
    kr::HttpRequest request = kr::open_request(url, method, "", "", false, false, 0, false, L"", nullptr);
    return kr::read_response(request, false).status;
}

size_t requests_seen() {
    return test::LoopbackServer::get().records()["records"].size();
}

TEST_F(NetTest, TooManyRequestsBlocksTheWholeOriginUntilItsTime) {
    server().script("/throttle-429", {{{"status", 429}, {"headers", {{"Retry-After", "1"}}}}});
    server().script("/throttle-429-other", {{{"status", 200}}});
    const auto answered = std::chrono::steady_clock::now();
    EXPECT_EQ(status_of(server().url("https", "/throttle-429")), 429);
    const nlohmann::json before = server().records();

    test::expect_error([&] { status_of(server().url("https", "/throttle-429-other")); }, kOriginThrottled);
    test::expect_error([&] { status_of(server().url("https", "/throttle-429-other"), "POST"); }, kOriginThrottled);
    // No request and no new connection reached the server while blocked.
    EXPECT_EQ(server().records(), before);
    // Another origin (scheme and port) is not blocked.
    EXPECT_EQ(status_of(server().url("http", "/throttle-429-other")), 200);

    // The first request after the block's time removes the entry and goes out.
    bool passed = false;
    while (!passed && std::chrono::steady_clock::now() - answered < std::chrono::seconds(10)) {
        try {
            passed = status_of(server().url("https", "/throttle-429-other")) == 200;
        } catch (const std::runtime_error& error) {
            ASSERT_EQ(error.what(), std::string(kOriginThrottled));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    EXPECT_TRUE(passed);
    EXPECT_GE(std::chrono::steady_clock::now() - answered, std::chrono::milliseconds(900));
}

TEST_F(NetTest, ChallengeBlocksOnlyTheSameMethodAndPath) {
    server().script("/throttle-403",
                    {{{"status", 403}, {"headers", {{"cf-mitigated", "challenge"}}}}, {{"status", 200}}});
    server().script("/throttle-403-other", {{{"status", 200}}});
    EXPECT_EQ(status_of(server().url("https", "/throttle-403")), 403);
    const size_t seen = requests_seen();
    test::expect_error([&] { status_of(server().url("https", "/throttle-403?page=2")); }, kPathThrottled);
    EXPECT_EQ(requests_seen(), seen);
    EXPECT_EQ(status_of(server().url("https", "/throttle-403"), "POST"), 200);
    EXPECT_EQ(status_of(server().url("https", "/throttle-403-other")), 200);
    EXPECT_EQ(status_of(server().url("https", "/THROTTLE-403")), 404);
}

TEST_F(NetTest, PlainForbiddenRecordsNothing) {
    server().script("/throttle-403-plain", {{{"status", 403}, {"headers", {{"cf-mitigated", "block"}}}}});
    EXPECT_EQ(status_of(server().url("https", "/throttle-403-plain")), 403);
    EXPECT_EQ(status_of(server().url("https", "/throttle-403-plain")), 403);
    EXPECT_EQ(requests_seen(), 2u);
}

}  // namespace
