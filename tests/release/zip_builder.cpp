#include "tests/release/zip_builder.h"

#include <miniz.h>

#include <stdexcept>

namespace test {

namespace {

void put16(std::string& out, std::uint32_t value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>((value >> 8) & 0xff));
}

void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

std::string deflated(const std::string& data) {
    size_t length = 0;
    void* compressed = tdefl_compress_mem_to_heap(data.data(), data.size(), &length, TDEFL_DEFAULT_MAX_PROBES);
    if (compressed == nullptr) {
        throw std::runtime_error("tdefl_compress_mem_to_heap failed");
    }
    std::string bytes(static_cast<const char*>(compressed), length);
    mz_free(compressed);
    return bytes;
}

}  // namespace

ZipEntry zip_folder(std::string name) {
    ZipEntry entry(std::move(name));
    entry.externalAttributes = 0x10;
    return entry;
}

ZipEntry zip_unix_entry(std::string name, std::string data, std::uint32_t mode) {
    ZipEntry entry(std::move(name), std::move(data));
    entry.versionMadeBy = 3 << 8 | 20;
    entry.externalAttributes = mode << 16;
    return entry;
}

std::string build_zip(const std::vector<ZipEntry>& entries) {
    constexpr std::uint32_t kDosDate = 0x21;  // 1980-01-01
    std::string archive;
    std::string central;
    for (const ZipEntry& entry : entries) {
        const std::string stored = entry.deflate ? deflated(entry.data) : entry.data;
        const std::uint16_t method = entry.method.value_or(entry.deflate ? 8 : 0);
        const std::uint32_t crc = entry.crc.value_or(static_cast<std::uint32_t>(
            mz_crc32(MZ_CRC32_INIT, reinterpret_cast<const unsigned char*>(entry.data.data()), entry.data.size())));
        const std::uint32_t size = entry.recordedSize.value_or(static_cast<std::uint32_t>(entry.data.size()));
        const std::uint32_t offset = static_cast<std::uint32_t>(archive.size());
        // The local header and the central record repeat these fields in the same order.
        const auto put_shared_fields = [&](std::string& out) {
            put16(out, entry.flags);
            put16(out, method);
            put16(out, 0);
            put16(out, kDosDate);
            put32(out, crc);
            put32(out, static_cast<std::uint32_t>(stored.size()));
            put32(out, size);
            put16(out, static_cast<std::uint32_t>(entry.name.size()));
        };

        put32(archive, 0x04034b50);
        put16(archive, 20);
        put_shared_fields(archive);
        put16(archive, 0);
        archive += entry.name;
        archive += stored;

        put32(central, 0x02014b50);
        put16(central, entry.versionMadeBy);
        put16(central, 20);
        put_shared_fields(central);
        put16(central, 0);  // extra field
        put16(central, 0);  // comment
        put16(central, 0);  // disk
        put16(central, 0);  // internal attributes
        put32(central, entry.externalAttributes);
        put32(central, offset);
        central += entry.name;
    }
    const std::uint32_t centralOffset = static_cast<std::uint32_t>(archive.size());
    archive += central;
    put32(archive, 0x06054b50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, static_cast<std::uint32_t>(entries.size()));
    put16(archive, static_cast<std::uint32_t>(entries.size()));
    put32(archive, static_cast<std::uint32_t>(central.size()));
    put32(archive, centralOffset);
    put16(archive, 0);
    return archive;
}

}  // namespace test
