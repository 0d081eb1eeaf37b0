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

struct HttpRequest;

// The WinHTTP request handle of one HttpRequest. Closing it in asynchronous mode waits for the
// handle-closing notification, so no status callback can still be running against the owner when
// the owner's events are closed.
class RequestHandle {
public:
    explicit RequestHandle(HttpRequest* owner) noexcept : owner_(owner) {}
    RequestHandle(const RequestHandle&) = delete;
    RequestHandle& operator=(const RequestHandle&) = delete;
    ~RequestHandle() { reset(); }

    HINTERNET get() const noexcept { return handle_; }
    void reset(HINTERNET handle = nullptr) noexcept;

private:
    HttpRequest* owner_;
    HINTERNET handle_ = nullptr;
};

// The status and whole body of an answer.
struct HttpResponse {
    int32_t status = 0;
    std::string body;
};

// One HTTP exchange. WinHTTP holds the record's address as its context value, so the record is
// built in place (see open_request) and never copied or moved. Members are destroyed in reverse
// order: the keys, then the request handle (waiting for its closing notification), then the shared
// connection and session, then the events the callback signals.
struct HttpRequest {
    // Opens the exchange and returns once the response headers have arrived; see open_request.
    HttpRequest(const std::string& url, const std::string& method, const std::string& body, const std::string& token,
                bool stream_body, bool follow_redirects, uint64_t deadline, bool direct, const std::wstring& range,
                HttpRequest* reuse);
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // After a WinHTTP call that may complete asynchronously: returns, or closes the request handle
    // and throws NetworkError with `message` as its base text.
    void await_completion(BOOL ok, const char* message, bool sending);

    // The numeric status; records a throttle entry for a 429 or a throttling 403.
    int32_t response_status();
    // The first occurrence of a header, or empty when it is absent or longer than 511 characters.
    std::wstring response_header(const std::wstring& name) const;

    std::atomic<uint32_t> secure_flags{0};
    std::atomic<uint32_t> async_error{0};
    std::atomic<uint32_t> bytes_read{0};
    common::UniqueKernelHandle completion_event;
    common::UniqueKernelHandle closed_event;
    common::UniqueKernelHandle sending_event;
    bool callback_active = false;
    std::shared_ptr<void> session;
    std::shared_ptr<void> connection;
    RequestHandle handle{this};
    uint64_t deadline = 0;
    std::wstring origin_key;
    std::wstring request_key;
};

// Builds the request in the caller's storage (guaranteed copy elision: `HttpRequest r =
// open_request(...)` or `new HttpRequest(open_request(...))`).
//   token: empty or 64 characters of lowercase hex; range: "first-last" or empty;
//   deadline: absolute GetTickCount64 milliseconds, or 0 for a synchronous exchange;
//   reuse: an earlier request of the same origin whose session and connection are shared.
inline HttpRequest open_request(const std::string& url, const std::string& method, const std::string& body,
                                const std::string& token, bool stream_body, bool follow_redirects, uint64_t deadline,
                                bool direct, const std::wstring& range, HttpRequest* reuse) {
    return HttpRequest(url, method, body, token, stream_body, follow_redirects, deadline, direct, range, reuse);
}

// Installed on every request handle; the context value is the HttpRequest.
void CALLBACK status_callback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD info_length);

// Reads the whole answer (at most 16 MiB), checking it against its Content-Length.
HttpResponse read_response(HttpRequest& request, bool is_head);

}  // namespace kr
