#include "tools/package_check.h"

#include <cstdio>
#include <memory>

#include "release/package_verdict.h"

namespace tools {

PackageReport check_package(const std::filesystem::path& archive) {
    PackageReport report;
    std::error_code sizeError;
    const std::uint64_t size = std::filesystem::file_size(archive, sizeError);
    const auto closeFile = [](FILE* stream) { std::fclose(stream); };
    std::unique_ptr<FILE, decltype(closeFile)> stream(sizeError ? nullptr : std::fopen(archive.c_str(), "rb"),
                                                      closeFile);
    // The installer's own verdict, every file inflated, going on past the first problem.
    const release::PackageVerdict verdict =
        release::judge_package(stream.get(), size, release::PackageScan::EveryProblem);
    for (const release::PackageProblem& problem : verdict.problems) {
        if (problem.where.empty()) {
            report.problems.push_back(problem.refusal);
        } else if (problem.where.rfind("entry ", 0) == 0) {
            report.problems.push_back(problem.where + ": " + problem.refusal);
        } else {
            report.problems.push_back(std::string(problem.refusal) + ": " + problem.where);
        }
    }
    report.entries = verdict.entries;
    report.files = static_cast<std::uint32_t>(verdict.files.size());
    return report;
}

}  // namespace tools
