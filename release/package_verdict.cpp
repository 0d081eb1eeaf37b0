#include "release/package_verdict.h"

#include "release/package_rules.h"
#include "release/package_structure.h"

namespace release {

const char kPackageExtractFailed[] = "Не удалось распаковать обновление";

namespace {

std::string entry_place(std::uint32_t index, const std::string& name) {
    std::string shown;
    // Control bytes and non-ASCII would garble a terminal line; the rules refuse such names anyway.
    for (const unsigned char c : name) {
        if (c >= 0x20 && c < 0x7F) {
            shown.push_back(static_cast<char>(c));
        } else {
            static const char digits[] = "0123456789abcdef";
            shown += "\\x";
            shown.push_back(digits[c >> 4]);
            shown.push_back(digits[c & 0xF]);
        }
    }
    return "entry " + std::to_string(index) + " \"" + shown + "\"";
}

struct InflateState {
    const PackageSink* sink = nullptr;
    std::uint64_t promised = 0;
    std::uint64_t received = 0;
};

size_t receive_inflated(void* opaque, mz_uint64, const void* data, size_t size) {
    auto& state = *static_cast<InflateState*>(opaque);
    // A bomb recorded as small is stopped at its promise, not after it has filled the disk.
    if (size > state.promised - state.received || !(*state.sink)(data, size)) return 0;
    state.received += size;
    return size;
}

}  // namespace

ZipReader::~ZipReader() {
    if (open_) mz_zip_reader_end(&zip_);
}

bool ZipReader::open(FILE* stream, std::uint64_t size) {
    open_ = mz_zip_reader_init_cfile(&zip_, stream, size, 0) != 0;
    return open_;
}

void judge_package_entries(PackageVerdict& verdict, PackageScan scan, PackageRecordReader read, void* context) {
    const bool every = scan == PackageScan::EveryProblem;
    PackageRules rules;
    for (std::uint32_t index = 0; index < verdict.entries; ++index) {
        PackageEntryRecord record;
        if (!read(context, index, record)) {
            verdict.problems.push_back(
                {kPackageCorruptZip, PackageRule::UnreadableRecord, "entry " + std::to_string(index), {}});
        } else {
            PackageEntryVerdict entry = rules.examine(record);
            if (entry.refusal != nullptr) {
                verdict.problems.push_back(
                    {entry.refusal, entry.rule, entry_place(index, record.name), std::move(record.name)});
            } else if (entry.extract) {
                verdict.files.push_back({index, std::move(entry.relativeName), record.uncompressedSize});
            }
        }
        if (!every && !verdict.problems.empty()) return;
    }
    if (!every) {
        if (const char* refusal = rules.first_refusal_at_end()) {
            const PackageRule rule =
                refusal == kPackageMissingFiles ? PackageRule::MissingRequired : PackageRule::FileFolderClash;
            verdict.problems.push_back({refusal, rule, {}, {}});
        }
        return;
    }
    for (const std::string& clash : rules.file_folder_clashes()) {
        verdict.problems.push_back({kPackageBadComposition, PackageRule::FileFolderClash,
                                    "\"" + clash + "\" is both a file and a folder", clash});
    }
    for (const std::string& missing : rules.missing_required()) {
        verdict.problems.push_back({kPackageMissingFiles, PackageRule::MissingRequired, missing, missing});
    }
}

bool judge_package_entry_count(PackageVerdict& verdict, std::uint64_t count) {
    if (const char* refusal = check_package_entry_count(count)) {
        verdict.problems.push_back({refusal, PackageRule::EntryCount, std::to_string(count) + " entries", {}});
        return false;
    }
    verdict.entries = static_cast<std::uint32_t>(count);
    return true;
}

PackageVerdict examine_package(mz_zip_archive& zip, PackageScan scan) {
    PackageVerdict verdict;
    // The count is judged before any record is read, so a huge directory costs nothing.
    if (!judge_package_entry_count(verdict, mz_zip_reader_get_num_files(&zip))) return verdict;
    if (std::string flaw = package_structure_flaw(zip); !flaw.empty()) {
        verdict.problems.push_back({kPackageCorruptZip, PackageRule::Structure, std::move(flaw), {}});
        return verdict;
    }
    const PackageRecordReader read = [](void* context, std::uint32_t index, PackageEntryRecord& record) {
        return read_package_entry(*static_cast<mz_zip_archive*>(context), index, record);
    };
    judge_package_entries(verdict, scan, read, &zip);
    return verdict;
}

bool inflate_package_file(mz_zip_archive& zip, const PackageEntry& file, const PackageSink& sink) {
    InflateState state{&sink, file.size, 0};
    // With flags 0 the reader also checks the length and the CRC-32 once the data ends.
    return mz_zip_reader_extract_to_callback(&zip, file.index, receive_inflated, &state, 0) &&
           state.received == file.size;
}

PackageVerdict judge_package(FILE* stream, std::uint64_t size, PackageScan scan) {
    ZipReader reader;
    if (stream == nullptr || !reader.open(stream, size)) {
        PackageVerdict verdict;
        verdict.problems.push_back({kPackageCorruptZip, PackageRule::Unreadable, {}, {}});
        return verdict;
    }
    PackageVerdict verdict = examine_package(reader.get(), scan);
    if (scan == PackageScan::FirstProblem && !verdict.problems.empty()) return verdict;
    const PackageSink discard = [](const void*, size_t) { return true; };
    for (const PackageEntry& file : verdict.files) {
        if (!inflate_package_file(reader.get(), file, discard)) {
            verdict.problems.push_back({kPackageExtractFailed, PackageRule::DamagedData,
                                        entry_place(file.index, file.relativeName), file.relativeName});
            if (scan == PackageScan::FirstProblem) break;
        }
    }
    return verdict;
}

}  // namespace release
