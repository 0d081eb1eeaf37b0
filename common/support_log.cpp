#include "common/support_log.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "common/unique_handle.h"

namespace common {
namespace {

constexpr wchar_t kLogName[] = L"Korvane-Setup.log";
constexpr wchar_t kRewriteName[] = L"Korvane-Setup.log.tmp";
constexpr char kBlockStart[] = "== Korvane Setup run ";
// The final result and the cancel always fit: ordinary lines stop this much short of a run's bound.
constexpr size_t kResultReserve = 4 * 1024;
constexpr size_t kLongestText = 1024;
// A file this large was not written by this program's bound: it is started afresh rather than read.
constexpr size_t kLargestReadable = 4 * 1024 * 1024;

// Everything a line needs, guarded by `lock`. The lock is held for one line's formatting and write
// (a few microseconds): a cancel never waits on it.
struct LogState {
    SRWLOCK lock = SRWLOCK_INIT;
    UniqueFileHandle file;
    LARGE_INTEGER start{};
    LARGE_INTEGER frequency{};
    size_t runBytes = 0;
    bool linesDropped = false;
};

LogState& state() {
    static LogState log;
    return log;
}

std::atomic<bool> runOpen{false};

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) noexcept : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

std::string utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(std::max(length, 0)), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                              nullptr);
    }
    return result;
}

// A file of our own: a regular file with one name, not a link, a folder or a device.
bool plain_file(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(file, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
           info.nNumberOfLinks == 1 && ::GetFileType(file) == FILE_TYPE_DISK;
}

enum class NameKind { Missing, PlainFile, Other };

// What the name holds, not following a link. A link, dangling or not, is "Other".
NameKind name_kind(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? NameKind::Missing : NameKind::Other;
    }
    return (data.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0
               ? NameKind::PlainFile
               : NameKind::Other;
}

// Opens the log's name: an existing plain file as it is, a missing one created anew (CREATE_NEW
// refuses a name that exists in any form, so a dangling link is not followed to its target).
UniqueFileHandle open_plain(const std::wstring& path, DWORD access, bool create) {
    const NameKind kind = name_kind(path);
    if (kind == NameKind::Other || (kind == NameKind::Missing && !create)) {
        return {};
    }
    UniqueFileHandle file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, kind == NameKind::Missing ? CREATE_NEW : OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file && !plain_file(file.get())) {
        file.reset();
    }
    return file;
}

bool write_all(HANDLE file, std::string_view bytes) {
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// The newest whole blocks of `content` that leave room for at least one more run within the file's
// bound.
// Anything before the first block and an unfinished last line (a run that died mid-write) go.
std::string kept_blocks(std::string_view content) {
    const size_t lastNewline = content.rfind('\n');
    content = lastNewline == std::string_view::npos ? std::string_view() : content.substr(0, lastNewline + 1);
    std::vector<size_t> starts;
    for (size_t at = 0; at < content.size();) {
        if (content.compare(at, std::strlen(kBlockStart), kBlockStart) == 0) {
            starts.push_back(at);
        }
        at = content.find('\n', at) + 1;
    }
    // A log with no room for one more run drops to half its bounds, so that it is rewritten once
    // every few runs rather than at every one.
    const size_t room = kSupportLogFileBytes - kSupportLogRunBytes;
    const size_t blocksBefore = starts.empty() ? content.size() : content.size() - starts.front();
    const bool full = starts.size() + 1 > kSupportLogRuns || blocksBefore > room;
    const size_t keptRuns = full ? kSupportLogRuns / 2 : kSupportLogRuns - 1;
    const size_t keptBytes = full ? room / 2 : room;
    size_t first = content.size();
    size_t blocks = 0;
    for (auto start = starts.rbegin(); start != starts.rend(); ++start) {
        if (blocks == keptRuns || content.size() - *start > keptBytes) {
            break;
        }
        first = *start;
        ++blocks;
    }
    return std::string(content.substr(first));
}

// Drops old runs when the log has grown past its share, through a rewritten copy that takes the
// log's name in one rename: the file is whole at every moment. False when the log is not ours to
// write (a link, a folder) or would stay over its bound.
bool make_room(const std::wstring& path) {
    UniqueFileHandle file = open_plain(path, GENERIC_READ, false);
    if (!file) {
        return name_kind(path) == NameKind::Missing;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) {
        return false;
    }
    std::string content;
    if (static_cast<uint64_t>(size.QuadPart) <= kLargestReadable) {
        content.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!content.empty() &&
            (!::ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr) ||
             read != content.size())) {
            return false;
        }
    }
    const std::string kept = kept_blocks(content);
    file.reset();
    if (kept.size() == static_cast<uint64_t>(size.QuadPart)) {
        return true;
    }
    const std::wstring rewrite = path.substr(0, path.size() - std::wcslen(kLogName)) + kRewriteName;
    // A copy left by a run that died mid-rewrite; never a link's target.
    ::DeleteFileW(rewrite.c_str());
    UniqueFileHandle copy(::CreateFileW(rewrite.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!copy) {
        return false;
    }
    // Not flushed nor written through: on a busy disk either costs the install tens of milliseconds,
    // and what a power cut could cost is an old support log, never a torn one.
    const bool written = write_all(copy.get(), kept);
    copy.reset();
    if (!written || name_kind(path) != NameKind::PlainFile ||
        !::MoveFileExW(rewrite.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ::DeleteFileW(rewrite.c_str());
        return false;
    }
    return true;
}

std::string two_digits(int value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) + static_cast<char>('0' + value % 10);
}

std::string block_header() {
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    const std::string millis = std::to_string(1000 + now.wMilliseconds).substr(1);
    return std::string(kBlockStart) + std::to_string(now.wYear) + "-" + two_digits(now.wMonth) + "-" +
           two_digits(now.wDay) + " " + two_digits(now.wHour) + ":" + two_digits(now.wMinute) + ":" +
           two_digits(now.wSecond) + "." + millis + " UTC, process " + std::to_string(::GetCurrentProcessId()) +
           " ==\n";
}

// The program's own ProductVersion string from its version record; empty when it has none (a test).
std::wstring program_version() {
    const HMODULE self = ::GetModuleHandleW(nullptr);
    const HRSRC found = ::FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    const HGLOBAL loaded = found == nullptr ? nullptr : ::LoadResource(self, found);
    const auto* data = static_cast<const char*>(loaded == nullptr ? nullptr : ::LockResource(loaded));
    if (data == nullptr) {
        return {};
    }
    const size_t size = ::SizeofResource(self, found);
    static constexpr wchar_t kKey[] = L"ProductVersion";
    const size_t keyBytes = sizeof(kKey);
    for (size_t at = 6; at + keyBytes <= size; at += 2) {
        if (std::memcmp(data + at, kKey, keyBytes) != 0) {
            continue;
        }
        size_t value = (at + keyBytes + 3) & ~size_t{3};
        std::wstring version;
        for (; value + 2 <= size; value += 2) {
            wchar_t unit = 0;
            std::memcpy(&unit, data + value, 2);
            if (unit == 0) break;
            version += unit;
        }
        return version;
    }
    return {};
}

std::string windows_version() {
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    using WineVersion = const char*(CDECL*)();
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return "Windows (unknown version)";
    }
    const auto get = reinterpret_cast<GetVersion>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    std::string text = "Windows ";
    if (get != nullptr && get(&info) == 0) {
        text += std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
                std::to_string(info.dwBuildNumber);
    } else {
        text += "(unknown version)";
    }
    SYSTEM_INFO system{};
    ::GetNativeSystemInfo(&system);
    text += system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? " arm64" : " x64";
    const auto wine =
        reinterpret_cast<WineVersion>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")));
    if (wine != nullptr) {
        text += std::string(" (Wine ") + wine() + ")";
    }
    return text;
}

// "12.345": the run's clock, in seconds with milliseconds.
std::string offset_text(const LogState& log) {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const uint64_t millis = static_cast<uint64_t>(now.QuadPart - log.start.QuadPart) * 1000 /
                            static_cast<uint64_t>(std::max<LONGLONG>(log.frequency.QuadPart, 1));
    return std::to_string(millis / 1000) + "." + std::to_string(1000 + millis % 1000).substr(1);
}

// One line holds one event: control characters would break it (a message with a line break), so
// they are written as escapes, and a very long text is cut at a character's start.
std::string clean_text(std::string_view text) {
    std::string clean;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n') {
            clean += "\\n";
        } else if (byte == '\r') {
            clean += "\\r";
        } else if (byte < 0x20 || byte == 0x7f) {
            static constexpr char kHex[] = "0123456789abcdef";
            clean += "\\x";
            clean += kHex[byte >> 4];
            clean += kHex[byte & 15];
        } else {
            clean += c;
        }
    }
    if (clean.size() > kLongestText) {
        size_t cut = kLongestText;
        while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xc0) == 0x80) {
            --cut;
        }
        clean.resize(cut);
        clean += "...";
    }
    return clean;
}

bool always_fits(std::string_view topic) {
    return topic == "result" || topic == "cancel";
}

// Under the lock. False once the run's share is used up (the file is then left alone).
bool write_locked(LogState& log, std::string_view topic, std::string_view text) {
    if (!log.file) {
        return false;
    }
    const std::string line = "+" + offset_text(log) + " " + std::string(topic) + " " + clean_text(text) + "\n";
    const size_t limit = always_fits(topic) ? kSupportLogRunBytes : kSupportLogRunBytes - kResultReserve;
    if (log.runBytes + line.size() > limit) {
        if (!log.linesDropped) {
            log.linesDropped = true;
            const std::string note = "+" + offset_text(log) + " log further lines of this run are left out\n";
            if (write_all(log.file.get(), note)) {
                log.runBytes += note.size();
            }
        }
        return false;
    }
    if (!write_all(log.file.get(), line)) {
        // A disk that refuses one line would refuse the rest: the run goes on without its log.
        log.file.reset();
        runOpen.store(false);
        return false;
    }
    log.runBytes += line.size();
    return true;
}

}  // namespace

std::filesystem::path support_log_path() {
    wchar_t folder[MAX_PATH + 2] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH + 1) {
        return {};
    }
    return std::filesystem::path(std::wstring(folder, length)) / kLogName;
}

namespace support_log_detail {

void append(std::string& line, std::string_view part) {
    line += part;
}
void append(std::string& line, std::wstring_view part) {
    line += utf8(part);
}
bool run_open() noexcept {
    return runOpen.load();
}

}  // namespace support_log_detail

void begin_support_log_run() noexcept {
    end_support_log_run();
    try {
        // The file work (reading the log, rewriting it when full) is done without the lock: a
        // window thread logging a cancel meanwhile is never kept waiting for the disk. Only the
        // install task begins runs, one at a time.
        const std::wstring path = support_log_path().native();
        if (path.empty() || !make_room(path)) {
            return;
        }
        UniqueFileHandle file = open_plain(path, FILE_APPEND_DATA, true);
        LARGE_INTEGER size{};
        // A log another process keeps from being trimmed is not let grow past its bound.
        if (!file || !::GetFileSizeEx(file.get(), &size) ||
            static_cast<uint64_t>(size.QuadPart) > kSupportLogFileBytes - kSupportLogRunBytes) {
            return;
        }
        const std::string header = block_header();
        if (!write_all(file.get(), header)) {
            return;
        }
        const std::wstring version = program_version();
        const std::string setup = "Korvane Setup " +
                                  (version.empty() ? std::string("(no version record)") : utf8(version)) + ", " +
                                  windows_version();

        LogState& log = state();
        ExclusiveLock hold(log.lock);
        log.file = std::move(file);
        ::QueryPerformanceFrequency(&log.frequency);
        ::QueryPerformanceCounter(&log.start);
        log.runBytes = header.size();
        log.linesDropped = false;
        runOpen.store(true);
        write_locked(log, "setup", setup);
    } catch (...) {
        // Out of memory: this run goes without its log.
    }
}

void end_support_log_run() noexcept {
    LogState& log = state();
    ExclusiveLock hold(log.lock);
    runOpen.store(false);
    log.file.reset();
}

void write_support_log_line(std::string_view topic, std::string_view text) noexcept {
    LogState& log = state();
    try {
        ExclusiveLock hold(log.lock);
        if (runOpen.load()) {
            write_locked(log, topic, text);
        }
    } catch (...) {
        // Out of memory while formatting: the line is left out.
    }
}

}  // namespace common
