#include "net/download.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>
#include <vector>

#include "common/cancellation.h"
#include "common/support_log.h"
#include "crypto/random_hex.h"
#include "crypto/sha256.h"
#include "net/download_sink.h"
#include "net/http_request.h"
#include "net/network_error.h"
#include "text/utf.h"

namespace kr {

namespace {

constexpr char kNoSizeOrDigest[] = "В каталоге отсутствует размер или SHA-256 файла";
constexpr char kCancelled[] = "Загрузка отменена";
constexpr char kNoResume[] = "Сервер не поддерживает продолжение загрузки";
constexpr char kWrongPart[] = "Сервер вернул неверную часть файла";
constexpr char kOfficialRefused[] = "Официальный сервер не отдал файл установки";
constexpr char kModRefused[] = "Сервер не отдал файл мода";
constexpr char kSizeMismatch[] = "Размер файла не совпадает с каталогом";
constexpr char kInterrupted[] = "Загрузка прервана";
constexpr char kPartOverrun[] = "Сервер превысил размер части файла";
constexpr char kDigestMismatch[] = "Файл не прошёл проверку SHA-256";
constexpr char kRenameFailed[] = "Файл уже существует или папка недоступна";

constexpr uint64_t kRangeSize = 16 * 1024 * 1024;
constexpr uint64_t kLargestFile = 8ull * 1024 * 1024 * 1024;
constexpr size_t kDigestLength = 64;
constexpr DWORD kReadBuffer = 65536;
constexpr int kAttempts = 3;
constexpr int kRangeAttempts = 3;
constexpr DWORD kPauseStep = 500;

// A server that trickles must not hold the download (the "slow retrieval" attack): a range request
// that waits longer than kIdleLimit for its headers or for any byte, or whose body brings fewer
// than kProgressFloor bytes in a kProgressWindow, counts as an interrupted transfer and is resumed
// like one. 64 KiB per 15 s is about 4.3 KiB/s: a slow but honest 20 KiB/s line brings 300 KiB in
// a window, and a trickling server is given up after three windows of its range.
constexpr DWORD kIdleLimit = 15000;
constexpr uint64_t kProgressWindow = 15000;
constexpr uint64_t kProgressFloor = 64 * 1024;

void pause(DWORD milliseconds, const std::atomic<bool>* cancel) {
    if (!pause_unless_cancelled(milliseconds, cancel)) {
        throw std::runtime_error(kCancelled);
    }
}

void remove_quietly(const std::filesystem::path& part) noexcept {
    std::error_code ignored;
    if (!part.empty()) {
        std::filesystem::remove(part, ignored);
    }
}

// A server that refused to resume a transfer it had let run too slow (the idle limit or the
// progress floor). The whole download starts again from the beginning; should its last attempt end
// the same way, the slowness is what the player is told: resuming would not have helped a server
// that trickles. A connection that merely dropped stays "cannot resume", the one thing that would
// have saved it.
struct ResumeRefused : DownloadIntegrityError {
    explicit ResumeRefused(std::exception_ptr slowness) : DownloadIntegrityError(kNoResume), cause(slowness) {}
    std::exception_ptr cause;
};

// The bytes one range request brought in consecutive windows of kProgressWindow.
class ProgressFloor {
public:
    // Counts a read; false when a window just ended below the floor.
    bool keeps_up(DWORD count) {
        bytes_ += count;
        const uint64_t now = GetTickCount64();
        if (now - windowStart_ < kProgressWindow) {
            return true;
        }
        const bool enough = bytes_ >= kProgressFloor;
        windowStart_ = now;
        bytes_ = 0;
        return enough;
    }

private:
    uint64_t windowStart_ = GetTickCount64();
    uint64_t bytes_ = 0;
};

// One attempt: the part file, the running hash and the request whose session and connection the
// next range shares. The transport only hands bytes to `store`; where they go is decided there.
class Attempt {
public:
    Attempt(const std::string& url, const std::filesystem::path& part, uint64_t size, std::atomic<float>* progress,
            std::atomic<bool>* cancel, std::atomic<uint64_t>* bytesDone, const std::string& token, bool official)
        : url_(url),
          size_(size),
          progress_(progress),
          cancel_(cancel),
          bytesDone_(bytesDone),
          token_(token),
          official_(official),
          sink_(part, cancel),
          buffer_(kReadBuffer) {}

    // Fetches every range and returns the digest of what was written.
    std::string run() {
        while (offset_ < size_) {
            fetch_range(std::min(offset_ + kRangeSize, size_) - 1);
        }
        std::string digest = sink_.finish();
        if (offset_ != size_) {
            throw DownloadIntegrityError("Загрузка получена не полностью: " + std::to_string(offset_) + " из " +
                                         std::to_string(size_) + " байт");
        }
        return digest;
    }

private:
    // A transient failure resumes the range at the current offset, at most three requests per range.
    void fetch_range(uint64_t last) {
        std::exception_ptr tooSlow;
        for (int retry = 0;; ++retry) {
            const uint64_t from = offset_;
            const uint64_t started = GetTickCount64();
            try {
                request_range(last);
                log_range(from, last, started, "");
                return;
            } catch (const DownloadIntegrityError& error) {
                log_range(from, last, started, error.what());
                if (tooSlow) {
                    throw ResumeRefused(tooSlow);
                }
                throw;
            } catch (const NetworkError& error) {
                log_range(from, last, started, error.what());
                // A request given up at a cancel fails with WinHTTP's "cancelled": say what happened.
                common::throw_if_cancelled(cancel_, kCancelled);
                if (retry == kRangeAttempts - 1 || !error.is_retryable()) {
                    throw;
                }
                if (offset_ == last + 1) {
                    return;
                }
                tooSlow = error.code == ERROR_WINHTTP_TIMEOUT ? std::current_exception() : nullptr;
                const DWORD wait = kPauseStep * static_cast<DWORD>(retry + 1);
                common::support_log("download", "resume from byte ", offset_, " in ", wait, " ms (request ", retry + 2,
                                    " of ", kRangeAttempts, " for this range)");
                pause(wait, cancel_);
            } catch (const std::exception& error) {
                log_range(from, last, started, error.what());
                throw;
            }
        }
    }

    // One request of a range: what it asked for, what it brought and how long it took, and why it
    // stopped short when it did.
    void log_range(uint64_t from, uint64_t last, uint64_t started, const char* failure) const {
        const uint64_t took = GetTickCount64() - started;
        if (*failure == '\0') {
            common::support_log("download", "range ", from, "-", last, ": HTTP ", status_, ", ", offset_ - from,
                                " bytes in ", took, " ms");
        } else {
            common::support_log("download", "range ", from, "-", last, ": HTTP ", status_, ", stopped at byte ",
                                offset_, " after ", offset_ - from, " bytes in ", took, " ms: ", failure);
        }
    }

    // `last` is updated in place when the server sends the whole file instead of the range.
    void request_range(uint64_t& last) {
        common::throw_if_cancelled(cancel_, kCancelled);
        const std::wstring range = text::wide_decimal(offset_) + L"-" + text::wide_decimal(last);
        // The new request takes its share of the session and connection before the old one goes.
        std::unique_ptr<HttpRequest> request(
            new HttpRequest(open_request(url_, "GET", std::string(), token_, false, official_, 0, false, range,
                                         previous_.get(), RequestLimits{cancel_, kIdleLimit})));
        previous_ = std::move(request);
        HttpRequest& current = *previous_;

        status_ = 0;
        const int32_t status = current.response_status();
        status_ = status;
        if (status == 200) {
            if (offset_ != 0) {
                throw DownloadIntegrityError(kNoResume);
            }
            last = size_ - 1;
        } else if (status == 206) {
            const std::wstring expected = L"bytes " + range + L"/" + text::wide_decimal(size_);
            if (current.response_header(L"Content-Range") != expected) {
                throw std::runtime_error(kWrongPart);
            }
        } else {
            throw DownloadRefused(official_ ? kOfficialRefused : kModRefused);
        }

        const std::wstring length = current.response_header(L"Content-Length");
        const std::wstring encoding = current.response_header(L"Content-Encoding");
        if ((!length.empty() && length != text::wide_decimal(last - offset_ + 1)) ||
            (!encoding.empty() && encoding != L"identity")) {
            throw std::runtime_error(kSizeMismatch);
        }

        ProgressFloor floor;
        for (;;) {
            common::throw_if_cancelled(cancel_, kCancelled);
            const DWORD count = current.read_some(buffer_.data(), kReadBuffer, kInterrupted);
            if (count == 0) {
                if (offset_ == last + 1) {
                    return;
                }
                throw NetworkError(kInterrupted, ERROR_WINHTTP_CONNECTION_ERROR, 0);
            }
            if (count > last - offset_ + 1) {
                throw std::runtime_error(kPartOverrun);
            }
            store(count);
            if (!floor.keeps_up(count)) {
                throw NetworkError(kInterrupted, ERROR_WINHTTP_TIMEOUT, 0);
            }
        }
    }

    // The bytes are written and hashed on the sink's own thread; progress counts what was received.
    void store(DWORD count) {
        sink_.store(buffer_.data(), count);
        offset_ += count;
        if (bytesDone_ != nullptr) {
            bytesDone_->exchange(offset_);
        }
        progress_->exchange(static_cast<float>(offset_) / static_cast<float>(size_));
    }

    const std::string& url_;
    const uint64_t size_;
    std::atomic<float>* const progress_;
    std::atomic<bool>* const cancel_;
    std::atomic<uint64_t>* const bytesDone_;
    const std::string& token_;
    const bool official_;
    DownloadSink sink_;
    std::vector<char> buffer_;
    uint64_t offset_ = 0;
    int32_t status_ = 0;
    std::unique_ptr<HttpRequest> previous_;
};

std::function<void()>& before_rename_hook() {
    static std::function<void()> hook;
    return hook;
}

}  // namespace

void download_file(const std::string& url, const std::filesystem::path& destination, uint64_t size,
                   const std::string& sha256, std::atomic<float>* progress, std::atomic<bool>* cancel,
                   std::atomic<uint64_t>* bytes_done, const std::string& token, bool official) {
    if (sha256.size() != kDigestLength || size < 1 || size > kLargestFile) {
        throw std::runtime_error(kNoSizeOrDigest);
    }
    if (destination.has_parent_path()) {
        std::filesystem::create_directories(destination.parent_path());
    }
    for (int attempt = 0;; ++attempt) {
        common::support_log("download", "attempt ", attempt + 1, " of ", kAttempts, ": ", size, " bytes");
        std::filesystem::path part;
        try {
            common::throw_if_cancelled(cancel, kCancelled);
            // Named in full before `part` holds it: should drawing the name fail, the removal below
            // must not be aimed at the destination itself.
            std::filesystem::path name = destination;
            name += ".part-" + crypto::random_hex(8);
            part = std::move(name);
            std::string digest;
            {
                // Closed (and its request released) before the rename or the removal below.
                Attempt download(url, part, size, progress, cancel, bytes_done, token, official);
                digest = download.run();
            }
            if (!crypto::same_digest(digest, sha256)) {
                common::support_log("download", "SHA-256 of the downloaded file is ", digest, ", not ", sha256);
                throw DownloadIntegrityError(kDigestMismatch);
            }
            if (before_rename_hook()) {
                before_rename_hook()();
            }
            common::throw_if_cancelled(cancel, kCancelled);
            if (!MoveFileExW(part.c_str(), destination.c_str(), MOVEFILE_WRITE_THROUGH)) {
                common::support_log("download", "the verified file cannot take its name (Windows ", GetLastError(),
                                    ")");
                throw std::runtime_error(kRenameFailed);
            }
            common::support_log("download", "verified: ", size, " bytes, SHA-256 as the manifest says");
            return;
        } catch (const DownloadIntegrityError& error) {
            remove_quietly(part);
            if (cancel != nullptr && cancel->load()) {
                throw;
            }
            common::support_log("download", "attempt ", attempt + 1, " of ", kAttempts, " failed: ", error.what(),
                                attempt == kAttempts - 1 ? "; no attempt left" : "; the download starts over");
            if (attempt == kAttempts - 1) {
                const auto* refused = dynamic_cast<const ResumeRefused*>(&error);
                if (refused != nullptr) {
                    std::rethrow_exception(refused->cause);
                }
                throw;
            }
        } catch (const std::exception& error) {
            remove_quietly(part);
            common::support_log("download", "attempt ", attempt + 1, " of ", kAttempts,
                                " ends the download: ", error.what());
            throw;
        } catch (...) {
            remove_quietly(part);
            throw;
        }
        progress->exchange(0.0f);
        if (bytes_done != nullptr) {
            bytes_done->exchange(0);
        }
        pause(kPauseStep * static_cast<DWORD>(attempt + 1), cancel);
    }
}

void set_before_rename_hook(std::function<void()> hook) {
    before_rename_hook() = std::move(hook);
}

}  // namespace kr
