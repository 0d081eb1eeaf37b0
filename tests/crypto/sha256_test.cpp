#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>
#include <string>

#include "common/unique_handle.h"
#include "crypto/sha256.h"
#include "tests/support/expect_error.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// Deterministic content whose digests were computed outside this program (Python's hashlib).
std::string pattern(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 7 + 3) & 0xff);
    }
    return bytes;
}

TEST(Sha256, StandardVectorsOfBuffers) {
    EXPECT_EQ(crypto::sha256_hex("", 0), kEmptyDigest);
    EXPECT_EQ(crypto::sha256_hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string million(1'000'000, 'a');
    EXPECT_EQ(crypto::sha256_hex(million.data(), million.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, IncrementalUpdatesMatchOneShot) {
    const std::string bytes = pattern(65537);
    crypto::Sha256 hasher;
    hasher.update(bytes.data(), 1000);
    hasher.update(bytes.data() + 1000, 0);
    hasher.update(bytes.data() + 1000, bytes.size() - 1000);
    EXPECT_EQ(hasher.finish_hex(), crypto::sha256_hex(bytes.data(), bytes.size()));
}

TEST(Sha256, FilesAroundTheChunkSize) {
    test::TempFolder temp;
    const struct {
        size_t length;
        const char* digest;
    } cases[] = {
        {0, kEmptyDigest},
        {65536, "510b126e1d4ced49107fe4ab03ee54cb1c8e4caf6064e1dd29c48d4a3e74c38b"},
        {65537, "ad8b370d36508e55e3c9cd44667a6e36e35955d0ff9f8fe59805bb18c2db5dd8"},
        {131072, "9da12ab2cd07bf7997023836be0e1e05fcc54ef9849c2b897795fa351d941672"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const auto file = temp / ("file-" + std::to_string(c.length) + ".bin");
        test::write_file(file, pattern(c.length));
        EXPECT_EQ(crypto::sha256_file_hex(file), c.digest);
    }
}

TEST(Sha256, FileThatCannotBeOpened) {
    test::TempFolder temp;
    test::expect_error([&] { crypto::sha256_file_hex(temp / "missing.bin"); }, "Не удалось проверить файл");
    test::expect_error([&] { crypto::sha256_file_hex(temp.path()); }, "Не удалось проверить файл");

    // Held open by another writer that shares nothing.
    const auto locked = temp / "locked.bin";
    test::write_file(locked, "data");
    common::UniqueFileHandle holder(
        CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    test::expect_error([&] { crypto::sha256_file_hex(locked); }, "Не удалось проверить файл");
}

TEST(Sha256, NegativeStatusIsTheCryptoMessage) {
    EXPECT_NO_THROW(crypto::check_crypto_status(0));
    EXPECT_NO_THROW(crypto::check_crypto_status(1));
    test::expect_error([] { crypto::check_crypto_status(static_cast<NTSTATUS>(0xC000000DL)); },
                       "Ошибка криптографии Windows");
}

}  // namespace
