#include "tools/package_check.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "common/launcher_names.h"
#include "release/package_rules.h"
#include "tools/file_kind.h"

namespace tools {

namespace {

using release::PackageRule;

std::string lower_ascii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// A required file as it must be spelt in the archive.
std::string spelt_required(std::string_view required) {
    const std::string relative =
        required == "korlauncher.exe" ? common::kLauncherExecutableUtf8 : std::string(required);
    return std::string(release::kPackageTopFolder) + relative;
}

// The required file an entry was meant to be when only its letter case (or separators) differ.
std::string meant_required(const std::string& storedName) {
    const std::string lowered = lower_ascii(release::normalised_package_name(storedName));
    for (const std::string_view required : release::kRequiredPackageFiles) {
        const std::string spelt = spelt_required(required);
        if (lower_ascii(spelt) == lowered && spelt != storedName) return spelt;
    }
    return {};
}

char first_bad_character(const std::string& name) {
    for (const char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                             c == '.' || c == '/' || c == '-' || c == '\\';
        if (!allowed) return c;
    }
    return '?';
}

std::string shown_character(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == ' ') return "a space";
    if (byte >= 0x21 && byte < 0x7F) return std::string("'") + c + "'";
    static const char digits[] = "0123456789abcdef";
    return std::string("the byte 0x") + digits[byte >> 4] + digits[byte & 0xF] +
           (byte >= 0x80 ? " (names are plain ASCII)" : "");
}

bool is_folder_refusal(const release::PackageProblem& problem) {
    return !problem.name.empty() && problem.name.back() == '/' && problem.rule != PackageRule::OutsideTopFolder;
}

std::string rule_text(const release::PackageProblem& problem) {
    switch (problem.rule) {
    case PackageRule::None:
        return "refused";
    case PackageRule::Unreadable:
        return "not a ZIP archive the installer can read";
    case PackageRule::EntryCount:
        return "a package holds 1 to 2048 entries, files and folders together";
    case PackageRule::Structure:
        return "the archive must be one plain ZIP with every byte accounted for by its own records (no "
               "joined archives, nothing before the first record); make it with `korvane-release pack`";
    case PackageRule::UnreadableRecord:
        return "its central-directory record cannot be read";
    case PackageRule::Encrypted:
        return "entries may not be encrypted";
    case PackageRule::UnsupportedMethod:
        return "entries are stored or deflated, no other compression method";
    case PackageRule::SymbolicLink:
        return "symbolic links are refused: put the file itself in the package";
    case PackageRule::OutsideTopFolder:
        return "every entry lies under the top folder \"KORLAUNCHER/\" (exactly, in capitals)";
    case PackageRule::EmptyName:
        return "the name after \"KORLAUNCHER/\" is empty or begins with a separator";
    case PackageRule::NameTooLong:
        return "a name is at most 4096 characters";
    case PackageRule::BadCharacter:
        return shown_character(first_bad_character(problem.name)) +
               " is not allowed: names use only the letters A-Z and a-z, the digits, '_', '.', '-' and '/'";
    case PackageRule::EmptyElement:
        return "the name ends with a separator";
    case PackageRule::ElementTooLong:
        return "a folder or file name is at most 255 characters";
    case PackageRule::ElementEndsWithDot:
        return "no folder or file name may end with '.' (so no \".\" or \"..\")";
    case PackageRule::DeviceName:
        return "CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 (with any extension) are devices on Windows";
    case PackageRule::NotAnAllowedPlace:
        return is_folder_refusal(problem)
                   ? "folders go only below \"KORLAUNCHER/assets/\" and \"KORLAUNCHER/shaders/\" (exact case)"
                   : "files go only at \"KORLAUNCHER/KORLAUNCHER.exe\", \"KORLAUNCHER/launcher.json\" and below "
                     "\"KORLAUNCHER/assets/\" or \"KORLAUNCHER/shaders/\" (exact case)";
    case PackageRule::DuplicateName:
        return "an earlier file has the same name, letter case and separators aside (Windows would write "
               "both to one file)";
    case PackageRule::FileTooLarge:
        return "one file is at most 268,435,456 bytes (256 MiB)";
    case PackageRule::TotalTooLarge:
        return "the files together are at most 536,870,912 bytes (512 MiB)";
    case PackageRule::FileFolderClash:
        return "a name cannot be both a file and a folder";
    case PackageRule::MissingRequired:
        return "every package holds the six required files";
    case PackageRule::DamagedData:
        return "its data does not inflate to the size and CRC-32 its record gives (a damaged archive)";
    }
    return "refused";
}

std::string place_of(const release::PackageProblem& problem) {
    if (problem.rule == PackageRule::MissingRequired) return "missing \"" + spelt_required(problem.name) + "\"";
    return problem.where;
}

}  // namespace

std::vector<std::string> describe_package_problems(const release::PackageVerdict& verdict) {
    std::vector<std::string> lines;
    std::vector<std::string> misspelt;  // lower-cased required names an entry was meant to be
    for (const release::PackageProblem& problem : verdict.problems) {
        const std::string meant =
            problem.rule == PackageRule::MissingRequired ? std::string() : meant_required(problem.name);
        std::string rule = rule_text(problem);
        if (!meant.empty()) {
            rule = "the required file must be spelt \"" + meant + "\" exactly (letter case and '/' matter)";
            misspelt.push_back(lower_ascii(meant));
        }
        const std::string place = place_of(problem);
        lines.push_back((place.empty() ? "" : place + ": ") + rule + " (players see \"" + problem.refusal + "\")");
    }
    // A required file under another spelling was named above; "missing" as well would contradict it.
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const release::PackageProblem& problem = verdict.problems[i];
        const bool explained =
            problem.rule == PackageRule::MissingRequired &&
            std::find(misspelt.begin(), misspelt.end(), lower_ascii(spelt_required(problem.name))) != misspelt.end();
        if (!explained) kept.push_back(lines[i]);
    }
    return kept;
}

PackageReport check_package(const std::filesystem::path& archive) {
    require_regular_file(archive, "package");
    PackageReport report;
    std::error_code sizeError;
    const std::uint64_t size = std::filesystem::file_size(archive, sizeError);
    const auto closeFile = [](FILE* stream) { std::fclose(stream); };
    std::unique_ptr<FILE, decltype(closeFile)> stream(sizeError ? nullptr : std::fopen(archive.c_str(), "rb"),
                                                      closeFile);
    // The installer's own verdict, every file inflated, going on past the first problem.
    const release::PackageVerdict verdict =
        release::judge_package(stream.get(), size, release::PackageScan::EveryProblem);
    report.problems = describe_package_problems(verdict);
    if (verdict.problems.size() == 1 && verdict.problems.front().rule == PackageRule::Unreadable) {
        const FileKind kind = sniff_file(archive);
        std::string hint = std::string(" (it is ") + describe_file_kind(kind);
        if (kind == FileKind::Json) hint += ": the manifest? give the package ZIP";
        std::string& line = report.problems.front();
        line.insert(line.find(" (players see"), hint + ")");
        line.insert(0, archive.string() + ": ");
    }
    // A ZIP of the launcher folder made with zip, 7-Zip or Python: every entry outside the top folder.
    const bool outside = std::any_of(verdict.problems.begin(), verdict.problems.end(),
                                     [](const auto& problem) { return problem.rule == PackageRule::OutsideTopFolder; });
    if (outside && verdict.files.empty()) {
        report.hint =
            "no file lies under \"KORLAUNCHER/\": make the package from the launcher folder with "
            "`korvane-release pack FOLDER --output FILE.zip`";
    }
    report.entries = verdict.entries;
    report.files = static_cast<std::uint32_t>(verdict.files.size());
    return report;
}

}  // namespace tools
