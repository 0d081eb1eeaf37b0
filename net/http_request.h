#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/unique_handle.h"

namespace kr {

// Deleter for WinHTTP session and connection handles held in shared owners: the last request that
// shares them closes them.
struct InternetCloser {
    void operator()(void* handle) const noexcept;
};

// What a request's status callback touches: the counters, the events and the buffer of an
// asynchronous read. Shared between the request and WinHTTP, which holds its reference from the
// moment the request handle carries it as context until the handle-closing notification: a request
// that is given up while WinHTTP still runs it (under Wine closing does not end a pending request)
// cannot make a late notification or a late read reach freed memory.
struct RequestSignals {
    static constexpr DWORD kBufferSize = 65536;

    std::atomic<uint32_t> secure_flags{0};
    std::atomic<uint32_t> async_error{0};
    std::atomic<uint32_t> bytes_read{0};
    std::atomic<uint32_t> bytes_available{0};
    // Completions and the start of sending are counted, and `changes` moves after either: the task
    // thread sleeps on it with WaitOnAddress. Under Wine an event costs a trip through the wineserver
    // on every set and every wait, twice per read of a TLS record, and on a loaded machine those
    // trips took most of the download's time.
    std::atomic<uint32_t> completions{0};
    std::atomic<uint32_t> sending{0};
    std::atomic<uint32_t> changes{0};
    common::UniqueKernelHandle closed_event;
    char buffer[kBufferSize];
    // WinHTTP's reference, dropped by the handle-closing notification.
    std::shared_ptr<RequestSignals> held_by_winhttp;
};

// The request handle of one HttpRequest. Closing it never waits: in asynchronous mode the signals
// stay alive through WinHTTP's own reference until the closing notification.
class RequestHandle {
public:
    RequestHandle() noexcept = default;
    RequestHandle(const RequestHandle&) = delete;
    RequestHandle& operator=(const RequestHandle&) = delete;
    ~RequestHandle() { reset(); }

    HINTERNET get() const noexcept { return handle_; }
    void reset(HINTERNET handle = nullptr) noexcept;

private:
    HINTERNET handle_ = nullptr;
};

// What may end the waits of an asynchronous request besides its deadline.
//   cancel: polled while waiting; a set flag gives the request up at once (WinHTTP 12017).
//   idle_limit: milliseconds that any one wait after the request has gone out (for the headers, for
//   one read) may last before it counts as a timeout (WinHTTP 12002); 0 for no limit.
// Either makes the request asynchronous, so that the calling thread can leave a wait that WinHTTP
// itself would not end.
struct RequestLimits {
    const std::atomic<bool>* cancel = nullptr;
    DWORD idle_limit = 0;
};

// The status and whole body of an answer.
struct HttpResponse {
    int32_t status = 0;
    std::string body;
};

// One HTTP exchange. WinHTTP holds the record's address as its context value, so the record is
// built in place (see open_request) and never copied or moved. Members are destroyed in reverse
// order: the keys, then the request handle, then the shared connection and session, then this
// record's share of the signals.
struct HttpRequest {
    // Opens the exchange and returns once the response headers have arrived; see open_request.
    HttpRequest(const std::string& url, const std::string& method, const std::string& body, const std::string& token,
                bool stream_body, bool follow_redirects, uint64_t deadline, bool direct, const std::wstring& range,
                HttpRequest* reuse, const RequestLimits& limits);
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // After a WinHTTP call that may complete asynchronously: returns, or closes the request handle
    // and throws NetworkError with `message` as its base text.
    void await_completion(BOOL ok, const char* message, bool sending);

    // Reads up to `capacity` (at most RequestSignals::kBufferSize) bytes of the body into
    // `destination`; 0 at its end. Fails like await_completion, with `message`.
    DWORD read_some(char* destination, DWORD capacity, const char* message);

    // The outcome of waiting for an asynchronous call's completion: 0, or the error code.
    DWORD wait_for_completion(bool sending);

    // The numeric status; records a throttle entry for a 429 or a throttling 403.
    int32_t response_status();
    // The first occurrence of a header, or empty when it is absent or longer than 511 characters.
    std::wstring response_header(const std::wstring& name) const;

    std::shared_ptr<RequestSignals> signals;
    // The completions of `signals` already waited for.
    uint32_t completions_taken = 0;
    bool callback_active = false;
    std::shared_ptr<void> session;
    std::shared_ptr<void> connection;
    RequestHandle handle;
    uint64_t deadline = 0;
    RequestLimits limits;
    std::wstring origin_key;
    std::wstring request_key;
};

// Builds the request in the caller's storage (guaranteed copy elision: `HttpRequest r =
// open_request(...)` or `new HttpRequest(open_request(...))`).
//   token: empty or 64 characters of lowercase hex; range: "first-last" or empty;
//   deadline: absolute GetTickCount64 milliseconds, or 0 for a synchronous exchange;
//   reuse: an earlier request of the same origin whose session and connection are shared;
//   limits: cancellation and the idle limit (see RequestLimits).
inline HttpRequest open_request(const std::string& url, const std::string& method, const std::string& body,
                                const std::string& token, bool stream_body, bool follow_redirects, uint64_t deadline,
                                bool direct, const std::wstring& range, HttpRequest* reuse,
                                const RequestLimits& limits = {}) {
    return HttpRequest(url, method, body, token, stream_body, follow_redirects, deadline, direct, range, reuse, limits);
}

// Installed on every request handle; the context value is the request's RequestSignals.
void CALLBACK status_callback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD info_length);

// Requests that are not direct go through the system's automatic proxy, the product's only choice.
// A "host:port" given here names a proxy for them instead, and an empty string goes back to the
// system's: Wine ignores the automatic proxy, so this is how a test reaches the fallback to a direct
// connection that a failing proxy causes. Process-wide; change it only while no request opens.
void use_named_proxy(const std::wstring& proxy);

// Sleeps `milliseconds`, or less once the flag (may be null) is set; returns false when it was.
bool pause_unless_cancelled(DWORD milliseconds, const std::atomic<bool>* cancel);

// Reads the whole answer, checking it against its Content-Length. A body longer than
// `largest_body` bytes (0: 16 MiB) fails with "Ответ сервера слишком большой" as soon as the
// Content-Length announces it or the bytes received pass it, so a caller that knows how small its
// answer honestly is never holds more.
HttpResponse read_response(HttpRequest& request, bool is_head, size_t largest_body = 0);

}  // namespace kr
