#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "release/package.h"
#include "tests/release/fixtures.h"
#include "tests/release/sample_package.h"
#include "tests/release/zip_builder.h"
#include "tests/support/expect_error.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unix_link.h"

namespace {

constexpr char kOutputExists[] = "Папка распаковки уже существует";
constexpr char kReparsePoint[] = "Папка обновления содержит ссылку";
constexpr char kCorruptZip[] = "Повреждён ZIP обновления";
constexpr char kBadComposition[] = "Некорректный состав обновления";
constexpr char kInvalidFile[] = "Недопустимый файл обновления";
constexpr char kInvalidFolder[] = "Недопустимая папка обновления";
constexpr char kInvalidPath[] = "Недопустимый путь обновления";
constexpr char kMissingFiles[] = "В обновлении отсутствуют файлы лаунчера";
constexpr char kExtractFailed[] = "Не удалось распаковать обновление";

constexpr std::uint32_t k256MiB = 268'435'456;

using test::ZipEntry;
using Entries = std::vector<ZipEntry>;

Entries package_plus(std::vector<ZipEntry> extra) {
    Entries entries = test::sample_package();
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
}

Entries package_without(const std::string& name) {
    Entries entries = test::sample_package();
    std::erase_if(entries, [&](const ZipEntry& entry) { return entry.name == name; });
    return entries;
}

Entries package_changing(const std::string& name, const std::function<void(ZipEntry&)>& change) {
    Entries entries = test::sample_package();
    for (ZipEntry& entry : entries) {
        if (entry.name == name) change(entry);
    }
    return entries;
}

// A deflated entry that records a size it does not hold; the checks read only the record.
ZipEntry claimed(std::string name, std::uint32_t size) {
    ZipEntry entry(std::move(name), "x", true);
    entry.recordedSize = size;
    return entry;
}

// Named as the path rule would refuse, so that refusing it by its kind shows the kind is checked first.
ZipEntry flagged(std::uint16_t flags) {
    ZipEntry entry("KORLAUNCHER/bad name");
    entry.flags = flags;
    return entry;
}

ZipEntry bzip2() {
    ZipEntry entry("KORLAUNCHER/bad name", "x");
    entry.method = 12;
    return entry;
}

std::vector<std::string> files_below(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
        names.push_back(std::filesystem::relative(item.path(), folder).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ExtractPackage : public ::testing::Test {
protected:
    test::TempFolder temp;
    std::filesystem::path archive = temp / "launcher.zip";
    std::filesystem::path output = temp / "staging" / "payload";

    void extract(const Entries& entries) {
        test::write_file(archive, test::build_zip(entries));
        release::extract_update_package(archive, output);
    }
};

TEST_F(ExtractPackage, WritesEveryFileOfAValidPackage) {
    // "shaders/ui.vert" begins the name of "shaders/ui.vert.spv" without a separator: two files, no
    // file/folder clash.
    extract(package_plus({test::zip_folder("KORLAUNCHER/assets/empty/"),
                          test::zip_unix_entry("KORLAUNCHER/assets/unix.txt", "plain Unix file", 0100644),
                          {"KORLAUNCHER/shaders/ui.vert", "source of the vertex shader"}}));
    EXPECT_EQ(test::read_file(output / "shaders" / "ui.vert"), "source of the vertex shader");
    for (const ZipEntry& entry : test::sample_package()) {
        if (entry.name.back() == '/') continue;
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(test::read_file(output / entry.name.substr(12)), entry.data);
    }
    // Folder entries create nothing by themselves; folders appear only as files need them.
    EXPECT_FALSE(std::filesystem::exists(output / "assets" / "empty"));
    EXPECT_EQ(files_below(output),
              (std::vector<std::string>{"KORLAUNCHER.exe", "assets", "assets/fonts", "assets/fonts/regular.json",
                                        "assets/fonts/regular.png", "assets/images", "assets/images/logo.png",
                                        "assets/unix.txt", "launcher.json", "shaders", "shaders/ui.frag.spv",
                                        "shaders/ui.vert", "shaders/ui.vert.spv"}));
}

TEST_F(ExtractPackage, RefusesBadPackagesBeforeWritingAnything) {
    Entries only2049(2049, test::zip_folder("KORLAUNCHER/"));
    std::string longName = "KORLAUNCHER/assets/" + std::string(500, 'a') + "/../x";

    const struct {
        const char* label;
        Entries entries;
        const char* message;
    } cases[] = {
        {"no entries", {}, kBadComposition},
        {"only the top folder", {test::zip_folder("KORLAUNCHER/")}, kMissingFiles},
        {"2049 entries", only2049, kBadComposition},
        {"executable in lower case",
         package_changing("KORLAUNCHER/KORLAUNCHER.exe", [](ZipEntry& e) { e.name = "KORLAUNCHER/korlauncher.exe"; }),
         kInvalidPath},
        {"assets with a capital", package_plus({{"KORLAUNCHER/Assets/x.png"}}), kInvalidPath},
        {"another file at the top", package_plus({{"KORLAUNCHER/readme.txt"}}), kInvalidPath},
        {"the assets folder as a file", package_plus({{"KORLAUNCHER/assets"}}), kInvalidPath},
        {"outside the top folder", package_plus({{"OTHER/assets/x.png"}}), kInvalidFile},
        {"top folder in lower case", package_plus({{"korlauncher/assets/x.png"}}), kInvalidFile},
        {"name shorter than the prefix", package_plus({{"KORLAUNCHER"}}), kInvalidFile},
        {"element ..", package_plus({{"KORLAUNCHER/assets/../launcher.json"}}), kInvalidPath},
        {"element .", package_plus({{"KORLAUNCHER/assets/./x.png"}}), kInvalidPath},
        {"element ending in a dot", package_plus({{"KORLAUNCHER/assets/x./y.png"}}), kInvalidPath},
        {"trailing dot", package_plus({{"KORLAUNCHER/assets/x."}}), kInvalidPath},
        {"space", package_plus({{"KORLAUNCHER/assets/a b.png"}}), kInvalidPath},
        {"colon", package_plus({{"KORLAUNCHER/assets/a:b.png"}}), kInvalidPath},
        {"non-ASCII byte", package_plus({{"KORLAUNCHER/assets/\xc3\xa9.png"}}), kInvalidPath},
        {"zero byte", package_plus({{std::string("KORLAUNCHER/assets/a\0b.png", 26)}}), kInvalidPath},
        {"name longer than the reader's record", package_plus({{longName}}), kInvalidPath},
        {"names differing only in case", package_plus({{"KORLAUNCHER/assets/Images/LOGO.png"}}), kBadComposition},
        {"folder entry outside assets and shaders", package_plus({test::zip_folder("KORLAUNCHER/docs/")}),
         kInvalidFolder},
        {"folder entry with a capital", package_plus({test::zip_folder("KORLAUNCHER/Assets/")}), kInvalidFolder},
        {"folder entry ..", package_plus({test::zip_folder("KORLAUNCHER/assets/../")}), kInvalidFolder},
        {"symbolic link", package_plus({test::zip_unix_entry("KORLAUNCHER/assets/link", "/etc/passwd", 0120777)}),
         kInvalidFile},
        // Refused before the name is looked at: the name alone would give the path message.
        {"encrypted", package_plus({flagged(1)}), kInvalidFile},
        {"method bzip2", package_plus({bzip2()}), kInvalidFile},
        {"missing launcher.json", package_without("KORLAUNCHER/launcher.json"), kMissingFiles},
        {"missing regular.png", package_without("KORLAUNCHER/assets/fonts/regular.png"), kMissingFiles},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::expect_error([&] { extract(c.entries); }, c.message);
        EXPECT_FALSE(std::filesystem::exists(output));
        EXPECT_FALSE(std::filesystem::exists(output.parent_path()));
    }
}

TEST_F(ExtractPackage, EntryLimitIsInclusive) {
    Entries entries = test::sample_package();
    for (int i = 0; entries.size() < 2048; ++i) {
        entries.push_back(test::zip_folder("KORLAUNCHER/assets/d" + std::to_string(i) + "/"));
    }
    extract(entries);
    EXPECT_EQ(test::read_file(output / "launcher.json"), "{\"channel\":\"stable\"}");
    std::filesystem::remove_all(output.parent_path());

    entries.push_back(test::zip_folder("KORLAUNCHER/assets/extra/"));
    test::expect_error([&] { extract(entries); }, kBadComposition);
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(ExtractPackage, SizeLimitsAreInclusive) {
    std::uint32_t sampleTotal = 0;
    for (const ZipEntry& entry : test::sample_package())
        sampleTotal += static_cast<std::uint32_t>(entry.data.size());
    const struct {
        const char* label;
        Entries entries;
        const char* message;
    } cases[] = {
        // Passing every check, extraction starts and then meets the false size.
        {"one file of 256 MiB", package_plus({claimed("KORLAUNCHER/assets/big.bin", k256MiB)}), kExtractFailed},
        {"512 MiB in total",
         package_plus({claimed("KORLAUNCHER/assets/a.bin", k256MiB),
                       claimed("KORLAUNCHER/assets/b.bin", k256MiB - sampleTotal)}),
         kExtractFailed},
        {"one file of 256 MiB + 1", package_plus({claimed("KORLAUNCHER/assets/big.bin", k256MiB + 1)}),
         kBadComposition},
        {"512 MiB + 1 in total",
         package_plus({claimed("KORLAUNCHER/assets/a.bin", k256MiB),
                       claimed("KORLAUNCHER/assets/b.bin", k256MiB - sampleTotal + 1)}),
         kBadComposition},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::expect_error([&] { extract(c.entries); }, c.message);
        std::filesystem::remove_all(temp / "staging");
    }
}

TEST_F(ExtractPackage, ABackslashIsASeparatorAndWritesToTheSamePlace) {
    EXPECT_TRUE(release::is_allowed_package_path(L"assets\\images\\x.png"));
    extract(package_plus({{"KORLAUNCHER/assets\\images\\extra.png", "by backslash"}}));
    EXPECT_EQ(test::read_file(output / "assets" / "images" / "extra.png"), "by backslash");
}

// A name is judged as it will be written, so another spelling of a required file supplies it (and
// a second spelling of one file is a duplicate, see the shapes below).
TEST_F(ExtractPackage, AnotherSpellingOfARequiredFileSuppliesIt) {
    extract(package_changing("KORLAUNCHER/assets/fonts/regular.png",
                             [](ZipEntry& e) { e.name = "KORLAUNCHER/assets\\fonts//regular.png"; }));
    EXPECT_EQ(test::read_file(output / "assets" / "fonts" / "regular.png"), "\x89PNG\r\n\x1a\n...");
}

// The same files the release tool's check is run on (release_tool_test.py): each refused with the
// same message by both, which is what lets a publisher trust that a signed package installs.
TEST_F(ExtractPackage, RefusesEveryShapeAsTheReleaseToolDoes) {
    const nlohmann::json expected = test::release_fixture_json("shapes.json");
    ASSERT_GE(expected.size(), 10u);
    for (const auto& [name, message] : expected.items()) {
        SCOPED_TRACE(name);
        test::expect_error([&] { release::extract_update_package(test::release_fixture("shapes") / name, output); },
                           message.get<std::string>());
        if (message != kExtractFailed) {
            EXPECT_FALSE(std::filesystem::exists(output));
        }
        std::filesystem::remove_all(temp / "staging");
    }
}

// A package that inflates to the size limit takes a while to write; a cancel ends it within a
// chunk, not at the end of the 256 MiB file it lands in (a machine that writes zeros fast would
// otherwise hide the difference in the time alone).
TEST_F(ExtractPackage, ACancelEndsAnExtractionToTheSizeLimitWithinAChunk) {
    constexpr std::uintmax_t kLargest = 256u << 20;
    std::atomic<bool> cancel{false};
    std::future<void> run = std::async(std::launch::async, [&] {
        release::extract_update_package(test::release_fixture("at-the-limit.zip"), output, &cancel);
    });
    const std::filesystem::path first = output / "assets" / "zeros-a.bin";
    const auto writing = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::error_code error;
    std::uintmax_t atCancel = 0;
    while (((atCancel = std::filesystem::file_size(first, error)) == 0 || error) &&
           std::chrono::steady_clock::now() < writing) {
        std::this_thread::yield();
    }
    ASSERT_EQ(run.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout) << "ended before the cancel";
    const auto pressed = std::chrono::steady_clock::now();
    cancel = true;
    test::expect_error([&] { run.get(); }, "Установка отменена");
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - pressed).count();
    const std::uintmax_t written = std::filesystem::file_size(first);
    std::printf("[ cancel   ] extraction of 512 MiB ended %.3f s after the cancel, %ju -> %ju bytes\n", elapsed,
                atCancel, written);
    EXPECT_LT(elapsed, 2.0);  // the player waits at most a second; the rest is room for a loaded machine
    if (atCancel < kLargest / 2) {
        EXPECT_LT(written, atCancel + (16u << 20));
    }
}

// An entry recorded as 100 bytes that inflates to 256 MiB is stopped at its promise.
TEST_F(ExtractPackage, ABombStopsAtItsRecordedSize) {
    test::expect_error(
        [&] {
            release::extract_update_package(test::release_fixture("shapes") / "inflates-past-its-size.zip", output);
        },
        kExtractFailed);
    const std::filesystem::path bomb = output / "assets" / "bomb.bin";
    EXPECT_LE(std::filesystem::exists(bomb) ? std::filesystem::file_size(bomb) : 0u, 100u);
}

TEST_F(ExtractPackage, AcceptsThePackagesOfEveryZipTool) {
    int packages = 0;
    for (const auto& item : std::filesystem::directory_iterator(test::release_fixture("honest"))) {
        SCOPED_TRACE(item.path().filename().string());
        ++packages;
        release::extract_update_package(item.path(), output);
        EXPECT_EQ(files_below(output),
                  (std::vector<std::string>{"KORLAUNCHER.exe", "assets", "assets/fonts", "assets/fonts/regular.json",
                                            "assets/fonts/regular.png", "launcher.json", "shaders",
                                            "shaders/ui.frag.spv", "shaders/ui.vert.spv"}));
        EXPECT_EQ(test::read_file(output / "launcher.json"), "{\"channel\": \"stable\"}\n");
        EXPECT_EQ(test::read_file(output / "shaders" / "ui.vert.spv").size(), 64u);
        std::filesystem::remove_all(temp / "staging");
    }
    EXPECT_GE(packages, 8);
}

// Windows opens a device for these names in any folder and with any extension: such an entry would
// "extract" into the device, vanish from the package and still count as written.
TEST_F(ExtractPackage, DeviceNamesAreRefusedNotWrittenIntoTheDevice) {
    for (const char* name :
         {"KORLAUNCHER/assets/nul", "KORLAUNCHER/assets/fonts/CON.json", "KORLAUNCHER/shaders/aux.spv",
          "KORLAUNCHER/assets/com1", "KORLAUNCHER/assets/Lpt9.png/x.png"}) {
        SCOPED_TRACE(name);
        test::expect_error([&] { extract(package_plus({{name, "device data"}})); }, kInvalidPath);
        EXPECT_FALSE(std::filesystem::exists(output));
        std::filesystem::remove_all(output);
    }
    EXPECT_TRUE(release::is_allowed_package_path(L"assets/null.png"));
    EXPECT_TRUE(release::is_allowed_package_path(L"assets/com10"));
    EXPECT_TRUE(release::is_allowed_package_path(L"assets/console/x.png"));
    EXPECT_TRUE(release::is_allowed_package_path(L"assets/my.con"));
}

TEST_F(ExtractPackage, ACrcMismatchFailsTheExtraction) {
    test::expect_error(
        [&] { extract(package_changing("KORLAUNCHER/shaders/ui.frag.spv", [](ZipEntry& e) { e.crc = 0x12345678; })); },
        kExtractFailed);
    // Earlier files stay for the caller, who removes its whole staging folder.
    EXPECT_TRUE(std::filesystem::exists(output / "KORLAUNCHER.exe"));
}

TEST_F(ExtractPackage, UnreadableArchives) {
    const struct {
        const char* label;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"not a ZIP", "this is not a zip archive at all, just text"},
        {"cut in the central directory", test::build_zip(test::sample_package()).substr(0, 1500)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::write_file(archive, c.bytes);
        test::expect_error([&] { release::extract_update_package(archive, output); }, kCorruptZip);
    }
    test::expect_error([&] { release::extract_update_package(temp / "missing.zip", output); }, kCorruptZip);
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(ExtractPackage, AnExistingOutputFolderStopsBeforeTheArchiveIsRead) {
    std::filesystem::create_directories(output);
    test::expect_error([&] { release::extract_update_package(temp / "missing.zip", output); }, kOutputExists);
    EXPECT_TRUE(std::filesystem::is_empty(output));
}

TEST_F(ExtractPackage, ALinkAboveTheOutputFolderStopsBeforeTheArchiveIsRead) {
    std::filesystem::create_directories(temp / "real");
    test::UnixLink link(temp / "linked", temp / "real");
    test::expect_error([&] { release::extract_update_package(temp / "missing.zip", link.path() / "payload"); },
                       kReparsePoint);
    test::expect_error([&] { release::extract_update_package(temp / "missing.zip", link.path() / "a" / "b"); },
                       kReparsePoint);
    EXPECT_TRUE(std::filesystem::is_empty(temp / "real"));
    EXPECT_NO_THROW(release::ensure_no_reparse_points(temp / "real" / "payload"));
}

TEST(PackagePath, TheRuleOnRelativeNames) {
    const struct {
        const wchar_t* name;
        bool allowed;
    } cases[] = {
        {L"KORLAUNCHER.exe", true},
        {L"launcher.json", true},
        {L"assets/a.png", true},
        {L"shaders/ui.vert.spv", true},
        {L"assets\\a.png", true},
        {L"assets//a.png", true},
        {L"assets/a-b_c.9/x", true},
        {L"assets/.hidden", true},
        {L"", false},
        {L"assets", false},
        {L"assets/", false},
        {L"assets/a/", false},
        {L"/assets/a.png", false},
        {L"\\assets\\a.png", false},
        {L"C:/assets/a.png", false},
        {L"korlauncher.exe", false},
        {L"KORLAUNCHER.EXE", false},
        {L"Launcher.json", false},
        {L"launcher.json/x", false},
        {L"assets/..", false},
        {L"assets/../x", false},
        {L"assets/x../y", false},
        {L"assets/a b", false},
        {L"assets/\u00e9.png", false},
        {L"assets/a~1", false},
        {L"assets/a:stream", false},
        {L"shaders2/x", false},
    };
    const std::wstring element255(255, L'e');
    const struct {
        std::wstring name;
        bool allowed;
    } lengths[] = {
        {L"assets/" + element255, true},
        {L"assets/" + element255 + L"e", false},
        {L"assets/" + element255 + L"/x", true},
        // The whole name is bounded as written in the archive, separators included.
        {L"assets/" + std::wstring(4096 - 7 - 1, L'/') + L"x", true},
        {L"assets/" + std::wstring(4096 - 7, L'/') + L"x", false},
    };
    for (const auto& c : lengths) {
        SCOPED_TRACE(c.name.size());
        EXPECT_EQ(release::is_allowed_package_path(c.name), c.allowed);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        EXPECT_EQ(release::is_allowed_package_path(c.name), c.allowed);
    }
}

// Archives and output folders below a Russian user name are the common case.
TEST_F(ExtractPackage, NonAsciiFolderNames) {
    const std::filesystem::path wideArchive = temp / L"Загрузки" / L"обновление.zip";
    const std::filesystem::path wideOutput = temp / L"Пользователь" / L"распаковка";
    test::write_file(wideArchive, test::build_zip(test::sample_package()));
    release::extract_update_package(wideArchive, wideOutput);
    EXPECT_EQ(files_below(wideOutput).size(), 11u);
}

}  // namespace
