// The API call policy: which calls are repeated, the pauses between attempts, the registration
// recovery and the deadline of the account endpoints.
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "net/api_request.h"
#include "tests/net/net_test.h"
#include "tests/support/expect_error.h"

namespace {

using test::NetTest;

nlohmann::json requests() {
    return test::LoopbackServer::get().records()["records"];
}

double gap_ms(const nlohmann::json& seen, size_t second) {
    return (seen[second]["time"].get<double>() - seen[second - 1]["time"].get<double>()) * 1000.0;
}

std::vector<nlohmann::json> statuses(std::initializer_list<int> codes) {
    std::vector<nlohmann::json> answers;
    for (int code : codes)
        answers.push_back({{"status", code}, {"body", "answer " + std::to_string(code)}});
    return answers;
}

TEST_F(NetTest, ReleaseManifestIsAskedThreeTimesAtMostWithGrowingPauses) {
    server().script("/downloads/launcher-release.json", statuses({503, 503, 200}));
    const kr::HttpResponse answer =
        kr::api_request(server().url("https", "/downloads/launcher-release.json"), "GET", "", "");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "answer 200");
    nlohmann::json seen = requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_GE(gap_ms(seen, 1), 340.0);
    EXPECT_LT(gap_ms(seen, 1), 3000.0);
    EXPECT_GE(gap_ms(seen, 2), 690.0);
    EXPECT_LT(gap_ms(seen, 2), 3500.0);

    // The third answer is returned whatever it is.
    server().reset();
    server().script("/head-check", statuses({502, 408, 504, 200}));
    EXPECT_EQ(kr::api_request(server().url("https", "/head-check"), "HEAD", "", "").status, 504);
    EXPECT_EQ(requests().size(), 3u);
}

TEST_F(NetTest, OnlyListedCallsAreRepeated) {
    struct Case {
        std::string method;
        std::string path;
        std::string body;
        size_t requests;
    };
    const Case cases[] = {
        {"POST", "/api/presence?to=/api/other", "", 2},
        {"POST", "/api/launcher/presence", "", 2},
        {"POST", "/api/other", "", 1},
        {"POST", "/api/register", R"({"username":"anna"})", 1},
        {"POST", "/api/register", R"({"username":7,"password":"secret"})", 1},
        {"POST", "/api/register", R"(not json)", 1},
        {"PUT", "/api/me", "", 1},
        {"DELETE", "/things", "", 1},
        {"GET", "/things", "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + " " + c.path);
        server().reset();
        server().script(c.path.substr(0, c.path.find('?')), statuses({503, 200}));
        const kr::HttpResponse answer = kr::api_request(server().url("https", c.path), c.method, c.body, "");
        EXPECT_EQ(answer.status, c.requests == 1 ? 503 : 200);
        EXPECT_EQ(requests().size(), c.requests);
    }
}

TEST_F(NetTest, RegistrationWhoseAnswerWasLostEndsAsALogin) {
    const std::string body = R"({"password":"p\"w","username":"анна","extra":[1]})";
    server().script("/v1/api/register", statuses({502, 409}));
    server().script("/v1/api/login", statuses({200}));
    const kr::HttpResponse answer =
        kr::api_request(server().url("https", "/v1/api/register?lang=ru"), "POST", body, "");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "answer 200");
    const nlohmann::json seen = requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0]["body"], body);
    EXPECT_EQ(seen[2]["method"], "POST");
    EXPECT_EQ(seen[2]["path"], "/v1/api/login?lang=ru");
    EXPECT_EQ(seen[2]["body"], R"({"login":"анна","password":"p\"w"})");

    // A 409 to the first attempt is the answer; a refused login leaves the 409.
    server().reset();
    server().script("/v2/api/register", statuses({409}));
    EXPECT_EQ(kr::api_request(server().url("https", "/v2/api/register"), "POST", body, "").status, 409);
    EXPECT_EQ(requests().size(), 1u);
    server().reset();
    server().script("/v3/api/register", statuses({500, 409}));
    server().script("/v3/api/login", statuses({401}));
    const kr::HttpResponse refused = kr::api_request(server().url("https", "/v3/api/register"), "POST", body, "");
    EXPECT_EQ(refused.status, 409);
    EXPECT_EQ(refused.body, "answer 409");
    EXPECT_EQ(requests().size(), 3u);
}

TEST_F(NetTest, RetryableTransportErrorsAreRepeatedThenPropagate) {
    server().script("/dropped", {{{"drop", true}}});
    try {
        kr::api_request(server().url("https", "/dropped"), "GET", "", "");
        ADD_FAILURE() << "a dropped connection gave an answer";
    } catch (const kr::NetworkError& error) {
        EXPECT_EQ(requests().size(), error.is_retryable() ? 3u : 1u) << error.what();
    }
    // A throttle refusal is no transport error: it propagates at once.
    server().script("/api-throttled", {{{"status", 403}, {"headers", {{"Retry-After", "30"}}}}});
    EXPECT_EQ(kr::api_request(server().url("https", "/api-throttled"), "GET", "", "").status, 403);
    test::expect_error([&] { kr::api_request(server().url("https", "/api-throttled"), "GET", "", ""); },
                       "Доступ к этому ресурсу временно ограничен (HTTP 403). Повторите позже.");
}

// A proxy that cannot be reached costs one attempt: the next one goes straight to the server, and
// a failure there goes back to the proxy.
TEST_F(NetTest, AFailingProxyFallsBackToADirectConnection) {
    // Nothing listens on port 1 of the loopback address: connecting to the proxy is refused.
    struct DeadProxy {
        DeadProxy() { kr::use_named_proxy(L"127.0.0.1:1"); }
        ~DeadProxy() { kr::use_named_proxy(L""); }
    } proxy;
    server().script("/downloads/launcher-release.json", statuses({200}));
    const kr::HttpResponse answer =
        kr::api_request(server().url("https", "/downloads/launcher-release.json"), "GET", "", "");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "answer 200");
    EXPECT_EQ(requests().size(), 1u);

    // Direct attempts that fail alternate with attempts through the proxy: of three, one reaches the
    // server.
    server().reset();
    server().script("/dropped", {{{"drop", true}}});
    EXPECT_THROW(kr::api_request(server().url("https", "/dropped"), "GET", "", ""), kr::NetworkError);
    EXPECT_EQ(requests().size(), 1u);
}

// The second pause (700 ms) would end past the 25-second deadline of a login.
TEST_F(NetTest, LoginDeadlineEndsTheRetries) {
    server().script("/api/login", {{{"status", 503}}, {{"status", 503}, {"delay", 24.1}}, {{"status", 200}}});
    test::expect_network_error([&] { kr::api_request(server().url("https", "/api/login"), "POST", "{}", ""); }, 12002,
                               "Сервер не ответил вовремя (WinHTTP 12002)");
    EXPECT_EQ(requests().size(), 2u);
}

}  // namespace

namespace {

// A caller's bound over all attempts, for an endpoint that has no deadline of its own.
TEST_F(NetTest, ATimeLimitBoundsACallThatHasNoDeadline) {
    server().script("/downloads/launcher-release.json", {{{"body", "{}"}, {"content_length", 1000}}});
    const auto start = std::chrono::steady_clock::now();
    try {
        kr::api_request(server().url("https", "/downloads/launcher-release.json"), "GET", "", "",
                        kr::ApiCallLimits{nullptr, 2000});
        ADD_FAILURE() << "an answer that never ends was accepted";
    } catch (const kr::NetworkError& error) {
        EXPECT_EQ(error.code, 12002u) << error.what();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1900));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

// A cancel gives the current attempt up and makes it the last one.
TEST_F(NetTest, ACancelEndsTheCallWithoutFurtherAttempts) {
    server().script("/silent", {{{"hang", true}}});
    std::atomic<bool> cancel{false};
    std::future<kr::HttpResponse> call = std::async(std::launch::async, [&] {
        return kr::api_request(server().url("https", "/silent"), "GET", "", "", kr::ApiCallLimits{&cancel, 0});
    });
    while (requests().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto start = std::chrono::steady_clock::now();
    cancel = true;
    try {
        call.get();
        ADD_FAILURE() << "a cancelled call answered";
    } catch (const kr::NetworkError& error) {
        EXPECT_EQ(error.code, 12017u) << error.what();  // given up by the caller: never retried
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(requests().size(), 1u);
}

}  // namespace
