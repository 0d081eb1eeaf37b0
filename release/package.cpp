#include "release/package.h"

#include <windows.h>

#include <cstdio>
#include <stdexcept>

#include "common/cancellation.h"
#include "common/long_path.h"
#include "common/support_log.h"
#include "common/unique_handle.h"
#include "release/package_verdict.h"

namespace release {

namespace {

constexpr char kOutputExists[] = "Папка распаковки уже существует";
constexpr char kReparsePoint[] = "Папка обновления содержит ссылку";

using FileStream = common::UniqueAny<FILE*, std::fclose>;

// Names that passed the path rule are ASCII: widening each byte is the whole conversion. Written
// with backslashes, which an extended-length ("\\?\") path requires.
std::filesystem::path path_from_ascii(const std::string& name) {
    std::wstring wide(name.begin(), name.end());
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    return wide;
}

// The rule's name in the support log, spelt as the release tool's `check` explains it.
const char* rule_name(PackageRule rule) {
    switch (rule) {
    case PackageRule::None:
        return "none";
    case PackageRule::Unreadable:
        return "unreadable archive";
    case PackageRule::EntryCount:
        return "entry count";
    case PackageRule::Structure:
        return "archive structure";
    case PackageRule::UnreadableRecord:
        return "unreadable record";
    case PackageRule::Encrypted:
        return "encrypted entry";
    case PackageRule::UnsupportedMethod:
        return "compression method";
    case PackageRule::SymbolicLink:
        return "symbolic link";
    case PackageRule::OutsideTopFolder:
        return "outside KORLAUNCHER/";
    case PackageRule::EmptyName:
        return "empty name";
    case PackageRule::NameTooLong:
        return "path too long";
    case PackageRule::BadCharacter:
        return "character not allowed";
    case PackageRule::EmptyElement:
        return "empty name element";
    case PackageRule::ElementTooLong:
        return "name too long";
    case PackageRule::ElementEndsWithDot:
        return "name ends with a dot";
    case PackageRule::DeviceName:
        return "device name";
    case PackageRule::NotAnAllowedPlace:
        return "not an allowed place";
    case PackageRule::DuplicateName:
        return "name twice";
    case PackageRule::FileTooLarge:
        return "file too large";
    case PackageRule::TotalTooLarge:
        return "files too large together";
    case PackageRule::FileFolderClash:
        return "file and folder clash";
    case PackageRule::MissingRequired:
        return "required file missing";
    case PackageRule::DamagedData:
        return "damaged data";
    }
    return "unknown";
}

[[noreturn]] void refuse(const char* message) {
    throw std::runtime_error(message);
}

void extract_file(mz_zip_archive& zip, const PackageEntry& file, const std::filesystem::path& output,
                  const std::atomic<bool>* cancel) {
    // A package may nest its files past MAX_PATH; the extended form also turns each '/' into a backslash.
    const std::filesystem::path target = common::extended_length_path(output / path_from_ascii(file.relativeName));
    std::filesystem::create_directories(target.parent_path());
    FileStream stream(_wfopen(target.c_str(), L"wb"));
    // A file may inflate to hundreds of MiB: the flag is looked at with every chunk. No exception
    // may cross the library's C frames, so a cancel stops the inflation and is reported after it.
    const PackageSink write = [&](const void* data, size_t size) {
        return !(cancel != nullptr && cancel->load()) && std::fwrite(data, 1, size, stream.get()) == size;
    };
    if (!stream || !inflate_package_file(zip, file, write)) {
        common::throw_if_cancelled(cancel, common::kInstallCancelled);
        common::support_log("package", "entry ", file.index, " \"", file.relativeName,
                            "\": ", stream ? "its data is damaged (size or CRC-32)" : "cannot be created", ": ",
                            kPackageExtractFailed);
        refuse(kPackageExtractFailed);
    }
    // Buffered bytes reach the disk at fclose: a full disk shows up here, not as a short file.
    if (std::fclose(stream.release()) != 0) {
        common::support_log("package", "entry ", file.index, " \"", file.relativeName,
                            "\": cannot be written: ", kPackageExtractFailed);
        refuse(kPackageExtractFailed);
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

void extract_update_package(const std::filesystem::path& archive, const std::filesystem::path& output,
                            const std::atomic<bool>* cancel) {
    if (std::filesystem::exists(output)) refuse(kOutputExists);
    ensure_no_reparse_points(output);

    FileStream archiveStream(_wfopen(common::extended_length_path(archive).c_str(), L"rb"));
    std::error_code sizeError;
    const std::uint64_t archiveSize = std::filesystem::file_size(archive, sizeError);
    ZipReader reader;
    if (!archiveStream || sizeError || !reader.open(archiveStream.get(), archiveSize)) {
        common::support_log("package", "refused: not a ZIP the reader can open: ", kPackageCorruptZip);
        refuse(kPackageCorruptZip);
    }

    // The same verdict as the release tool's: every entry is judged from the central directory
    // before anything is written; sizes and CRCs are checked as each file is inflated.
    const PackageVerdict verdict = examine_package(reader.get(), PackageScan::FirstProblem);
    if (!verdict.problems.empty()) {
        const PackageProblem& problem = verdict.problems.front();
        const std::string& where = !problem.where.empty() ? problem.where : problem.name;
        common::support_log("package", "refused: ", where.empty() ? std::string("the package") : where,
                            " breaks the rule \"", rule_name(problem.rule), "\": ", problem.refusal);
        refuse(problem.refusal);
    }
    common::support_log("package", "accepted: ", verdict.entries, " entries, ", verdict.files.size(), " files");
    std::filesystem::create_directories(common::extended_length_path(output));
    for (const PackageEntry& file : verdict.files) {
        common::throw_if_cancelled(cancel, common::kInstallCancelled);
        extract_file(reader.get(), file, output, cancel);
    }
}

}  // namespace release
