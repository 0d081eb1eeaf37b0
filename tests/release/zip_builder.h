#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test {

// One entry of a test ZIP. The writer is our own so that tests can record what a well-behaved
// writer never would: false sizes and CRCs, backslashes, Unix link modes, encryption flags.
struct ZipEntry {
    ZipEntry(std::string entryName, std::string entryData = {}, bool deflated = false)
        : name(std::move(entryName)), data(std::move(entryData)), deflate(deflated) {}

    std::string name;
    std::string data;
    bool deflate = false;
    std::optional<std::uint32_t> recordedSize;  // uncompressed size written in the headers
    std::optional<std::uint32_t> crc;           // CRC-32 written in the headers
    std::optional<std::uint16_t> method;        // compression method written in the headers
    std::uint16_t flags = 0;                    // general-purpose bits (bit 0: encrypted)
    std::uint16_t versionMadeBy = 20;           // high byte 3 says the attributes are Unix modes
    std::uint32_t externalAttributes = 0;
};

// A folder entry (name ending with '/').
ZipEntry zip_folder(std::string name);
// A file entry with a Unix mode in the upper half of the external attributes.
ZipEntry zip_unix_entry(std::string name, std::string data, std::uint32_t mode);

// The bytes of a ZIP archive holding the entries in this order.
std::string build_zip(const std::vector<ZipEntry>& entries);

}  // namespace test
