// Times extract_update_package on one archive: extract_bench.exe ARCHIVE FOLDER RUNS
// Each run extracts into a fresh FOLDER\payload-N (the package checks included, as the installer
// runs them) and removes it afterwards. Prints seconds per run, the median, and the archive's
// uncompressed bytes per second at the median.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "release/package.h"

namespace fs = std::filesystem;

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fputs("usage: extract_bench.exe ARCHIVE FOLDER RUNS\n", stderr);
        return 2;
    }
    const fs::path archive = argv[1];
    const fs::path folder = argv[2];
    const int runs = std::stoi(argv[3]);
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    std::vector<double> seconds;
    uint64_t bytes = 0;
    for (int run = 1; run <= runs; ++run) {
        const fs::path output = folder / (L"payload-" + std::to_wstring(run));
        LARGE_INTEGER start{};
        LARGE_INTEGER end{};
        QueryPerformanceCounter(&start);
        try {
            release::extract_update_package(archive, output);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "extract_bench: %s\n", error.what());
            return 1;
        }
        QueryPerformanceCounter(&end);
        seconds.push_back(static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
        bytes = 0;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(output)) {
            if (entry.is_regular_file()) {
                bytes += entry.file_size();
            }
        }
        fs::remove_all(output);
        std::printf("run %d: %.3f s\n", run, seconds.back());
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("median %.3f s, %.1f MiB/s of %llu extracted bytes\n", median, bytes / median / 1048576.0,
                static_cast<unsigned long long>(bytes));
    return 0;
}
