#include "net/download_sink.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "common/marked_threads.h"

namespace kr {
namespace {

constexpr char kNoFolderAccess[] = "Нет доступа к папке установки";
constexpr char kWriteFailed[] = "Недостаточно места или ошибка записи";
constexpr char kCancelled[] = "Загрузка отменена";

constexpr size_t kBufferSize = 65536;
// Enough to let the reader run ahead of a write or a hash that takes a little longer; more would
// only hold more of the file in memory.
constexpr size_t kBuffers = 4;
// How often a reader that waits for a free buffer looks at the cancel flag.
constexpr auto kCancelPoll = std::chrono::milliseconds(50);

}  // namespace

DownloadSink::DownloadSink(const std::filesystem::path& part, const std::atomic<bool>* cancel)
    : stream_(part, std::ios::binary | std::ios::trunc), cancel_(cancel), buffers_(kBuffers) {
    if (!stream_) {
        throw std::runtime_error(kNoFolderAccess);
    }
    for (Buffer& buffer : buffers_) {
        buffer.bytes.resize(kBufferSize);
    }
    writer_ = std::thread([this] { write_loop(); });
}

DownloadSink::~DownloadSink() {
    stop();
}

void DownloadSink::store(const char* bytes, size_t count) {
    while (count > 0) {
        std::unique_lock lock(mutex_);
        while (!failure_ && filled_ == buffers_.size()) {
            if (cancel_ != nullptr && cancel_->load()) {
                throw std::runtime_error(kCancelled);
            }
            changed_.wait_for(lock, kCancelPoll);
        }
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        // The slot past the filled ones is the reader's until it is counted as filled.
        Buffer& buffer = buffers_[(next_ + filled_) % buffers_.size()];
        lock.unlock();
        const size_t piece = std::min(count, buffer.bytes.size());
        std::memcpy(buffer.bytes.data(), bytes, piece);
        buffer.length = piece;
        bytes += piece;
        count -= piece;
        lock.lock();
        ++filled_;
        changed_.notify_all();
    }
}

std::string DownloadSink::finish() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return filled_ == 0 || failure_; });
    }
    stop();
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    stream_.close();
    if (!stream_) {
        throw std::runtime_error(kWriteFailed);
    }
    return hash_.finish_hex();
}

void DownloadSink::write_loop() {
    // The writer hashes on its own core: its CPU is the install's, not the window's frames'.
    const common::MarkedThread mark(L"korvane-writer");
    for (;;) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return filled_ > 0 || stopping_; });
        if (stopping_) {
            return;
        }
        Buffer& buffer = buffers_[next_];
        lock.unlock();
        try {
            stream_.write(buffer.bytes.data(), static_cast<std::streamsize>(buffer.length));
            if (!stream_) {
                throw std::runtime_error(kWriteFailed);
            }
            hash_.update(buffer.bytes.data(), buffer.length);
        } catch (...) {
            lock.lock();
            failure_ = std::current_exception();
            changed_.notify_all();
            return;
        }
        lock.lock();
        next_ = (next_ + 1) % buffers_.size();
        --filled_;
        changed_.notify_all();
    }
}

void DownloadSink::stop() noexcept {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable()) {
        writer_.join();
    }
}

}  // namespace kr
