#include "release/package_rules.h"

#include <iterator>

#include "common/launcher_names.h"

namespace release {

const char kPackageCorruptZip[] = "Повреждён ZIP обновления";
const char kPackageBadComposition[] = "Некорректный состав обновления";
const char kPackageMissingFiles[] = "В обновлении отсутствуют файлы лаунчера";

namespace {

constexpr char kInvalidFile[] = "Недопустимый файл обновления";
constexpr char kInvalidFolder[] = "Недопустимая папка обновления";
constexpr char kInvalidPath[] = "Недопустимый путь обновления";

constexpr std::uint32_t kUnixFileTypeMask = 0xF000;
constexpr std::uint32_t kUnixSymbolicLink = 0xA000;
// Windows refuses a path element longer than 255 UTF-16 units (the names here are ASCII, one unit
// per byte). The whole relative name is bounded so that the output folder, even deep inside a long
// install folder, still fits the 32,767 units an extended-length ("\\?\") path can hold.
constexpr size_t kMaximumElementLength = 255;
constexpr size_t kMaximumNameLength = 4096;
// In the keys of the name set '/' is replaced by a byte below every allowed character, so that the
// names inside a folder sort right after a file of the folder's name.
constexpr char kKeySeparator = '\x01';

bool is_allowed_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
           c == '/' || c == '-' || c == '\\';
}

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string lower_ascii(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

// Windows opens a device instead of a file for these names in any folder and whatever follows the
// first dot: an entry so named would be "extracted" into the device and silently missing.
bool is_device_name(std::string_view element) {
    const std::string stem = lower_ascii(element.substr(0, element.find('.')));
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") {
        return true;
    }
    return stem.size() == 4 && (starts_with(stem, "com") || starts_with(stem, "lpt")) && stem[3] >= '1' &&
           stem[3] <= '9';
}

std::string name_key(std::string_view written) {
    std::string key = lower_ascii(written);
    for (char& c : key) {
        if (c == '/') c = kKeySeparator;
    }
    return key;
}

std::string name_from_key(std::string_view key) {
    std::string name(key);
    for (char& c : name) {
        if (c == kKeySeparator) c = '/';
    }
    return name;
}

}  // namespace

std::string normalised_package_name(std::string_view name) {
    std::string written;
    written.reserve(name.size());
    for (const char c : name) {
        if (!is_separator(c)) {
            written.push_back(c);
        } else if (written.empty() || written.back() != '/') {
            written.push_back('/');
        }
    }
    return written;
}

PackageRule package_name_flaw(std::string_view name) {
    // A leading separator makes the name absolute; a drive or UNC prefix needs ':' or fails below.
    if (name.empty() || is_separator(name.front())) {
        return PackageRule::EmptyName;
    }
    if (name.size() > kMaximumNameLength) {
        return PackageRule::NameTooLong;
    }
    std::string generic;
    generic.reserve(name.size());
    for (char c : name) {
        if (!is_allowed_character(c)) {
            return PackageRule::BadCharacter;
        }
        generic.push_back(is_separator(c) ? '/' : c);
    }
    // Elements: a run of separators is one separator; a trailing one leaves an empty final element.
    size_t start = 0;
    while (true) {
        const size_t end = generic.find('/', start);
        const std::string_view element = std::string_view(generic).substr(start, end - start);
        if (element.empty()) return PackageRule::EmptyElement;
        if (element.size() > kMaximumElementLength) return PackageRule::ElementTooLong;
        if (element.back() == '.') return PackageRule::ElementEndsWithDot;
        if (is_device_name(element)) return PackageRule::DeviceName;
        if (end == std::string::npos) {
            break;
        }
        start = generic.find_first_not_of('/', end);
        if (start == std::string::npos) {
            return PackageRule::EmptyElement;
        }
    }
    const bool allowedPlace = generic == common::kLauncherExecutableUtf8 || generic == "launcher.json" ||
                              starts_with(generic, "assets/") || starts_with(generic, "shaders/");
    return allowedPlace ? PackageRule::None : PackageRule::NotAnAllowedPlace;
}

bool read_package_entry(mz_zip_archive& zip, std::uint32_t index, PackageEntryRecord& record) {
    mz_zip_archive_file_stat stat{};
    if (!mz_zip_reader_file_stat(&zip, index, &stat)) {
        return false;
    }
    // The record's name field holds at most 511 bytes; a longer stored name would be judged (and
    // written) by a prefix of itself, so the whole name is read separately.
    const mz_uint length = mz_zip_reader_get_filename(&zip, index, nullptr, 0);
    if (length == 0) {
        return false;
    }
    std::string name(length, '\0');
    mz_zip_reader_get_filename(&zip, index, name.data(), length);
    name.resize(length - 1);  // keeps embedded zero bytes, which the path rule then refuses
    record.name = std::move(name);
    record.isDirectory = stat.m_is_directory != 0;
    record.isEncrypted = stat.m_is_encrypted != 0;
    record.isSupported = stat.m_is_supported != 0;
    record.externalAttributes = stat.m_external_attr;
    record.uncompressedSize = stat.m_uncomp_size;
    return true;
}

const char* check_package_entry_count(std::uint64_t count) {
    return count == 0 || count > kMaximumPackageEntries ? kPackageBadComposition : nullptr;
}

PackageEntryVerdict PackageRules::examine(const PackageEntryRecord& entry) {
    PackageEntryVerdict verdict;
    verdict.rule = judge(entry, verdict);
    switch (verdict.rule) {
    case PackageRule::None:
        break;
    case PackageRule::Encrypted:
    case PackageRule::UnsupportedMethod:
    case PackageRule::SymbolicLink:
    case PackageRule::OutsideTopFolder:
        verdict.refusal = kInvalidFile;
        break;
    case PackageRule::DuplicateName:
    case PackageRule::FileTooLarge:
    case PackageRule::TotalTooLarge:
        verdict.refusal = kPackageBadComposition;
        break;
    default:
        verdict.refusal = entry.isDirectory ? kInvalidFolder : kInvalidPath;
        break;  // the path rule
    }
    return verdict;
}

PackageRule PackageRules::judge(const PackageEntryRecord& entry, PackageEntryVerdict& verdict) {
    const bool symbolicLink = ((entry.externalAttributes >> 16) & kUnixFileTypeMask) == kUnixSymbolicLink;
    if (entry.isEncrypted) return PackageRule::Encrypted;
    if (!entry.isSupported) return PackageRule::UnsupportedMethod;
    if (symbolicLink) return PackageRule::SymbolicLink;
    if (!starts_with(entry.name, kPackageTopFolder)) return PackageRule::OutsideTopFolder;
    std::string_view relative = std::string_view(entry.name).substr(kPackageTopFolder.size());

    if (entry.isDirectory) {
        if (relative.empty()) {
            return PackageRule::None;
        }
        if (relative.back() == '/') {
            relative.remove_suffix(1);
        }
        return relative == "assets" || relative == "shaders" ? PackageRule::None : package_name_flaw(relative);
    }

    if (const PackageRule flaw = package_name_flaw(relative); flaw != PackageRule::None) return flaw;
    // Judged as it will be written: "assets\\a" and "assets//a" are the file "assets/a".
    std::string written = normalised_package_name(relative);
    if (!names_.insert(name_key(written)).second) return PackageRule::DuplicateName;
    if (entry.uncompressedSize > kMaximumPackageFileSize) return PackageRule::FileTooLarge;
    total_ += entry.uncompressedSize;
    if (total_ > kMaximumPackageTotalSize) return PackageRule::TotalTooLarge;
    verdict.extract = true;
    verdict.relativeName = std::move(written);
    return PackageRule::None;
}

std::vector<std::string> PackageRules::file_folder_clashes() const {
    // Keys sort with the separator below every other character, so whatever lies inside a folder
    // named like a file comes right after that file.
    std::vector<std::string> clashes;
    for (auto key = names_.begin(); key != names_.end(); ++key) {
        const auto next = std::next(key);
        if (next != names_.end() && next->size() > key->size() && starts_with(*next, *key) &&
            (*next)[key->size()] == kKeySeparator) {
            clashes.push_back(name_from_key(*key));
        }
    }
    return clashes;
}

const char* PackageRules::first_refusal_at_end() const {
    if (!file_folder_clashes().empty()) return kPackageBadComposition;
    return missing_required().empty() ? nullptr : kPackageMissingFiles;
}

std::vector<std::string> PackageRules::missing_required() const {
    std::vector<std::string> missing;
    for (const std::string_view required : kRequiredPackageFiles) {
        if (names_.count(name_key(required)) == 0) {
            missing.emplace_back(required);
        }
    }
    return missing;
}

}  // namespace release
