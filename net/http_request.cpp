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
// The mask of asynchronous requests, with DATA_AVAILABLE for the reads (see read_some).
constexpr DWORD kAsyncCallbackMask = 0x006B0C30 | WINHTTP_CALLBACK_FLAG_DATA_AVAILABLE;
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

// How often a wait looks at the cancel flag: well inside the second a cancel must take.
constexpr DWORD kCancelPoll = 50;
constexpr DWORD kNoLimit = INFINITE - 1;

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
    return now < deadline ? static_cast<DWORD>(std::min<uint64_t>(deadline - now, kNoLimit)) : 0;
}

enum class Wake { completed, sending, timeout, cancelled };

// Waits until WinHTTP reports a completion beyond `taken` (or, with `until_sending`, that sending has
// begun), for at most `timeout`; in short slices while a cancel flag is given, returning `cancelled`
// as soon as the flag is seen set.
Wake wait_for_signal(RequestSignals& signals, uint32_t taken, bool until_sending, DWORD timeout,
                     const std::atomic<bool>* cancel) {
    const uint64_t end = GetTickCount64() + timeout;
    for (;;) {
        // Read before the checks: a notification after them moves it, and the wait below returns.
        uint32_t seen = signals.changes.load();
        if (cancel != nullptr && cancel->load()) {
            return Wake::cancelled;
        }
        if (signals.completions.load() != taken) {
            return Wake::completed;
        }
        if (until_sending && signals.sending.load() != 0) {
            return Wake::sending;
        }
        const DWORD left = remaining_until(end);
        if (left == 0) {
            return Wake::timeout;
        }
        WaitOnAddress(&signals.changes, &seen, sizeof seen, cancel != nullptr ? std::min(left, kCancelPoll) : left);
    }
}

// After a notification's data is in place: wakes the waiting thread.
void notify(RequestSignals& signals) noexcept {
    signals.changes.fetch_add(1);
    WakeByAddressAll(&signals.changes);
}

void complete(RequestSignals& signals) noexcept {
    signals.completions.fetch_add(1);
    notify(signals);
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

// See use_named_proxy(): empty while requests go through the system's proxy.
std::wstring& named_proxy() {
    static std::wstring proxy;
    return proxy;
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
    WinHttpCloseHandle(old);
    SetLastError(lastError);
}

HttpRequest::HttpRequest(const std::string& url, const std::string& method, const std::string& body,
                         const std::string& token, bool stream_body, bool follow_redirects, uint64_t deadline,
                         bool direct, const std::wstring& range, HttpRequest* reuse, const RequestLimits& limits)
    : signals(std::make_shared<RequestSignals>()), limits(limits) {
    const bool async = deadline != 0 || limits.cancel != nullptr || limits.idle_limit != 0;
    if (async) {
        signals->closed_event.reset(create_event(true));
        if (!signals->closed_event) {
            throw std::runtime_error(kCannotOpenNetwork);
        }
    }
    this->deadline = deadline;

    const std::wstring wideUrl = text::wide_from_utf8(rewrite_retired_origin(url));
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
    const std::wstring wideMethod = text::wide_from_utf8(method);

    origin_key = lowered_ascii(text::wide_decimal(static_cast<unsigned>(parts.nScheme)) + L"://" + host + L":" +
                               text::wide_decimal(parts.nPort));
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
    if (reuse != nullptr && reuse->origin_key == origin_key && reuse->callback_active == async) {
        session = reuse->session;
        connection = reuse->connection;
    } else {
        const std::wstring& proxy = named_proxy();
        const DWORD access = direct          ? WINHTTP_ACCESS_TYPE_NO_PROXY
                             : proxy.empty() ? WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
                                             : WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        session.reset(WinHttpOpen(kUserAgent, access,
                                  access == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? proxy.c_str() : WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, async ? WINHTTP_FLAG_ASYNC : 0),
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
                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                    secure ? WINHTTP_FLAG_SECURE : 0));
    if (handle.get() == nullptr) {
        throw std::runtime_error(kCannotCreateRequest);
    }
    const DWORD mask = async ? kAsyncCallbackMask : WINHTTP_CALLBACK_FLAG_SECURE_FAILURE;
    if (WinHttpSetStatusCallback(handle.get(), status_callback, mask, 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        throw std::runtime_error(kCannotSecure);
    }
    RequestSignals* context = signals.get();
    if (!WinHttpSetOption(handle.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
        throw std::runtime_error(kCannotConfigure);
    }
    callback_active = async;
    if (async) {
        signals->held_by_winhttp = signals;
    }
    set_dword_option(
        handle.get(), WINHTTP_OPTION_REDIRECT_POLICY,
        follow_redirects ? WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP : WINHTTP_OPTION_REDIRECT_POLICY_NEVER,
        kCannotProtect);
    set_dword_option(handle.get(), WINHTTP_OPTION_AUTOLOGON_POLICY, WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH,
                     kCannotProtect);
    // Best effort, like the session timeouts: see kHeaderWaitLimit.
    // With an idle limit the same holds: the given-up request ends by itself shortly after.
    DWORD headerWait = kHeaderWaitLimit;
    if (deadline != 0) {
        headerWait = static_cast<DWORD>(
            std::min<uint64_t>(headerWait, uint64_t{remaining_until(deadline)} + kHeaderWaitPastDeadline));
    }
    if (limits.idle_limit != 0) {
        headerWait = std::min(headerWait, limits.idle_limit + kHeaderWaitPastDeadline);
    }
    WinHttpSetOption(handle.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headerWait, sizeof headerWait);

    std::wstring headers =
        stream_body ? L"Content-Type: application/octet-stream\r\n" : L"Content-Type: application/json\r\n";
    if (!token.empty()) {
        headers += L"Authorization: Bearer " + text::wide_from_utf8(token) + L"\r\n";
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
                                         optionalSize, bodySize, reinterpret_cast<DWORD_PTR>(context));
    await_completion(sent, kCannotSend, true);

    if (stream_body) {
        size_t written = 0;
        while (written < body.size()) {
            const DWORD piece = static_cast<DWORD>(std::min<size_t>(kStreamPiece, body.size() - written));
            DWORD count = 0;
            if (!WinHttpWriteData(handle.get(), body.data() + written, piece, &count)) {
                throw NetworkError(kUploadInterrupted, GetLastError(), signals->secure_flags.load());
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
    if (callback_active && (ok || error == ERROR_IO_PENDING)) {
        error = wait_for_completion(sending);
    }
    if (error != 0) {
        handle.reset();
        throw NetworkError(message, error, signals->secure_flags.load());
    }
}

DWORD HttpRequest::wait_for_completion(bool sending) {
    // Both taken fresh before each wait.
    const auto timeLeft = [this] { return deadline != 0 ? remaining_until(deadline) : kNoLimit; };
    const auto phaseLimit = [&] { return std::min(timeLeft(), limits.idle_limit != 0 ? limits.idle_limit : kNoLimit); };
    Wake wake = Wake::timeout;
    if (sending) {
        wake =
            wait_for_signal(*signals, completions_taken, true, std::min(timeLeft(), kConnectPhaseLimit), limits.cancel);
        if (wake == Wake::sending) {
            wake = wait_for_signal(*signals, completions_taken, false, phaseLimit(), limits.cancel);
        }
    } else {
        wake = wait_for_signal(*signals, completions_taken, false, phaseLimit(), limits.cancel);
    }
    switch (wake) {
    case Wake::completed:
        completions_taken = signals->completions.load();
        return signals->async_error.load();
    case Wake::cancelled:
        return ERROR_WINHTTP_OPERATION_CANCELLED;
    default:
        return ERROR_WINHTTP_TIMEOUT;
    }
}

DWORD HttpRequest::read_some(char* destination, DWORD capacity, const char* message) {
    capacity = std::min(capacity, RequestSignals::kBufferSize);
    if (!callback_active) {
        DWORD count = 0;
        const BOOL ok = WinHttpReadData(handle.get(), destination, capacity, &count);
        await_completion(ok, message, false);
        return count;
    }
    // Wine runs an asynchronous read inside the call when some data is already there, and then waits
    // for the whole buffer: ask what has arrived first, so the read takes only bytes already there and
    // every wait for more happens here, where a cancel or a limit can end it.
    await_completion(WinHttpQueryDataAvailable(handle.get(), nullptr), message, false);
    const DWORD available = signals->bytes_available.load();
    if (available == 0) {
        return 0;
    }
    // The read lands in the shared buffer: a read that is given up may still complete into it later.
    await_completion(WinHttpReadData(handle.get(), signals->buffer, std::min(capacity, available), nullptr), message,
                     false);
    const DWORD count = std::min<DWORD>(signals->bytes_read.load(), capacity);
    std::copy_n(signals->buffer, count, destination);
    return count;
}

void use_named_proxy(const std::wstring& proxy) {
    named_proxy() = proxy;
}

bool pause_unless_cancelled(DWORD milliseconds, const std::atomic<bool>* cancel) {
    const uint64_t end = GetTickCount64() + milliseconds;
    for (;;) {
        if (cancel != nullptr && cancel->load()) {
            return false;
        }
        const DWORD left = remaining_until(end);
        if (left == 0) {
            return true;
        }
        Sleep(std::min(left, kCancelPoll));
    }
}

void CALLBACK status_callback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD info_length) {
    if (context == 0) {
        return;
    }
    // Runs on WinHTTP's threads (or inside the caller's WinHTTP call): it only exchanges counters and
    // signals events, and nothing here can throw into Windows.
    auto* signals = reinterpret_cast<RequestSignals*>(context);
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        if (info != nullptr && info_length == sizeof(DWORD)) {
            signals->secure_flags.exchange(*static_cast<const DWORD*>(info));
        }
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: {
        // WinHTTP's last word about this handle: its reference goes, after the event is set.
        const std::shared_ptr<RequestSignals> last = std::move(signals->held_by_winhttp);
        SetEvent(signals->closed_event.get());
        break;
    }
    case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
        signals->sending.store(1);
        notify(*signals);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        if (info != nullptr && info_length == sizeof(WINHTTP_ASYNC_RESULT)) {
            signals->async_error.exchange(static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError);
            complete(*signals);
        }
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        if (info != nullptr && info_length == sizeof(DWORD)) {
            signals->bytes_available.exchange(*static_cast<const DWORD*>(info));
        }
        complete(*signals);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        signals->bytes_read.exchange(info_length);
        complete(*signals);
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        complete(*signals);
        break;
    default:
        break;
    }
}

}  // namespace kr
