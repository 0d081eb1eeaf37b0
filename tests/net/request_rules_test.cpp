// What the engine refuses before anything reaches the network, and what it puts on the wire.
#include <cwctype>

#include "net/endpoints.h"
#include "net/http_request.h"
#include "net/throttle.h"
#include "tests/net/net_test.h"
#include "tests/support/expect_error.h"

namespace {

using test::NetTest;

kr::HttpResponse fetch(const std::string& url, const std::string& method = "GET", const std::string& body = "",
                       const std::string& token = "", bool stream_body = false, const std::wstring& range = L"") {
    kr::HttpRequest request = kr::open_request(url, method, body, token, stream_body, false, 0, false, range, nullptr);
    return kr::read_response(request, method == "HEAD");
}

const std::string kToken(64, 'a');

TEST_F(NetTest, RequestsRefusedBeforeAnyNetworkActivity) {
    const std::string https = server().url("https", "");
    const std::string httpPort = std::to_string(server().port("http"));
    struct Case {
        std::string url;
        std::string token;
        const char* message;
    };
    const Case cases[] = {
        {https + "/a\r\nX-Injected: 1", "", "Некорректные данные сетевого запроса"},
        {https + "/a\nb", "", "Некорректные данные сетевого запроса"},
        {https + "/a", std::string(63, 'a'), "Некорректные данные сетевого запроса"},
        {https + "/a", std::string(65, 'a'), "Некорректные данные сетевого запроса"},
        {https + "/a", std::string(63, 'a') + "A", "Некорректные данные сетевого запроса"},
        {https + "/a", std::string(63, 'a') + "g", "Некорректные данные сетевого запроса"},
        {"http://LOCALHOST:" + httpPort + "/a", "", "Для удалённого сервера требуется HTTPS"},
        {"http://Localhost:" + httpPort + "/a", "", "Для удалённого сервера требуется HTTPS"},
        {"http://localhost.:" + httpPort + "/a", "", "Для удалённого сервера требуется HTTPS"},
        {"http://127.0.0.2:" + httpPort + "/a", "", "Для удалённого сервера требуется HTTPS"},
        {"http://example.invalid/a", "", "Для удалённого сервера требуется HTTPS"},
        {"ftp://localhost/a", "", "Некорректный адрес сервера"},
        {"localhost/a", "", "Некорректный адрес сервера"},
        {"", "", "Некорректный адрес сервера"},
        {https + "/\xff", "", "Некорректный UTF-8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        test::expect_error([&] { fetch(c.url, "GET", "", c.token); }, c.message);
    }
    const nlohmann::json seen = server().records();
    EXPECT_TRUE(seen["records"].empty());
    EXPECT_TRUE(seen["connections"].empty());
}

// The built-in origins are real hosts, so the rewrite is watched through the throttle table, which
// refuses before any name is resolved: the current origin is blocked with a 429, the retired one
// with a 403, and the refusal's text tells which origin the request was bound for.
TEST(OriginRewriteInTheEngine, RetiredOriginRequestsGoToTheCurrentOrigin) {
    const auto origin_key = [](std::string_view origin) {
        std::wstring key = L"2://" + std::wstring(origin.begin() + 8, origin.end()) + L":443";
        for (wchar_t& c : key)
            c = static_cast<wchar_t>(std::towlower(c));
        return key;
    };
    kr::record_throttle(origin_key(kr::kCurrentApiOrigin), 429, 900);
    kr::record_throttle(origin_key(kr::kRetiredApiOrigin), 403, 900);
    const std::string retired = kr::kRetiredApiOrigin;
    for (const std::string& url : {retired, retired + "/", retired + "/api/me?x=1&y=/z"}) {
        SCOPED_TRACE(url);
        test::expect_error([&] { kr::open_request(url, "GET", "", "", false, false, 0, false, L"", nullptr); },
                           "Сервер временно ограничил запросы (HTTP 429). Повторите позже.");
    }
    test::expect_error(
        [&] { kr::open_request(retired + ":443/api", "GET", "", "", false, false, 0, false, L"", nullptr); },
        "Доступ к этому ресурсу временно ограничен (HTTP 403). Повторите позже.");
}

TEST_F(NetTest, PlainHttpOnlyToLoopbackNamesOnAnyPort) {
    server().script("/plain", {{{"status", 200}, {"body", "ok"}}});
    const std::string port = std::to_string(server().port("http"));
    EXPECT_EQ(fetch("http://localhost:" + port + "/plain").body, "ok");
    EXPECT_EQ(fetch("http://127.0.0.1:" + port + "/plain").body, "ok");
    const nlohmann::json seen = server().records()["records"];
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0]["listener"], "http");
    EXPECT_EQ(test::recorded_header(seen[1], "Host"), "127.0.0.1:" + port);
}

TEST_F(NetTest, HeadersOnTheWire) {
    server().script("/", {{{"status", 200}}});
    server().script("/api/things", {{{"status", 201}, {"body", "made"}}});
    server().script("/blob", {{{"status", 200}}});

    // Scheme and host only: the object name is "/".
    EXPECT_EQ(fetch(server().url("https", "")).status, 200);
    EXPECT_EQ(fetch(server().url("https", "/api/things?x=1&y=%20"), "POST", R"({"a":1})", kToken).body, "made");
    EXPECT_EQ(fetch(server().url("https", "/blob"), "GET", "", "", false, L"5-9").status, 200);
    const std::string upload(150000, 'u');
    EXPECT_EQ(fetch(server().url("https", "/blob"), "PUT", upload, "", true).status, 200);

    const nlohmann::json seen = server().records()["records"];
    ASSERT_EQ(seen.size(), 4u);
    for (const auto& record : seen) {
        EXPECT_EQ(test::recorded_header(record, "User-Agent"), "KORLAUNCHER/0.1");
    }
    EXPECT_EQ(seen[0]["path"], "/");
    EXPECT_EQ(test::recorded_header(seen[0], "Content-Type"), "application/json");
    EXPECT_EQ(test::recorded_header(seen[0], "Authorization"), "");
    EXPECT_EQ(test::recorded_header(seen[0], "Range"), "");

    EXPECT_EQ(seen[1]["method"], "POST");
    EXPECT_EQ(seen[1]["path"], "/api/things?x=1&y=%20");
    EXPECT_EQ(seen[1]["body"], R"({"a":1})");
    EXPECT_EQ(test::recorded_header(seen[1], "Content-Type"), "application/json");
    EXPECT_EQ(test::recorded_header(seen[1], "Authorization"), "Bearer " + kToken);

    EXPECT_EQ(test::recorded_header(seen[2], "Range"), "bytes=5-9");
    EXPECT_EQ(test::recorded_header(seen[2], "Accept-Encoding"), "identity");

    EXPECT_EQ(seen[3]["method"], "PUT");
    EXPECT_EQ(test::recorded_header(seen[3], "Content-Type"), "application/octet-stream");
    EXPECT_EQ(seen[3]["body"], upload);
}

TEST_F(NetTest, RedirectsNeverLeaveHttpsAndAreFollowedOnlyWhenAsked) {
    server().script("/to-plain",
                    {{{"status", 302}, {"headers", {{"Location", "http://localhost:{http_port}/landed"}}}}});
    server().script("/to-secure", {{{"status", 302}, {"headers", {{"Location", "/landed"}}}}});
    server().script("/landed", {{{"status", 200}, {"body", "landed"}}});
    const auto follow = [](const std::string& url, bool follow_redirects) {
        kr::HttpRequest request = kr::open_request(url, "GET", "", "", false, follow_redirects, 0, false, L"", nullptr);
        return kr::read_response(request, false);
    };
    // Windows hands the refused redirect back as the 302; Wine fails it with 12156
    // (ERROR_WINHTTP_REDIRECT_FAILED). Either way nothing reaches the plain listener.
    try {
        EXPECT_EQ(follow(server().url("https", "/to-plain"), true).status, 302);
    } catch (const kr::NetworkError& error) {
        EXPECT_EQ(error.code, 12156u);
    }
    EXPECT_EQ(follow(server().url("https", "/to-secure"), false).status, 302);
    EXPECT_EQ(follow(server().url("https", "/to-secure"), true).body, "landed");
    const nlohmann::json seen = server().records()["records"];
    ASSERT_EQ(seen.size(), 4u);
    for (const auto& record : seen) {
        EXPECT_EQ(record["listener"], "https");
    }
    EXPECT_EQ(seen[3]["path"], "/landed");
}

TEST_F(NetTest, SharedSessionOnlyForTheSameOriginAndMode) {
    server().script("/one", {{{"status", 200}, {"body", "1"}}});
    kr::HttpRequest first =
        kr::open_request(server().url("https", "/one"), "GET", "", "", false, false, 0, false, L"", nullptr);
    kr::read_response(first, false);
    kr::HttpRequest same =
        kr::open_request(server().url("https", "/one"), "GET", "", "", false, false, 0, false, L"", &first);
    EXPECT_EQ(same.session.get(), first.session.get());
    EXPECT_EQ(same.connection.get(), first.connection.get());
    kr::read_response(same, false);
    kr::HttpRequest other =
        kr::open_request(server().url("http", "/one"), "GET", "", "", false, false, 0, false, L"", &first);
    EXPECT_NE(other.session.get(), first.session.get());
    EXPECT_EQ(kr::read_response(other, false).body, "1");

    // An asynchronous session cannot carry a synchronous exchange (nor the reverse): not shared.
    kr::HttpRequest async = kr::open_request(server().url("https", "/one"), "GET", "", "", false, false,
                                             GetTickCount64() + 10000, false, L"", nullptr);
    kr::read_response(async, false);
    kr::HttpRequest sync =
        kr::open_request(server().url("https", "/one"), "GET", "", "", false, false, 0, false, L"", &async);
    EXPECT_NE(sync.session.get(), async.session.get());
    EXPECT_EQ(kr::read_response(sync, false).body, "1");
    kr::HttpRequest asyncAgain = kr::open_request(server().url("https", "/one"), "GET", "", "", false, false,
                                                  GetTickCount64() + 10000, false, L"", &first);
    EXPECT_NE(asyncAgain.session.get(), first.session.get());
    EXPECT_EQ(kr::read_response(asyncAgain, false).body, "1");
}

}  // namespace
