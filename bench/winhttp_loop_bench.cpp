// The floor for the download under the same WinHTTP and TLS: one GET of the whole file and a
// synchronous 64 KiB read loop that keeps nothing. No ranges, no file, no hash.
//   winhttp_loop_bench.exe URL SIZE RUNS
// A first untimed fetch pays the process's TLS and certificate set-up, as download_bench.exe's does;
// then one line per timed run (seconds).
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Internet {
    HINTERNET handle;
    explicit Internet(HINTERNET opened) : handle(opened) {}
    Internet(const Internet&) = delete;
    Internet& operator=(const Internet&) = delete;
    ~Internet() {
        if (handle != nullptr) {
            ::WinHttpCloseHandle(handle);
        }
    }
};

// The bytes received, or 0 on any failure.
unsigned long long fetch(HINTERNET connection, const std::wstring& path, std::vector<char>& buffer) {
    const Internet request(::WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (request.handle == nullptr ||
        !::WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.handle, nullptr)) {
        return 0;
    }
    unsigned long long total = 0;
    for (;;) {
        DWORD count = 0;
        if (!::WinHttpReadData(request.handle, buffer.data(), static_cast<DWORD>(buffer.size()), &count)) {
            return 0;
        }
        if (count == 0) {
            return total;
        }
        total += count;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: winhttp_loop_bench.exe URL SIZE RUNS\n", stderr);
        return 2;
    }
    const unsigned long long size = std::stoull(argv[2]);
    const int runs = std::stoi(argv[3]);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!::WinHttpCrackUrl(argv[1], 0, 0, &parts)) {
        std::fputs("bad URL\n", stderr);
        return 2;
    }
    const Internet session(::WinHttpOpen(L"KORLAUNCHER/0.1", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
    const Internet connection(session.handle ? ::WinHttpConnect(session.handle, host, parts.nPort, 0) : nullptr);
    if (connection.handle == nullptr) {
        std::fputs("cannot connect\n", stderr);
        return 1;
    }
    std::vector<char> buffer(65536);
    if (fetch(connection.handle, path, buffer) != size) {
        std::fputs("warm-up fetch failed\n", stderr);
        return 1;
    }
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER start{};
        LARGE_INTEGER end{};
        ::QueryPerformanceCounter(&start);
        const unsigned long long received = fetch(connection.handle, path, buffer);
        ::QueryPerformanceCounter(&end);
        if (received != size) {
            std::fprintf(stderr, "run %d: received %llu of %llu bytes\n", run + 1, received, size);
            return 1;
        }
        std::printf("run %d: %.3f s\n", run + 1,
                    static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    }
    return 0;
}
