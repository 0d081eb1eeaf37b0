// Times kr::download_file on one URL: download_bench.exe URL FOLDER SIZE SHA256 RUNS
// Prints one line per run (seconds, MiB/s) and the process's peak working set. Each run downloads
// into FOLDER and removes the file afterwards, so every run is a complete, verified download. A first
// untimed download pays the process's TLS and certificate set-up, which the installer pays while
// its start screen is up.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "net/download.h"
#include "text/utf.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        std::fputs("usage: download_bench.exe URL FOLDER SIZE SHA256 RUNS\n", stderr);
        return 2;
    }
    const std::string url = text::utf8_from_wide(argv[1]);
    const std::filesystem::path target = std::filesystem::path(argv[2]) / "bench-download.bin";
    const uint64_t size = std::stoull(argv[3]);
    const std::string sha256 = text::utf8_from_wide(argv[4]);
    const int runs = std::stoi(argv[5]);

    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    std::vector<double> rates;
    for (int run = -1; run < runs; ++run) {
        std::atomic<float> progress{0.0f};
        std::atomic<bool> cancel{false};
        std::atomic<uint64_t> done{0};
        std::filesystem::remove(target);
        LARGE_INTEGER start{};
        LARGE_INTEGER end{};
        QueryPerformanceCounter(&start);
        try {
            kr::download_file(url, target, size, sha256, &progress, &cancel, &done, "", false);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "download failed: %s\n", error.what());
            return 1;
        }
        QueryPerformanceCounter(&end);
        if (run < 0) {
            continue;
        }
        const double seconds =
            static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        rates.push_back(static_cast<double>(size) / (1024.0 * 1024.0) / seconds);
        std::printf("run %d: %.3f s, %.1f MiB/s\n", run + 1, seconds, rates.back());
    }
    std::filesystem::remove(target);
    std::sort(rates.begin(), rates.end());
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("median %.1f MiB/s\n", rates[rates.size() / 2]);
    std::printf("peak working set %.1f MiB\n", static_cast<double>(memory.PeakWorkingSetSize) / (1024.0 * 1024.0));
    return 0;
}
