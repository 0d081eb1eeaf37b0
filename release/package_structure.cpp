#include "release/package_structure.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace release {

namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;

constexpr std::uint64_t kLocalHeaderSize = 30;
constexpr std::uint64_t kCentralHeaderSize = 46;
constexpr std::uint64_t kEndSize = 22;
constexpr std::uint64_t kZip64EndSize = 56;  // without an extensible data sector
constexpr std::uint64_t kZip64LocatorSize = 20;
constexpr std::uint64_t kLongestComment = 0xFFFF;
constexpr std::uint16_t kDescriptorFlag = 0x0008;

std::uint16_t le16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t le32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(le16(bytes)) | static_cast<std::uint32_t>(le16(bytes + 2)) << 16;
}

std::uint64_t le64(const unsigned char* bytes) {
    return static_cast<std::uint64_t>(le32(bytes)) | static_cast<std::uint64_t>(le32(bytes + 4)) << 32;
}

class ArchiveBytes {
public:
    explicit ArchiveBytes(mz_zip_archive& zip) : zip_(zip) {}

    std::uint64_t size() const { return zip_.m_archive_size; }

    // False when the range lies outside the archive or cannot be read.
    bool read(std::uint64_t offset, void* buffer, std::uint64_t count) const {
        if (offset > size() || count > size() - offset) return false;
        return zip_.m_pRead(zip_.m_pIO_opaque, offset, buffer, static_cast<size_t>(count)) == count;
    }

private:
    mz_zip_archive& zip_;
};

// Where the end record is, found as the ZIP reader finds it: the last signature in the tail.
bool find_end_record(const ArchiveBytes& bytes, std::uint64_t& offset) {
    if (bytes.size() < kEndSize) return false;
    const std::uint64_t first =
        bytes.size() - kEndSize > kLongestComment ? bytes.size() - kEndSize - kLongestComment : 0;
    std::vector<unsigned char> tail(static_cast<size_t>(bytes.size() - first));
    if (!bytes.read(first, tail.data(), tail.size())) return false;
    for (size_t at = tail.size() - kEndSize + 1; at-- > 0;) {
        if (le32(tail.data() + at) == kEndSignature) {
            offset = first + at;
            return true;
        }
    }
    return false;
}

struct CentralDirectory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

std::string check_end_records(const ArchiveBytes& bytes, CentralDirectory& directory) {
    std::uint64_t end = 0;
    unsigned char record[kEndSize];
    if (!find_end_record(bytes, end) || !bytes.read(end, record, kEndSize)) return "no end record";
    if (end + kEndSize + le16(record + 20) != bytes.size()) return "bytes after the end record";
    directory.size = le32(record + 12);
    directory.offset = le32(record + 16);
    std::uint64_t directoryEnd = end;

    unsigned char locator[kZip64LocatorSize];
    if (end >= kZip64LocatorSize && bytes.read(end - kZip64LocatorSize, locator, kZip64LocatorSize) &&
        le32(locator) == kZip64LocatorSignature) {
        unsigned char zip64End[kZip64EndSize];
        if (end < kZip64LocatorSize + kZip64EndSize) return "ZIP64 end record outside the archive";
        const std::uint64_t zip64Offset = end - kZip64LocatorSize - kZip64EndSize;
        if (!bytes.read(zip64Offset, zip64End, kZip64EndSize) || le32(zip64End) != kZip64EndSignature ||
            le64(zip64End + 4) != kZip64EndSize - 12 || le64(locator + 8) != zip64Offset) {
            return "ZIP64 end record not where its locator says";
        }
        directory.size = le64(zip64End + 40);
        directory.offset = le64(zip64End + 48);
        directoryEnd = zip64Offset;
    }
    if (directory.offset > directoryEnd || directoryEnd - directory.offset != directory.size) {
        return "bytes between the central directory and the end record";
    }
    return {};
}

std::string name_of(mz_zip_archive& zip, mz_uint index) {
    const mz_uint length = mz_zip_reader_get_filename(&zip, index, nullptr, 0);
    std::string name(length, '\0');
    if (length > 0) {
        mz_zip_reader_get_filename(&zip, index, name.data(), length);
        name.resize(length - 1);
    }
    return name;
}

std::string check_central_directory(const ArchiveBytes& bytes, mz_zip_archive& zip, const CentralDirectory& directory,
                                    std::vector<mz_zip_archive_file_stat>& stats) {
    std::uint64_t next = directory.offset;
    // The reader gives each record's place relative to the directory's start.
    for (mz_uint index = 0; index < mz_zip_reader_get_num_files(&zip); ++index) {
        mz_zip_archive_file_stat stat{};
        unsigned char header[kCentralHeaderSize];
        if (!mz_zip_reader_file_stat(&zip, index, &stat) || directory.offset + stat.m_central_dir_ofs != next ||
            !bytes.read(next, header, kCentralHeaderSize) || le32(header) != kCentralHeaderSignature) {
            return "central directory records not back to back";
        }
        next += kCentralHeaderSize + le16(header + 28) + le16(header + 30) + le16(header + 32);
        stats.push_back(stat);
    }
    if (next != directory.offset + directory.size) return "central directory size differs from its records";
    return {};
}

// A data descriptor holds the CRC and two sizes (4 or 8 bytes each), with or without a signature.
bool is_data_descriptor(const ArchiveBytes& bytes, std::uint64_t offset, std::uint64_t length, std::uint32_t crc) {
    unsigned char descriptor[24];
    if ((length != 12 && length != 16 && length != 20 && length != 24) || !bytes.read(offset, descriptor, length)) {
        return false;
    }
    const bool signed_ = length == 16 || length == 24;
    if (signed_ && le32(descriptor) != kDescriptorSignature) return false;
    return le32(descriptor + (signed_ ? 4 : 0)) == crc;
}

std::string check_local_records(const ArchiveBytes& bytes, mz_zip_archive& zip, const CentralDirectory& directory,
                                std::vector<mz_zip_archive_file_stat>& stats) {
    std::sort(stats.begin(), stats.end(),
              [](const auto& left, const auto& right) { return left.m_local_header_ofs < right.m_local_header_ofs; });
    std::uint64_t expected = 0;
    for (size_t i = 0; i < stats.size(); ++i) {
        const mz_zip_archive_file_stat& stat = stats[i];
        unsigned char header[kLocalHeaderSize];
        if (stat.m_local_header_ofs != expected || !bytes.read(expected, header, kLocalHeaderSize) ||
            le32(header) != kLocalHeaderSignature) {
            return "local records not back to back from the first byte";
        }
        const std::uint16_t flags = le16(header + 6);
        const std::uint64_t nameLength = le16(header + 26);
        const std::string name = name_of(zip, stat.m_file_index);
        std::string localName(static_cast<size_t>(nameLength), '\0');
        if (!bytes.read(expected + kLocalHeaderSize, localName.data(), nameLength) || localName != name ||
            le16(header + 8) != stat.m_method || (flags & kDescriptorFlag) != (stat.m_bit_flag & kDescriptorFlag) ||
            ((flags & kDescriptorFlag) == 0 && le32(header + 14) != stat.m_crc32)) {
            return "local record of \"" + name + "\" differs from its central record";
        }
        const std::uint64_t dataStart = expected + kLocalHeaderSize + nameLength + le16(header + 28);
        if (stat.m_comp_size > bytes.size() || dataStart + stat.m_comp_size > directory.offset) {
            return "data of \"" + name + "\" runs into what follows";
        }
        const std::uint64_t dataEnd = dataStart + stat.m_comp_size;
        const std::uint64_t nextRecord = i + 1 < stats.size() ? stats[i + 1].m_local_header_ofs : directory.offset;
        if (nextRecord < dataEnd) return "data of \"" + name + "\" overlaps the next record";
        const std::uint64_t gap = nextRecord - dataEnd;
        if ((flags & kDescriptorFlag) != 0 ? !is_data_descriptor(bytes, dataEnd, gap, stat.m_crc32) : gap != 0) {
            return "unaccounted bytes after \"" + name + "\"";
        }
        expected = nextRecord;
    }
    if (expected != directory.offset) return "unaccounted bytes before the central directory";
    return {};
}

}  // namespace

std::string package_structure_flaw(mz_zip_archive& zip) {
    // The reader skips bytes before an archive found inside a file; nothing may come before ours.
    if (mz_zip_get_archive_file_start_offset(&zip) != 0) return "bytes before the first record";
    const ArchiveBytes bytes(zip);
    CentralDirectory directory;
    std::vector<mz_zip_archive_file_stat> stats;
    std::string flaw = check_end_records(bytes, directory);
    if (flaw.empty() && directory.offset != zip.m_central_directory_file_ofs) flaw = "central directory moved";
    if (flaw.empty()) flaw = check_central_directory(bytes, zip, directory, stats);
    if (flaw.empty()) flaw = check_local_records(bytes, zip, directory, stats);
    return flaw;
}

}  // namespace release
