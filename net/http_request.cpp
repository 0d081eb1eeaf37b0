#include "net/http_request.h"

#include <algorithm>
#include <stdexcept>

#include "net/api_origin.h"
#include "net/network_error.h"
#include "net/throttle.h"
#include "text/utf.h"

namespace kr {

namespace {

constexpr char kCannotOpenNetwork[] = "Не удалось открыть сеть";
constexpr char kBadServerAddress[] = "Некорректный адрес сервера";
constexpr char kBadRequestData[] = "Некорректные данные сетевого запроса";
constexpr char kHttpsRequired[] = "Для удалённого сервера требуется HTTPS";
constexpr char kCannotConnect[] = "Не удалось подключиться к серверу";
constexpr char kCannotCreateRequest[] = "Не удалось создать запрос";
constexpr char kCannotSecure[] = "Не удалось настроить защищённое соединение";
constexpr char kCannotConfigure[] = "Не удалось настроить сетевой запрос";
constexpr char kCannotProtect[] = "Не удалось защитить сетевой запрос";
constexpr char kCannotSend[] = "Не удалось отправить запрос";
constexpr char kUploadInterrupted[] = "Передача файла прервана";
constexpr char kNoAnswer[] = "Не удалось получить ответ сервера";

constexpr wchar_t kUserAgent[] = L"KORLAUNCHER/0.1";
constexpr char kTokenDigits[] = "0123456789abcdef";
constexpr size_t kTokenLength = 64;
constexpr DWORD kAsyncCallbackMask = 0x006B0C30;
constexpr DWORD kStreamPiece = 65536;
// Name resolution, connecting and the TLS handshake together get at most this long in
// asynchronous mode; the rest of the deadline applies once sending has begun.
constexpr DWORD kConnectPhaseLimit = 8000;

// WinHttpSetTimeouts' receive timeout does not bound the wait for response headers under Wine: a
// server that accepts and never answers would hang a synchronous request for ever, and closing a
// pending asynchronous request does not end it there either. The header wait is therefore bounded on
// the request itself: in synchronous mode by Windows' own default for this option, so nothing
// changes on Windows; in asynchronous mode to just past the deadline, which on Windows is reached
// first anyway (closing cancels there) and under Wine lets the closed request end by itself.
constexpr DWORD kHeaderWaitLimit = 90000;
constexpr DWORD kHeaderWaitPastDeadline = 1000;

struct Timeouts {
    int resolve;
    int connect;
    int send;
    int receive;
};

Timeouts session_timeouts(const std::string& url, bool stream_body, bool follow_redirects, uint64_t deadline) {
    const std::string_view beforeQuery = std::string_view(url).substr(0, url.find('?'));
    const bool slowAnswer = stream_body || follow_redirects || beforeQuery.ends_with("/complete");
    const int receive = slowAnswer ? 120000 : 60000;
    if (deadline != 0) {
        return {4000, 4000, 4000, receive};
    }
    return {10000, 15000, stream_body ? 120000 : 30000, receive};
}

DWORD remaining_until(uint64_t deadline) {
    const uint64_t now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(std::min<uint64_t>(deadline - now, INFINITE - 1)) : 0;
}

bool valid_token(const std::string& token) {
    return token.empty() ||
           (token.size() == kTokenLength && token.find_first_not_of(kTokenDigits) == std::string::npos);
}

std::wstring lowered_ascii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return text;
}

HANDLE create_event(bool manualReset) {
    return CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
}

void set_dword_option(HINTERNET request, DWORD option, DWORD value, const char* message) {
    if (!WinHttpSetOption(request, option, &value, sizeof value)) {
        throw std::runtime_error(message);
    }
}

}  // namespace

void InternetCloser::operator()(void* handle) const noexcept {
    if (handle != nullptr) {
        WinHttpCloseHandle(handle);
    }
}

void RequestHandle::reset(HINTERNET handle) noexcept {
    const HINTERNET old = std::exchange(handle_, handle);
    if (old == nullptr) {
        return;
    }
    const DWORD lastError = GetLastError();
    if (WinHttpCloseHandle(old) && owner_->callback_active) {
        WaitForSingleObject(owner_->closed_event.get(), INFINITE);
    }
    SetLastError(lastError);
}

HttpRequest::HttpRequest(const std::string& url, const std::string& method, const std::string& body,
                         const std::string& token, bool stream_body, bool follow_redirects, uint64_t deadline,
                         bool direct, const std::wstring& range, HttpRequest* reuse) {
    if (deadline != 0) {
        completion_event.reset(create_event(false));
        closed_event.reset(create_event(true));
        sending_event.reset(create_event(true));
        if (!completion_event || !closed_event || !sending_event) {
            throw std::runtime_error(kCannotOpenNetwork);
        }
    }
    this->deadline = deadline;

    const std::wstring wideUrl = wide_from_utf8(rewrite_retired_origin(url));
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) {
        throw std::runtime_error(kBadServerAddress);
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    const std::wstring extra(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    const std::wstring wideMethod = wide_from_utf8(method);

    origin_key = lowered_ascii(std::to_wstring(parts.nScheme) + L"://" + host + L":" + std::to_wstring(parts.nPort));
    request_key = origin_key + L" " + wideMethod + L" " + path;
    check_throttle(origin_key, request_key);

    if (url.find_first_of("\r\n") != std::string::npos || !valid_token(token)) {
        throw std::runtime_error(kBadRequestData);
    }
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    if (!secure && !(parts.nScheme == INTERNET_SCHEME_HTTP && (host == L"127.0.0.1" || host == L"localhost"))) {
        throw std::runtime_error(kHttpsRequired);
    }
    std::wstring objectName = path + extra;
    if (objectName.empty()) {
        objectName = L"/";
    }

    // A session opened for asynchronous use makes every request on it asynchronous, which a
    // synchronous exchange (no events, no callbacks) cannot follow, and the reverse: share only
    // within one mode.
    if (reuse != nullptr && reuse->origin_key == origin_key && (reuse->deadline != 0) == (deadline != 0)) {
        session = reuse->session;
        connection = reuse->connection;
    } else {
        session.reset(WinHttpOpen(kUserAgent, direct ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, deadline != 0 ? WINHTTP_FLAG_ASYNC : 0),
                      InternetCloser{});
        if (!session) {
            throw std::runtime_error(kCannotOpenNetwork);
        }
        const Timeouts timeouts = session_timeouts(url, stream_body, follow_redirects, deadline);
        WinHttpSetTimeouts(session.get(), timeouts.resolve, timeouts.connect, timeouts.send, timeouts.receive);
        connection.reset(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0), InternetCloser{});
        if (!connection) {
            throw NetworkError(kCannotConnect, GetLastError(), 0);
        }
    }

    handle.reset(WinHttpOpenRequest(connection.get(), wideMethod.c_str(), objectName.c_str(), nullptr,
                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (handle.get() == nullptr) {
        throw std::runtime_error(kCannotCreateRequest);
    }
    const DWORD mask = deadline != 0 ? kAsyncCallbackMask : WINHTTP_CALLBACK_FLAG_SECURE_FAILURE;
    if (WinHttpSetStatusCallback(handle.get(), status_callback, mask, 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        throw std::runtime_error(kCannotSecure);
    }
    HttpRequest* self = this;
    if (!WinHttpSetOption(handle.get(), WINHTTP_OPTION_CONTEXT_VALUE, &self, sizeof self)) {
        throw std::runtime_error(kCannotConfigure);
    }
    callback_active = deadline != 0;
    set_dword_option(handle.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                     follow_redirects ? WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP
                                      : WINHTTP_OPTION_REDIRECT_POLICY_NEVER,
                     kCannotProtect);
    set_dword_option(handle.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH,
                     kCannotProtect);
    // Best effort, like the session timeouts: see kHeaderWaitLimit.
    DWORD headerWait = kHeaderWaitLimit;
    if (deadline != 0) {
        headerWait = static_cast<DWORD>(
            std::min<uint64_t>(kHeaderWaitLimit, uint64_t{remaining_until(deadline)} + kHeaderWaitPastDeadline));
    }
    WinHttpSetOption(handle.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerWait, sizeof headerWait);

    std::wstring headers = stream_body ? L"Content-Type: application/octet-stream\r\n"
                                       : L"Content-Type: application/json\r\n";
    if (!token.empty()) {
        headers += L"Authorization: Bearer " + wide_from_utf8(token) + L"\r\n";
    }
    if (!range.empty()) {
        headers += L"Range: bytes=" + range + L"\r\nAccept-Encoding: identity\r\n";
    }

    const DWORD bodySize = static_cast<DWORD>(body.size());
    LPVOID optional = nullptr;
    DWORD optionalSize = 0;
    if (!stream_body && !body.empty()) {
        optional = const_cast<char*>(body.data());
        optionalSize = bodySize;
    }
    const BOOL sent = WinHttpSendRequest(handle.get(), headers.c_str(), static_cast<DWORD>(headers.size()), optional,
                                         optionalSize, bodySize, reinterpret_cast<DWORD_PTR>(this));
    await_completion(sent, kCannotSend, true);

    if (stream_body) {
        size_t written = 0;
        while (written < body.size()) {
            const DWORD piece = static_cast<DWORD>(std::min<size_t>(kStreamPiece, body.size() - written));
            DWORD count = 0;
            if (!WinHttpWriteData(handle.get(), body.data() + written, piece, &count)) {
                throw NetworkError(kUploadInterrupted, GetLastError(), secure_flags.load());
            }
            if (count == 0) {
                throw NetworkError(kUploadInterrupted, ERROR_WINHTTP_CONNECTION_ERROR, 0);
            }
            written += count;
        }
    }

    await_completion(WinHttpReceiveResponse(handle.get(), nullptr), kNoAnswer, false);
}

void HttpRequest::await_completion(BOOL ok, const char* message, bool sending) {
    DWORD error = ok ? 0 : GetLastError();
    if (deadline != 0 && (ok || error == ERROR_IO_PENDING)) {
        DWORD wait = 0;
        if (sending) {
            const HANDLE events[] = {completion_event.get(), sending_event.get()};
            wait = WaitForMultipleObjects(2, events, FALSE, std::min(remaining_until(deadline), kConnectPhaseLimit));
            if (wait == WAIT_OBJECT_0 + 1) {
                wait = WaitForSingleObject(completion_event.get(), remaining_until(deadline));
            }
        } else {
            wait = WaitForSingleObject(completion_event.get(), remaining_until(deadline));
        }
        if (wait == WAIT_OBJECT_0) {
            error = async_error.load();
        } else if (wait == WAIT_TIMEOUT) {
            error = ERROR_WINHTTP_TIMEOUT;
        } else {
            error = GetLastError();
        }
    }
    if (error != 0) {
        handle.reset();
        throw NetworkError(message, error, secure_flags.load());
    }
}

void CALLBACK status_callback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD info_length) {
    if (context == 0) {
        return;
    }
    // Runs on WinHTTP's threads (or inside the caller's WinHTTP call): it only exchanges counters and
    // signals events, and nothing here can throw into Windows.
    auto* request = reinterpret_cast<HttpRequest*>(context);
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        if (info != nullptr && info_length == sizeof(DWORD)) {
            request->secure_flags.exchange(*static_cast<const DWORD*>(info));
        }
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        SetEvent(request->closed_event.get());
        break;
    case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
        SetEvent(request->sending_event.get());
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        if (info != nullptr && info_length == sizeof(WINHTTP_ASYNC_RESULT)) {
            request->async_error.exchange(static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError);
            SetEvent(request->completion_event.get());
        }
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        request->bytes_read.exchange(info_length);
        SetEvent(request->completion_event.get());
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        SetEvent(request->completion_event.get());
        break;
    default:
        break;
    }
}

}  // namespace kr
