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
inline constexpr std::string_view kPackageTopFolder = "KORLAUNCHER/";
inline constexpr std::uint64_t kMaximumPackageFileSize = 268'435'456;
inline constexpr std::uint64_t kMaximumPackageTotalSize = 536'870'912;

// The files every package holds, below the top folder, lower-cased as they are compared.
inline constexpr std::string_view kRequiredPackageFiles[] = {
    "korlauncher.exe",           "launcher.json",
    "shaders/ui.vert.spv",       "shaders/ui.frag.spv",
    "assets/fonts/regular.json", "assets/fonts/regular.png",
};

// Which rule a refusal applies. The installer shows only the refusal's message; the release tool
// explains the rule to the publisher, so each refusal carries the rule that decided it.
enum class PackageRule : std::uint8_t {
    None,
    Unreadable,        // not a ZIP the reader can open
    EntryCount,        // no entry, or more than kMaximumPackageEntries
    Structure,         // bytes the archive's own records do not account for
    UnreadableRecord,  // a central-directory record the reader cannot read
    Encrypted,
    UnsupportedMethod,  // neither stored nor deflated
    SymbolicLink,
    OutsideTopFolder,    // not below "KORLAUNCHER/"
    EmptyName,           // nothing after the top folder, or a leading separator
    NameTooLong,         // over 4096 bytes
    BadCharacter,        // outside letters, digits, '_', '.', '-', '/' and '\'
    EmptyElement,        // a trailing separator
    ElementTooLong,      // an element over 255 bytes
    ElementEndsWithDot,  // ".", ".." or "name."
    DeviceName,          // CON, PRN, AUX, NUL, COM1-9, LPT1-9
    NotAnAllowedPlace,   // a file other than the executable, launcher.json, assets/..., shaders/...
    DuplicateName,       // the same written name, letter case aside, twice
    FileTooLarge,
    TotalTooLarge,
    FileFolderClash,  // "assets/x" and "assets/x/y"
    MissingRequired,
    DamagedData,  // the data does not inflate to the recorded size and CRC-32
};

// The path rule on a relative name below "KORLAUNCHER/" (a backslash counts as '/'): the first rule
// the name breaks, or PackageRule::None.
PackageRule package_name_flaw(std::string_view name);
inline bool is_allowed_package_name(std::string_view name) {
    return package_name_flaw(name) == PackageRule::None;
}

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
    PackageRule rule = PackageRule::None;
    bool extract = false;
    std::string relativeName;
};

// Messages shared by the installer and the release tool.
extern const char kPackageCorruptZip[];
extern const char kPackageBadComposition[];
extern const char kPackageMissingFiles[];

// Null when the archive may hold this many entries, else the refusal (PackageRule::EntryCount).
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
    // The rule the entry breaks, or None; for a file to extract, fills `verdict`'s name and flag.
    PackageRule judge(const PackageEntryRecord& entry, PackageEntryVerdict& verdict);

    std::set<std::string> names_;  // lower-cased written names, with '/' as a low byte (see the .cpp)
    std::uint64_t total_ = 0;
};

}  // namespace release
