#include "release/package.h"

#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "common/long_path.h"
#include "common/unique_handle.h"

namespace {

constexpr char kOutputExists[] = "Папка распаковки уже существует";
constexpr char kReparsePoint[] = "Папка обновления содержит ссылку";
constexpr char kExtractFailed[] = "Не удалось распаковать обновление";

struct FileStreamTraits {
    using type = FILE*;
    static type invalid() noexcept { return nullptr; }
    static void close(type stream) noexcept { std::fclose(stream); }
};
using FileStream = common::UniqueHandle<FileStreamTraits>;

// Ends the reader when it goes away; declared after the archive's stream so it ends first.
class ZipReader {
public:
    ZipReader() = default;
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;
    ~ZipReader() {
        if (open_) mz_zip_reader_end(&zip_);
    }

    bool open(FILE* stream, std::uint64_t size) {
        open_ = mz_zip_reader_init_cfile(&zip_, stream, size, 0) != 0;
        return open_;
    }
    mz_zip_archive& get() noexcept { return zip_; }

private:
    mz_zip_archive zip_{};
    bool open_ = false;
};

struct PackageEntry {
    std::uint32_t index = 0;
    std::filesystem::path relative;
};

// Names that passed the path rule are ASCII: widening each byte is the whole conversion.
std::filesystem::path path_from_ascii(const std::string& name) { return std::wstring(name.begin(), name.end()); }

[[noreturn]] void refuse(const char* message) { throw std::runtime_error(message); }

// Every entry is examined from the central directory before any data is inflated.
std::vector<PackageEntry> examine_entries(mz_zip_archive& zip) {
    const mz_uint count = mz_zip_reader_get_num_files(&zip);
    if (const char* refusal = check_package_entry_count(count)) refuse(refusal);

    PackageRules rules;
    std::vector<PackageEntry> entries;
    for (mz_uint index = 0; index < count; ++index) {
        PackageEntryRecord record;
        if (!read_package_entry(zip, index, record)) refuse(kPackageCorruptZip);
        PackageEntryVerdict verdict = rules.examine(record);
        if (verdict.refusal != nullptr) refuse(verdict.refusal);
        if (verdict.extract) entries.push_back({index, path_from_ascii(verdict.relativeName)});
    }
    if (const char* refusal = rules.first_missing_required()) refuse(refusal);
    return entries;
}

void extract_entry(mz_zip_archive& zip, const PackageEntry& entry, const std::filesystem::path& output) {
    // A package may nest its files past MAX_PATH; the extended form also turns each '/' into a backslash.
    const std::filesystem::path target = common::extended_length_path(output / entry.relative);
    std::filesystem::create_directories(target.parent_path());
    FileStream stream(_wfopen(target.c_str(), L"wb"));
    if (!stream || !mz_zip_reader_extract_to_cfile(&zip, entry.index, stream.get(), 0)) {
        refuse(kExtractFailed);
    }
    // Buffered bytes reach the disk at fclose: a full disk shows up here, not as a short file.
    if (std::fclose(stream.release()) != 0) {
        refuse(kExtractFailed);
    }
}

}  // namespace

bool is_allowed_package_path(const std::filesystem::path& relative) {
    std::string name;
    for (const wchar_t c : relative.native()) {
        if (c > 0x7F) return false;
        name.push_back(static_cast<char>(c));
    }
    return is_allowed_package_name(name);
}

void ensure_no_reparse_points(const std::filesystem::path& folder) {
    const std::filesystem::path absolute = std::filesystem::absolute(folder);
    // The bare drive ("C:") is not tested on its own: Windows reads it as that drive's current
    // folder, which says nothing about this path.
    std::filesystem::path prefix = absolute.root_name();
    const auto check = [&] {
        const DWORD attributes = GetFileAttributesW(prefix.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            refuse(kReparsePoint);
        }
    };
    prefix /= absolute.root_directory();
    check();
    for (const auto& element : absolute.relative_path()) {
        if (element.empty()) continue;
        prefix /= element;
        check();
    }
}

void extract_update_package(const std::filesystem::path& archive, const std::filesystem::path& output) {
    if (std::filesystem::exists(output)) refuse(kOutputExists);
    ensure_no_reparse_points(output);

    FileStream archiveStream(_wfopen(common::extended_length_path(archive).c_str(), L"rb"));
    if (!archiveStream) refuse(kPackageCorruptZip);
    std::error_code sizeError;
    const std::uint64_t archiveSize = std::filesystem::file_size(archive, sizeError);
    ZipReader reader;
    if (sizeError || !reader.open(archiveStream.get(), archiveSize)) refuse(kPackageCorruptZip);

    const std::vector<PackageEntry> entries = examine_entries(reader.get());
    std::filesystem::create_directories(common::extended_length_path(output));
    for (const PackageEntry& entry : entries) {
        extract_entry(reader.get(), entry, output);
    }
}
