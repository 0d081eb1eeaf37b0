#include "net/api_request.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>

#include "common/support_log.h"
#include "net/network_error.h"

namespace kr {

namespace {

constexpr char kTimedOut[] = "Сервер не ответил вовремя";

constexpr uint64_t kAccountDeadline = 25000;
constexpr uint64_t kPauseStep = 350;
constexpr int kAttempts = 3;
constexpr std::string_view kRegisterSuffix = "/api/register";
constexpr std::string_view kRegisterWord = "register";

struct Endpoint {
    bool hasDeadline = false;
    bool repeatable = false;
};

Endpoint classify(std::string_view method, std::string_view path, bool hasLoginBody) {
    if (method == "POST") {
        if (path.ends_with(kRegisterSuffix)) {
            return {true, hasLoginBody};
        }
        if (path.ends_with("/api/login")) {
            return {true, true};
        }
        return {false, path.ends_with("/api/presence") || path.ends_with("/api/launcher/presence")};
    }
    if (method == "GET") {
        return {path.ends_with("/api/me"), true};
    }
    return {false, method == "HEAD"};
}

// A registration body {"username": text, "password": text} gives the login body that recovers a
// registration whose first answer was lost and which now meets "already exists".
std::optional<std::string> login_body_for(std::string_view method, std::string_view path, const std::string& body) {
    if (method != "POST" || !path.ends_with(kRegisterSuffix)) {
        return std::nullopt;
    }
    const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false, false);
    if (!parsed.is_object()) {
        return std::nullopt;
    }
    const auto username = parsed.find("username");
    const auto password = parsed.find("password");
    if (username == parsed.end() || password == parsed.end() || !username->is_string() || !password->is_string()) {
        return std::nullopt;
    }
    // Members sort by key, so "login" precedes "password"; the parser has already checked the UTF-8.
    nlohmann::json login = nlohmann::json::object();
    login["login"] = *username;
    login["password"] = *password;
    return login.dump();
}

bool repeat_status(int32_t status) {
    return status == 408 || status == 500 || status == 502 || status == 503 || status == 504;
}

// Failures that a proxy can cause: the next attempt tries without it.
bool proxy_suspect(uint32_t code) {
    return code == ERROR_WINHTTP_TIMEOUT || code == ERROR_WINHTTP_CANNOT_CONNECT ||
           code == ERROR_WINHTTP_NAME_NOT_RESOLVED;
}

const char* route(bool direct) {
    return direct ? "direct" : "through the system's proxy";
}

// What support needs of a failed exchange: the code, the TLS flags and the text the player read.
void log_failure(int attempt, bool direct, const NetworkError& error) {
    char flags[16] = {};
    std::snprintf(flags, sizeof(flags), "0x%08x", static_cast<unsigned>(error.secure_flags));
    common::support_log("net", "attempt ", attempt + 1, ": ", route(direct), ", failed: WinHTTP ", error.code,
                        ", secure-failure flags ", std::string_view(flags), ": ", error.what());
}

bool reached(uint64_t deadline) {
    return deadline != 0 && GetTickCount64() >= deadline;
}

HttpResponse exchange(const std::string& url, const std::string& method, const std::string& body,
                      const std::string& token, uint64_t deadline, bool direct, const ApiCallLimits& limits) {
    HttpRequest request = open_request(url, method, body, token, false, false, deadline, direct, std::wstring(),
                                       nullptr, RequestLimits{limits.cancel, 0});
    return read_response(request, method == "HEAD", limits.largest_body);
}

}  // namespace

HttpResponse api_request(const std::string& url, const std::string& method, const std::string& body,
                         const std::string& token, const ApiCallLimits& limits) {
    const uint64_t start = GetTickCount64();
    const std::string_view path = std::string_view(url).substr(0, url.find('?'));
    const std::optional<std::string> loginBody = login_body_for(method, path, body);
    const Endpoint endpoint = classify(method, path, loginBody.has_value());
    uint64_t deadline = endpoint.hasDeadline ? start + kAccountDeadline : 0;
    if (limits.time_limit != 0 && (deadline == 0 || start + limits.time_limit < deadline)) {
        deadline = start + limits.time_limit;
    }
    const std::atomic<bool>* cancel = limits.cancel;

    bool direct = false;
    bool loginFallback = false;
    HttpResponse result;
    // What a cancel during a pause leaves standing: the last attempt's failure, or its status.
    std::exception_ptr lastFailure;
    int32_t lastStatus = 0;
    for (int attempt = 0;; ++attempt) {
        if (reached(deadline)) {
            common::support_log("net", "time limit reached before attempt ", attempt + 1);
            throw NetworkError(kTimedOut, ERROR_WINHTTP_TIMEOUT, 0);
        }
        const bool last = !endpoint.repeatable || attempt == kAttempts - 1;
        try {
            result = exchange(url, method, body, token, deadline, direct, limits);
            if (loginFallback && result.status == 409) {
                const std::string loginUrl =
                    std::string(path.substr(0, path.size() - kRegisterWord.size())) + "login" + url.substr(path.size());
                HttpResponse login = exchange(loginUrl, "POST", *loginBody, token, deadline, direct, limits);
                if (login.status != 401) {
                    result = std::move(login);
                }
            }
            common::support_log("net", "attempt ", attempt + 1, ": ", route(direct), ", HTTP ", result.status);
            if (last || !repeat_status(result.status)) {
                return result;
            }
            lastFailure = nullptr;
            lastStatus = result.status;
            result = HttpResponse{};
        } catch (const NetworkError& error) {
            log_failure(attempt, direct, error);
            if (last || !error.is_retryable() || reached(deadline)) {
                throw;
            }
            lastFailure = std::current_exception();
            direct = !direct && proxy_suspect(error.code);
        }
        loginFallback = loginBody.has_value();

        const uint64_t pause = kPauseStep * static_cast<uint64_t>(attempt + 1);
        if (deadline != 0 && GetTickCount64() + pause >= deadline) {
            common::support_log("net", "time limit leaves no room for attempt ", attempt + 2);
            throw NetworkError(kTimedOut, ERROR_WINHTTP_TIMEOUT, 0);
        }
        common::support_log("net", "pause ", pause, " ms before attempt ", attempt + 2);
        if (!pause_unless_cancelled(static_cast<DWORD>(pause), cancel)) {
            if (lastFailure) {
                std::rethrow_exception(lastFailure);
            }
            result.status = lastStatus;
            return result;
        }
    }
}

}  // namespace kr
