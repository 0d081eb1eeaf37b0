#include "tools/pack.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <system_error>

#include <miniz.h>

#include "common/launcher_names.h"
#include "release/manifest_rules.h"
#include "release/package_verdict.h"
#include "tools/files.h"
#include "tools/package_check.h"

namespace tools {

namespace fs = std::filesystem;

namespace {

// 1980-01-01 00:00:00 UTC, the first moment a ZIP's DOS time can hold.
constexpr MZ_TIME_T kEntryTime = 315'532'800;

struct FolderFile {
    std::string name;  // "KORLAUNCHER/..." with '/' separators
    fs::path path;
};

std::vector<FolderFile> list_files(const fs::path& folder, std::vector<std::string>& problems) {
    std::vector<FolderFile> files;
    // The iterator does not descend into linked folders; each link is reported instead.
    for (auto walk = fs::recursive_directory_iterator(folder); walk != fs::recursive_directory_iterator(); ++walk) {
        const fs::file_status status = walk->symlink_status();
        const std::string relative = walk->path().lexically_relative(folder).generic_string();
        if (fs::is_symlink(status)) {
            problems.push_back(walk->path().string() +
                               ": a symbolic link; pack follows no link (put the file or folder itself there)");
        } else if (fs::is_regular_file(status)) {
            files.push_back({std::string(release::kPackageTopFolder) + relative, walk->path()});
        } else if (!fs::is_directory(status)) {
            problems.push_back(walk->path().string() + ": neither a file nor a folder");
        }
    }
    std::sort(files.begin(), files.end(), [](const FolderFile& a, const FolderFile& b) { return a.name < b.name; });
    return files;
}

void judge_before_writing(const fs::path& folder, const std::vector<FolderFile>& files,
                          std::vector<std::string>& problems) {
    std::vector<release::PackageEntryRecord> records;
    for (const FolderFile& file : files) {
        release::PackageEntryRecord record;
        record.name = file.name;
        record.isSupported = true;
        record.uncompressedSize = fs::file_size(file.path);
        records.push_back(std::move(record));
    }
    for (std::string& line : describe_package_problems(release::judge_package_records(records))) {
        problems.push_back(std::move(line));
    }
    // The usual slip: the folder above the launcher's, so every name gets a second top folder.
    if (!problems.empty() && fs::is_directory(folder / "KORLAUNCHER") &&
        !fs::exists(folder / common::kLauncherExecutableUtf8)) {
        problems.push_back("give the folder that holds " + std::string(common::kLauncherExecutableUtf8) + " (" +
                           (folder / "KORLAUNCHER").string() + "): its contents become the package's KORLAUNCHER/");
    }
}

void write_archive(const std::vector<FolderFile>& files, TemporaryFile& temporary) {
    // miniz turns the entry time into a DOS time through the local time zone; the package must not
    // depend on where it is made.
    setenv("TZ", "UTC0", 1);
    tzset();
    const auto closeFile = [](FILE* stream) { std::fclose(stream); };
    std::unique_ptr<FILE, decltype(closeFile)> stream(fdopen(dup(temporary.descriptor()), "wb"), closeFile);
    mz_zip_archive zip{};
    if (stream == nullptr || !mz_zip_writer_init_cfile(&zip, stream.get(), 0)) {
        throw std::runtime_error("cannot write " + temporary.path().string());
    }
    bool written = true;
    for (const FolderFile& file : files) {
        const std::string data = read_text_file(file.path);
        MZ_TIME_T time = kEntryTime;
        written = written && mz_zip_writer_add_mem_ex_v2(&zip, file.name.c_str(), data.data(), data.size(), nullptr, 0,
                                                         MZ_DEFAULT_LEVEL, 0, 0, &time, nullptr, 0, nullptr, 0);
    }
    written = written && mz_zip_writer_finalize_archive(&zip);
    written = mz_zip_writer_end(&zip) && written;
    written = std::fflush(stream.get()) == 0 && written;
    if (!written) throw std::runtime_error("cannot write the package " + temporary.path().string());
}

// The installer's whole verdict on the written archive: structure, records and every file inflated.
void judge_after_writing(const fs::path& archive) {
    const PackageReport report = check_package(archive);
    if (!report.problems.empty()) {
        throw Refusal("the written package fails the installer's check; nothing was written", report.problems);
    }
    const std::uint64_t size = fs::file_size(archive);
    if (!release::is_allowed_release_size(size)) {
        throw std::runtime_error("the package would be " + std::to_string(size) +
                                 " bytes; the installer downloads at most " +
                                 std::to_string(release::kMaximumReleaseSize) +
                                 " (players would see \"Некорректные данные обновления\"); nothing was written");
    }
}

}  // namespace

PackSummary pack_launcher_folder(const fs::path& folder, const fs::path& output) {
    const fs::file_status status = fs::symlink_status(folder);
    if (!fs::is_directory(status)) {
        throw std::runtime_error("launcher folder " + folder.string() +
                                 (fs::exists(status) ? ": not a folder" : ": no such folder"));
    }
    std::error_code error;
    const fs::path outputFolder = fs::weakly_canonical(fs::absolute(output).parent_path(), error);
    const fs::path root = fs::canonical(folder);
    const auto [inRoot, inOutput] = std::mismatch(root.begin(), root.end(), outputFolder.begin(), outputFolder.end());
    if (!error && inRoot == root.end()) {
        throw std::runtime_error("the output " + output.string() + " lies inside the folder being packed");
    }

    std::vector<std::string> problems;
    const std::vector<FolderFile> files = list_files(folder, problems);
    if (problems.empty()) judge_before_writing(folder, files, problems);
    if (!problems.empty()) {
        throw Refusal("the installer would refuse this folder as a package; nothing was written", problems);
    }

    TemporaryFile temporary(output);
    write_archive(files, temporary);
    temporary.close();
    judge_after_writing(temporary.path());
    PackSummary summary{static_cast<std::uint32_t>(files.size()), fs::file_size(temporary.path())};
    temporary.commit(0644);
    return summary;
}

}  // namespace tools
