// The download's writing side on its own thread: the file and the digest must hold exactly the bytes
// handed over, in order, however they were cut up, and its failures must reach the reader.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>

#include "crypto/sha256.h"
#include "net/download_sink.h"
#include "tests/support/expect_error.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace {

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

TEST(DownloadSink, WritesAndHashesEveryByteInOrderWhateverTheChunks) {
    // More chunks than buffers, pieces larger than one buffer, single bytes and empty hand-overs.
    struct Case {
        const char* name;
        size_t total;
        size_t smallest;
        size_t largest;
    };
    const Case cases[] = {
        {"read-sized", 3 * 1024 * 1024 + 17, 65536, 65536},
        {"ragged", 2 * 1024 * 1024, 0, 200000},
        {"tiny", 20000, 1, 3},
    };
    test::TempFolder folder;
    std::atomic<bool> cancel{false};
    for (const Case& c : cases) {
        const std::string bytes = random_bytes(c.total, 7);
        const auto part = folder / (std::string(c.name) + ".part");
        std::mt19937 sizes(11);
        std::string digest;
        {
            kr::DownloadSink sink(part, &cancel);
            for (size_t at = 0; at < bytes.size();) {
                const size_t piece = std::min(bytes.size() - at, c.smallest + sizes() % (c.largest - c.smallest + 1));
                sink.store(bytes.data() + at, piece);
                at += piece;
            }
            digest = sink.finish();
        }
        EXPECT_EQ(digest, crypto::sha256_hex(bytes.data(), bytes.size())) << c.name;
        EXPECT_TRUE(test::read_file(part) == bytes) << c.name;
    }
}

TEST(DownloadSink, APartFileThatCannotBeOpenedIsRefusedAtOnce) {
    test::TempFolder folder;
    test::expect_error([&] { kr::DownloadSink sink(folder / "missing" / "x.part", nullptr); },
                       "Нет доступа к папке установки");
}

TEST(DownloadSink, AnAbandonedSinkStopsItsWriterAndReleasesTheFile) {
    test::TempFolder folder;
    const auto part = folder / "abandoned.part";
    const std::string bytes = random_bytes(1024 * 1024, 3);
    {
        kr::DownloadSink sink(part, nullptr);
        sink.store(bytes.data(), bytes.size());
    }
    // Closed: the download removes a failed attempt's part file right after this.
    std::error_code error;
    EXPECT_TRUE(std::filesystem::remove(part, error)) << error.message();
}

}  // namespace
