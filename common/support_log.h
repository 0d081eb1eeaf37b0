#pragma once

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// The support log: "%TEMP%\Korvane-Setup.log", the one file the installer leaves on purpose, so that
// a failed install can be explained afterwards. One block per run, one line per event:
//
//   == Korvane Setup run 2026-12-11 09:05:10.123 UTC, process 1234 ==
//   +0.000 setup Korvane Setup 0.2.77, Windows 10.0.19045 x64
//   +1.234 net attempt 1 of 3: direct, HTTP 200
//
// Any thread may log (the install task, the download's writer, the window thread). Logging never
// changes an outcome: nothing here throws, a log that cannot be opened or written is skipped, and
// the lock is held only for one line's write. The file is bounded: the newest few runs, older runs
// dropping off whole when a run begins; one run's lines stop at a bound of their own, the final
// result always fitting. It is never opened through a link. Only what the player could read on
// their own screen or disk goes in: no keys, tokens, certificates or environment.
namespace common {

// Starts a new block in the log (and ends the block a previous run of this process began).
void begin_support_log_run() noexcept;

// Ends this process's block: later lines are dropped until the next run begins.
void end_support_log_run() noexcept;

// Writes one line "+S.mmm topic text" into the current block; nothing when no block is open.
void write_support_log_line(std::string_view topic, std::string_view text) noexcept;

// Where the log lies for this process (the temporary folder as the process sees it now).
std::filesystem::path support_log_path();

namespace support_log_detail {

void append(std::string& line, std::string_view part);
void append(std::string& line, std::wstring_view part);
inline void append(std::string& line, const char* part) {
    append(line, std::string_view(part));
}
inline void append(std::string& line, const std::string& part) {
    append(line, std::string_view(part));
}
inline void append(std::string& line, const std::wstring& part) {
    append(line, std::wstring_view(part));
}
inline void append(std::string& line, const wchar_t* part) {
    append(line, std::wstring_view(part));
}
inline void append(std::string& line, const std::filesystem::path& part) {
    append(line, part.native());
}
inline void append(std::string& line, char part) {
    line += part;
}
template <std::integral Number>
requires(!std::same_as<Number, char> && !std::same_as<Number, bool>) void append(std::string& line, Number part) {
    line += std::to_string(part);
}

bool run_open() noexcept;

}  // namespace support_log_detail

// One event: the parts (texts, UTF-16 paths, numbers) joined into one line. Never throws; when no
// block is open nothing is even formatted.
template <typename... Parts>
void support_log(std::string_view topic, const Parts&... parts) noexcept {
    if (!support_log_detail::run_open()) {
        return;
    }
    try {
        std::string text;
        (support_log_detail::append(text, parts), ...);
        write_support_log_line(topic, text);
    } catch (...) {
        // A line that cannot be formatted is left out; the install goes on as if it were written.
    }
}

// The size bounds, for the tests that fill the log past them.
inline constexpr size_t kSupportLogFileBytes = 384 * 1024;
inline constexpr size_t kSupportLogRunBytes = 48 * 1024;
inline constexpr size_t kSupportLogRuns = 8;

}  // namespace common
