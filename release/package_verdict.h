#pragma once

// The one verdict on an update package, shared by the installer's extraction, the release tool's
// `check` and `sign`, and the fuzz targets. Free of Windows headers on purpose.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <miniz.h>

#include "release/package_rules.h"

namespace release {

// Ends the ZIP reader when it goes away; declare it after the archive's stream so it ends first.
class ZipReader {
public:
    ZipReader() = default;
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;
    ~ZipReader();

    bool open(FILE* stream, std::uint64_t size);
    mz_zip_archive& get() noexcept { return zip_; }

private:
    mz_zip_archive zip_{};
    bool open_ = false;
};

// One file to write: its index in the central directory, its relative name as it will be written
// ('/' separators) and the uncompressed size its record promises.
struct PackageEntry {
    std::uint32_t index = 0;
    std::string relativeName;
    std::uint64_t size = 0;
};

// One refusal: the installer's message, and for the publisher the rule and where it was found.
struct PackageProblem {
    const char* refusal = nullptr;
    PackageRule rule = PackageRule::None;
    std::string where;  // empty, or "entry N \"name\"", or a description of the flaw
    std::string name;   // the entry's stored name, or the file a folder clash or a missing file names
};

struct PackageVerdict {
    std::vector<PackageProblem> problems;  // empty when the installer accepts the package
    std::vector<PackageEntry> files;       // the files that passed, in central-directory order
    std::uint32_t entries = 0;
};

enum class PackageScan { FirstProblem, EveryProblem };

// Everything that can be judged without inflating: the entry count, the archive's structure and
// every entry's record, then the clashes and the required files. FirstProblem stops at the first
// refusal (the installer); EveryProblem goes on so a publisher sees them all.
PackageVerdict examine_package(mz_zip_archive& zip, PackageScan scan);

// Supplies entry `index`'s record; false when it cannot be read.
using PackageRecordReader = bool (*)(void* context, std::uint32_t index, PackageEntryRecord& record);

// Judges the entry count: false (and the refusal added) when it is out of bounds, else it is set.
bool judge_package_entry_count(PackageVerdict& verdict, std::uint64_t count);

// The entry rules over `verdict.entries` records, then the rules at the end (clashes, required
// files): what examine_package runs once the archive's structure has passed.
void judge_package_entries(PackageVerdict& verdict, PackageScan scan, PackageRecordReader read, void* context);

// The same rules over records not read from an archive (the release tool's pack judges a folder
// before it writes the ZIP), every problem listed. In package_records.cpp, apart, so the installer
// does not carry it.
PackageVerdict judge_package_records(const std::vector<PackageEntryRecord>& records);

// Receives the inflated bytes of one file in order; false stops the inflation.
using PackageSink = std::function<bool(const void* data, size_t size)>;

// Inflates one file into `sink`, stopping as soon as it yields more bytes than its record promises.
// False when the data is damaged, longer or shorter than promised, or its CRC-32 differs.
bool inflate_package_file(mz_zip_archive& zip, const PackageEntry& file, const PackageSink& sink);

// The whole verdict on an archive held in an open stream of `size` bytes: examine_package, then
// every file that passed inflated and thrown away. What the release tool and the fuzz targets run.
PackageVerdict judge_package(FILE* stream, std::uint64_t size, PackageScan scan);

extern const char kPackageExtractFailed[];

}  // namespace release
