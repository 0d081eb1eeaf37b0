#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "crypto/sha256.h"

namespace kr {

// Where a download's bytes go: the part file and the running SHA-256, written and hashed on a thread
// of its own so that the reading thread goes straight back to the network. Under Wine CNG's SHA-256
// is Wine's own code and costs about as much as the read itself. The reader hands over copies
// through a few 64 KiB buffers; the writer writes then hashes each one, in the order received, so
// the digest covers exactly the bytes written.
class DownloadSink {
public:
    // Opens (truncating) the part file; "Нет доступа к папке установки" when it cannot be opened.
    // `cancel` (may be null) is watched while the reader waits for a free buffer.
    DownloadSink(const std::filesystem::path& part, const std::atomic<bool>* cancel);
    DownloadSink(const DownloadSink&) = delete;
    DownloadSink& operator=(const DownloadSink&) = delete;
    // Stops the writer (after the write it is in) and closes the file, whatever was left unwritten.
    ~DownloadSink();

    // Queues a copy of the bytes. Throws the writer's failure ("Недостаточно места или ошибка
    // записи", "Ошибка криптографии Windows") once it has one, and "Загрузка отменена" when a
    // cancel comes while every buffer is still waiting to be written.
    void store(const char* bytes, size_t count);

    // Waits until everything queued is written and hashed, closes the file and returns the SHA-256
    // as 64 lowercase hex characters. Throws what store() throws, and "Недостаточно места или
    // ошибка записи" when closing fails. Call once.
    std::string finish();

private:
    struct Buffer {
        std::vector<char> bytes;
        size_t length = 0;
    };

    void write_loop();
    void stop() noexcept;

    std::ofstream stream_;
    crypto::Sha256 hash_;
    const std::atomic<bool>* const cancel_;
    std::vector<Buffer> buffers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Filled buffers are buffers_[(next_ + i) % size] for i < filled_; the writer owns the first of
    // them while it writes it.
    size_t next_ = 0;
    size_t filled_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread writer_;
};

}  // namespace kr
