#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>

#include "release/manifest.h"
#include "release/package.h"
#include "tests/release/fixtures.h"
#include "tests/release/sample_package.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

// Seeded, bounded robustness runs: mutated archives and manifests must end in success or in one of
// the user-facing messages; never a crash, a hang, another exception, or a file outside the output.

namespace {

constexpr unsigned kSeed = 20261210;
constexpr int kArchiveInputs = 2000;
constexpr int kManifestInputs = 3000;

const std::set<std::string> kPackageMessages = {
    "Повреждён ZIP обновления",          "Некорректный состав обновления", "Недопустимый файл обновления",
    "Недопустимая папка обновления",     "Недопустимый путь обновления",   "В обновлении отсутствуют файлы лаунчера",
    "Не удалось распаковать обновление",
};

const std::set<std::string> kManifestMessages = {
    "Обновление не подписано издателем",
    "Некорректная версия обновления",
    "Некорректная подпись обновления",
    "Некорректные данные обновления",
    "Подпись обновления недействительна. Установка отменена",
};

// Changes 1 to 4 bytes, mostly inside the central directory and the end record (the tail of a
// small archive), sometimes anywhere, and now and then cuts the archive short.
std::string mutate_archive(std::string bytes, std::mt19937& random) {
    const int changes = std::uniform_int_distribution<int>(1, 4)(random);
    for (int i = 0; i < changes; ++i) {
        const int kind = std::uniform_int_distribution<int>(0, 9)(random);
        if (kind == 0 && bytes.size() > 1) {
            bytes.resize(std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(random));
            continue;
        }
        if (bytes.empty()) break;
        const size_t tail = std::min<size_t>(bytes.size(), 600);
        const size_t position = kind < 7 ? bytes.size() - 1 - std::uniform_int_distribution<size_t>(0, tail - 1)(random)
                                         : std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(random);
        static constexpr unsigned char interesting[] = {0x00, 0xff, 0x7f, 0x80, 0x01, '/', '.', '\\', 'A', 0x10};
        bytes[position] =
            std::uniform_int_distribution<int>(0, 1)(random) != 0
                ? static_cast<char>(interesting[std::uniform_int_distribution<size_t>(0, 9)(random)])
                : static_cast<char>(bytes[position] ^ (1 << std::uniform_int_distribution<int>(0, 7)(random)));
    }
    return bytes;
}

std::string mutate_text(std::string text, std::mt19937& random) {
    static constexpr char alphabet[] = "0123456789abcdefABCDEF.:/\"{}[],-+e \n\\x";
    const int changes = std::uniform_int_distribution<int>(1, 3)(random);
    for (int i = 0; i < changes && !text.empty(); ++i) {
        const size_t position = std::uniform_int_distribution<size_t>(0, text.size() - 1)(random);
        const char replacement = alphabet[std::uniform_int_distribution<size_t>(0, sizeof alphabet - 2)(random)];
        switch (std::uniform_int_distribution<int>(0, 2)(random)) {
        case 0:
            text[position] = replacement;
            break;
        case 1:
            text.insert(text.begin() + static_cast<std::ptrdiff_t>(position), replacement);
            break;
        default:
            text.erase(position, 1);
            break;
        }
    }
    return text;
}

std::set<std::string> everything_below(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        names.insert(std::filesystem::relative(item.path(), folder).generic_string());
    }
    return names;
}

void report(const char* what, int inputs, const std::map<std::string, int>& outcomes) {
    std::cout << what << ": " << inputs << " inputs (seed " << kSeed << ")\n";
    for (const auto& [outcome, count] : outcomes)
        std::cout << "  " << count << "  " << outcome << "\n";
}

TEST(Mutation, ArchivesEndInSuccessOrAKnownMessageAndStayInsideTheOutput) {
    std::mt19937 random(kSeed);
    test::TempFolder temp;
    // Nested so that an entry escaping by a few levels would land inside `temp` and be seen.
    const auto sandbox = temp / "a" / "b" / "sandbox";
    const auto archive = sandbox / "launcher.zip";
    const auto output = sandbox / "payload";
    const std::string original = test::build_zip(test::sample_package());
    const std::set<std::string> expected = {"a", "a/b", "a/b/sandbox", "a/b/sandbox/launcher.zip"};

    std::map<std::string, int> outcomes;
    for (int input = 0; input < kArchiveInputs; ++input) {
        test::write_file(archive, mutate_archive(original, random));
        std::string outcome = "success";
        try {
            release::extract_update_package(archive, output);
        } catch (const std::filesystem::filesystem_error& error) {
            // A file and a folder of the same name (in any letter case) meet in create_directories.
            outcome = std::string("filesystem error: ") + error.code().message();
        } catch (const std::exception& error) {
            outcome = error.what();
            EXPECT_TRUE(kPackageMessages.count(outcome)) << "input " << input << ": " << outcome;
        }
        ++outcomes[outcome];
        std::set<std::string> found = everything_below(temp.path());
        std::erase_if(found, [](const std::string& name) { return name.starts_with("a/b/sandbox/payload"); });
        ASSERT_EQ(found, expected) << "input " << input;
        std::filesystem::remove_all(output);
    }
    report("archives", kArchiveInputs, outcomes);
    EXPECT_GT(outcomes.size(), 4u) << "the mutations should reach several different checks";
}

TEST(Mutation, ManifestsEndInSuccessOrAKnownMessage) {
    std::mt19937 random(kSeed);
    const std::string original = test::read_file(test::release_fixture("tool-manifest.json"));
    const nlohmann::json signedFields = nlohmann::json::parse(original);
    std::map<std::string, int> outcomes;
    for (int input = 0; input < kManifestInputs; ++input) {
        const nlohmann::json manifest = nlohmann::json::parse(mutate_text(original, random), nullptr, false);
        std::string outcome = "success";
        try {
            release::verify_release_manifest(manifest);
            // Only changes outside the signed values (spacing, extra members) may pass.
            for (const char* member : {"version", "url", "size", "sha256", "signature"}) {
                EXPECT_EQ(manifest[member], signedFields[member]) << "input " << input << ": " << member;
            }
        } catch (const std::exception& error) {
            outcome = error.what();
            EXPECT_TRUE(kManifestMessages.count(outcome)) << "input " << input << ": " << outcome;
        }
        ++outcomes[outcome];
    }
    report("manifests", kManifestInputs, outcomes);
    EXPECT_GT(outcomes.size(), 4u) << "the mutations should reach several different checks";
}

}  // namespace
