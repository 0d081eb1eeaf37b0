#include "tools/package_check.h"

#include <cstdio>
#include <memory>

#include "release/package_rules.h"

namespace {

constexpr char kMissingFiles[] = "В обновлении отсутствуют файлы лаунчера";

// Control bytes and non-ASCII would garble a terminal line; the rules refuse such names anyway.
std::string printable(const std::string& name) {
    std::string shown;
    for (const unsigned char c : name) {
        if (c >= 0x20 && c < 0x7F) {
            shown.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        }
    }
    return shown;
}

}  // namespace

PackageReport check_package(const std::filesystem::path& archive) {
    PackageReport report;
    std::error_code sizeError;
    const std::uint64_t size = std::filesystem::file_size(archive, sizeError);
    const auto closeFile = [](FILE* stream) { std::fclose(stream); };
    std::unique_ptr<FILE, decltype(closeFile)> stream(std::fopen(archive.c_str(), "rb"), closeFile);
    mz_zip_archive zip{};
    if (sizeError || stream == nullptr || !mz_zip_reader_init_cfile(&zip, stream.get(), size, 0)) {
        report.problems.push_back(kPackageCorruptZip);
        return report;
    }
    const auto endReader = [](mz_zip_archive* reader) { mz_zip_reader_end(reader); };
    std::unique_ptr<mz_zip_archive, decltype(endReader)> reader(&zip, endReader);

    report.entries = mz_zip_reader_get_num_files(&zip);
    if (const char* refusal = check_package_entry_count(report.entries)) {
        report.problems.push_back(std::string(refusal) + " (" + std::to_string(report.entries) + " entries)");
    }
    PackageRules rules;
    for (std::uint32_t index = 0; index < report.entries; ++index) {
        PackageEntryRecord record;
        if (!read_package_entry(zip, index, record)) {
            report.problems.push_back("entry " + std::to_string(index) + ": " + kPackageCorruptZip);
            continue;
        }
        const PackageEntryVerdict verdict = rules.examine(record);
        if (verdict.refusal != nullptr) {
            report.problems.push_back("entry " + std::to_string(index) + " \"" + printable(record.name) +
                                      "\": " + verdict.refusal);
        } else if (verdict.extract) {
            ++report.files;
        }
    }
    for (const std::string& missing : rules.missing_required()) {
        report.problems.push_back(std::string(kMissingFiles) + ": " + missing);
    }
    return report;
}
