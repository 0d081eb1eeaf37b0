#pragma once

// The update package's layout rules, applied entry by entry from the ZIP's central directory.
// Free of Windows headers on purpose: the publisher's release tool compiles this same file on Linux
// for its `check` command, so the tool reports exactly what the installer would refuse.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <miniz.h>

namespace release {

inline constexpr std::uint32_t kMaximumPackageEntries = 2048;

// The path rule on a relative name below "KORLAUNCHER/"; a backslash counts as '/'.
bool is_allowed_package_name(std::string_view name);

// The name as it is written to disk: every backslash a '/', every run of separators one '/'.
std::string normalised_package_name(std::string_view name);

// What the checks need to know about one central-directory entry.
struct PackageEntryRecord {
    std::string name;  // the whole stored name, never cut short
    bool isDirectory = false;
    bool isEncrypted = false;
    bool isSupported = false;
    std::uint32_t externalAttributes = 0;
    std::uint64_t uncompressedSize = 0;
};

// Reads entry `index` from an initialised reader; false when its record cannot be read.
bool read_package_entry(mz_zip_archive& zip, std::uint32_t index, PackageEntryRecord& record);

// The verdict on one entry: `refusal` is null when the entry passed; `extract` is set for a file
// entry, whose relative name as it will be written is then in `relativeName`.
struct PackageEntryVerdict {
    const char* refusal = nullptr;
    bool extract = false;
    std::string relativeName;
};

// Messages shared by the installer and the release tool.
extern const char kPackageCorruptZip[];
extern const char kPackageBadComposition[];
extern const char kPackageMissingFiles[];

// Null when the archive may hold this many entries, else the refusal.
const char* check_package_entry_count(std::uint64_t count);

// Accumulates the name set and the running total over the entries of one archive, in
// central-directory order.
class PackageRules {
public:
    PackageEntryVerdict examine(const PackageEntryRecord& entry);

    // Once every entry has been examined: the refusal for a file that is also a folder, then for a
    // missing required file; null when neither applies.
    const char* first_refusal_at_end() const;
    // Files that other files are placed inside (as "assets/x" and "assets/x/y"), lower-cased.
    std::vector<std::string> file_folder_clashes() const;
    // Every required file that no file entry supplied, in the listed order.
    std::vector<std::string> missing_required() const;

private:
    std::set<std::string> names_;  // lower-cased written names, with '/' as a low byte (see the .cpp)
    std::uint64_t total_ = 0;
};

}  // namespace release
