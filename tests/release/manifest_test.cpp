#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "common/unique_handle.h"
#include "release/manifest.h"
#include "release/package.h"
#include "tests/release/fixtures.h"
#include "tests/support/expect_error.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace {

constexpr char kNotSigned[] = "Обновление не подписано издателем";
constexpr char kBadVersion[] = "Некорректная версия обновления";
constexpr char kBadSignature[] = "Некорректная подпись обновления";
constexpr char kBadData[] = "Некорректные данные обновления";
constexpr char kSignatureInvalid[] = "Подпись обновления недействительна. Установка отменена";
constexpr char kArchiveChanged[] = "Архив обновления изменён. Установка отменена";

using nlohmann::json;

json signed_manifest(const std::string& name) {
    return test::release_fixture_json("manifests.json").at(name);
}

// Well-formed values; the signature is well-formed too but signs nothing. Sizes are written as
// unsigned literals: that is the kind the JSON parser gives a plain non-negative number.
json unsigned_manifest() {
    return {{"version", "1.0.0"},
            {"url", "https://localhost/a.zip"},
            {"size", 22u},
            {"sha256", std::string(64, 'a')},
            {"signature", std::string(128, 'b')}};
}

TEST(ReleaseManifest, SignaturesOfTheReleaseToolAndOfPlainOpenSslVerify) {
    for (const std::string name : {"openssl", "leading-zeros", "largest"}) {
        SCOPED_TRACE(name);
        EXPECT_NO_THROW(release::verify_release_manifest(signed_manifest(name)));
    }
    EXPECT_NO_THROW(release::verify_release_manifest(test::release_fixture_json("tool-manifest.json")));
    EXPECT_EQ(signed_manifest("largest")["url"].get<std::string>().size(), 2048u);
    EXPECT_EQ(signed_manifest("leading-zeros")["version"], "0001.02.0003");
}

// The steps after the check take the signed values from here, not from the JSON again.
TEST(ReleaseManifest, VerificationReturnsTheSignedValues) {
    const json manifest = signed_manifest("leading-zeros");
    const release::VerifiedRelease release = release::verify_release_manifest(manifest);
    EXPECT_EQ(release.version, "0001.02.0003");
    EXPECT_EQ(release.url, manifest["url"].get<std::string>());
    EXPECT_EQ(release.size, manifest["size"].get<std::uint64_t>());
    EXPECT_EQ(release.sha256, manifest["sha256"].get<std::string>());
}

// Plain openssl leaves s in either half of the group order, and publishers sign with it.
TEST(ReleaseManifest, HighAndLowSSignaturesBothVerify) {
    for (const std::string name : {"high-s", "low-s"}) {
        SCOPED_TRACE(name);
        EXPECT_NO_THROW(release::verify_release_manifest(signed_manifest(name)));
    }
    EXPECT_NE(signed_manifest("high-s")["signature"], signed_manifest("low-s")["signature"]);
}

// The body is the first thing read from the network: exactly its bytes, as one JSON text.
TEST(ReleaseManifestBody, ExactlyTheBytesReceivedAsOneJsonText) {
    const std::string body = test::read_file(test::release_fixture("tool-manifest.json"));
    const std::string members = body.substr(body.find('{') + 1);
    const auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    // Nesting is what is bounded, not the number of brackets: 40 objects side by side are two deep.
    std::string objects = "[{\"a\":1}";
    for (int i = 1; i < 40; ++i)
        objects += ",{\"a\":1}";
    objects += "]";
    const size_t bound = release::kMaximumManifestBytes;
    const struct {
        const char* label;
        std::string body;
        bool accepted;
    } cases[] = {
        {"as the release tool wrote it", body, true},
        {"whitespace around", " \r\n\t" + body + " \n", true},
        {"an extra member nested to the limit", "{\"notes\":" + nested(31) + "," + members, true},
        {"the same name in two objects", "{\"notes\":[{\"a\":1},{\"a\":1}]," + members, true},
        {"a list of 40 small objects", "{\"notes\":" + objects + "," + members, true},
        {"padded with whitespace to the size bound", body + std::string(bound - body.size(), ' '), true},
        {"one byte past the size bound", body + std::string(bound - body.size() + 1, ' '), false},
        {"nested one level deeper", "{\"notes\":" + nested(32) + "," + members, false},
        {"a zero byte, then garbage", body + std::string("\0garbage", 8), false},
        {"a zero byte before the value", std::string("\0", 1) + body, false},
        {"a byte-order mark", "\xEF\xBB\xBF" + body, false},
        {"a member twice, the signed value last", "{\"version\":\"9.9.9\"," + members, false},
        {"a member twice, spelled with an escape", "{\"\\u0076ersion\":\"9.9.9\"," + members, false},
        {"a name twice inside an extra member", "{\"notes\":{\"a\":1,\"a\":1}," + members, false},
        {"a second value", body + "{}", false},
        {"trailing garbage", body + "x", false},
        {"16 MiB of [", std::string(16 << 20, '['), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const json manifest = release::parse_release_manifest(c.body);
        if (c.accepted) {
            EXPECT_NO_THROW(release::verify_release_manifest(manifest));
        } else {
            test::expect_error([&] { release::verify_release_manifest(manifest); }, kNotSigned);
        }
    }
}

TEST(ReleaseManifest, SignatureOverTheTextWithoutItsFinalLineFeedFails) {
    test::expect_error([] { release::verify_release_manifest(signed_manifest("no-final-line-feed")); },
                       kSignatureInvalid);
}

TEST(ReleaseManifest, AnyChangedByteOfASignedFieldFails) {
    const json original = signed_manifest("openssl");
    const struct {
        const char* member;
        json value;
    } cases[] = {
        {"version", "1.0.1"},
        {"version", "01.0.0"},  // the same number, written differently: signed as written
        {"size", 23u},
        {"sha256", std::string(63, '5') + "f"},
        {"url", "https://localhost/b.zip"},
        {"signature", std::string(127, '0') + "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.member) + " = " + c.value.dump());
        json changed = original;
        changed[c.member] = c.value;
        test::expect_error([&] { release::verify_release_manifest(changed); }, kSignatureInvalid);
    }
    // Flipping each byte of the signature's r and s halves in turn.
    for (const size_t position : {0u, 63u, 64u, 127u}) {
        json changed = original;
        std::string signature = changed["signature"];
        signature[position] = signature[position] == '0' ? '1' : '0';
        changed["signature"] = signature;
        test::expect_error([&] { release::verify_release_manifest(changed); }, kSignatureInvalid);
    }
}

TEST(ReleaseManifest, ExtraMembersChangeNothing) {
    json manifest = signed_manifest("openssl");
    manifest["Version"] = "9.9.9";
    manifest["notes"] = {{"ru", "Исправления"}};
    manifest["signature2"] = 5;
    EXPECT_NO_THROW(release::verify_release_manifest(manifest));
}

TEST(ReleaseManifest, ChecksComeInOrderAndTheFirstFailureDecides) {
    const auto with = [](std::initializer_list<std::pair<const char*, json>> changes) {
        json manifest = unsigned_manifest();
        for (const auto& [member, value] : changes)
            manifest[member] = value;
        return manifest;
    };
    const auto without = [](const char* member, json manifest) {
        manifest.erase(member);
        return manifest;
    };
    const struct {
        const char* label;
        json manifest;
        const char* message;
    } cases[] = {
        {"not JSON at all", json::parse("<html>", nullptr, false), kNotSigned},
        {"array", json::array({unsigned_manifest()}), kNotSigned},
        {"bare string", "1.0.0", kNotSigned},
        {"null", nullptr, kNotSigned},
        {"size as a string", with({{"size", "22"}}), kNotSigned},
        {"size with a fraction", with({{"size", json::parse("22.0")}}), kNotSigned},
        {"size with an exponent", with({{"size", json::parse("2e1")}}), kNotSigned},
        {"negative size", with({{"size", -22}}), kNotSigned},
        {"version as a number", with({{"version", 1}}), kNotSigned},
        {"url missing", without("url", unsigned_manifest()), kNotSigned},
        {"sha256 missing", without("sha256", unsigned_manifest()), kNotSigned},
        {"member name in capitals", without("version", with({{"Version", "1.0.0"}})), kNotSigned},
        {"no signature and a bad version", without("signature", with({{"version", "x"}})), kNotSigned},
        {"bad version and bad size", with({{"version", "1.0"}, {"size", 21u}}), kBadVersion},
        {"bad version and bad sha256", with({{"version", "1.0"}, {"sha256", "A"}}), kBadVersion},
        {"uppercase sha256 and bad size", with({{"sha256", std::string(64, 'A')}, {"size", 21u}}), kBadSignature},
        {"sha256 of 63 characters", with({{"sha256", std::string(63, 'a')}}), kBadSignature},
        {"sha256 of 65 characters", with({{"sha256", std::string(65, 'a')}}), kBadSignature},
        {"signature of 127 characters", with({{"signature", std::string(127, 'b')}}), kBadSignature},
        {"uppercase signature and bad url", with({{"signature", std::string(128, 'B')}, {"url", "x"}}), kBadSignature},
        {"signature with a non-hex letter", with({{"signature", std::string(127, 'b') + "g"}}), kBadSignature},
        {"size 21", with({{"size", 21u}}), kBadData},
        {"size 16 MiB + 1", with({{"size", 16'777'217u}}), kBadData},
        {"size 0", with({{"size", 0u}}), kBadData},
        {"bad size and bad url", with({{"size", 21u}, {"url", "http://a"}}), kBadData},
        {"scheme in capitals", with({{"url", "HTTPS://localhost/a.zip"}}), kBadData},
        {"plain http", with({{"url", "http://localhost/a.zip"}}), kBadData},
        {"url of 7 bytes", with({{"url", "https:/"}}), kBadData},
        {"url of 2049 bytes", with({{"url", "https://" + std::string(2041, 'u')}}), kBadData},
        {"url with a line feed", with({{"url", "https://localhost/\n.zip"}}), kBadData},
        {"url with a carriage return", with({{"url", "https://localhost/\r.zip"}}), kBadData},
        // Everything well-formed: only the signature itself is wrong.
        {"url of 2048 bytes", with({{"url", "https://" + std::string(2040, 'u')}}), kSignatureInvalid},
        {"size 22", with({{"size", 22u}}), kSignatureInvalid},
        {"size 16 MiB", with({{"size", 16'777'216u}}), kSignatureInvalid},
        {"url of exactly https://", with({{"url", "https://"}}), kSignatureInvalid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::expect_error([&] { release::verify_release_manifest(c.manifest); }, c.message);
    }
}

TEST(ReleaseVersion, ParsesThreeNumbersUpTo9999) {
    const struct {
        const char* text;
        std::uint32_t major, minor, patch;
    } accepted[] = {
        {"0.0.0", 0, 0, 0},
        {"1.2.3", 1, 2, 3},
        {"9999.9999.9999", 9999, 9999, 9999},
        {"0001.02.0003", 1, 2, 3},
        {"000000000009999.0.0", 9999, 0, 0},
    };
    for (const auto& c : accepted) {
        SCOPED_TRACE(c.text);
        const release::ReleaseVersion version = release::parse_release_version(c.text);
        EXPECT_EQ(version.major, c.major);
        EXPECT_EQ(version.minor, c.minor);
        EXPECT_EQ(version.patch, c.patch);
    }
    for (const char* text :
         {"",        "1.2",       "1.2.3.4",   "1..3",           "1.2.",           ".1.2.3",
          "1.2.3.",  "+1.2.3",    "-1.2.3",    " 1.2.3",         "1.2.3 ",         "1. 2.3",
          "1.2.3\n", "10000.0.0", "0.0.10000", "4294967296.0.0", "4294967295.0.0", "99999999999999999999.0.0",
          "1.2.3a",  "v1.2.3",    "1,2,3",     "1.2.0x3"}) {
        SCOPED_TRACE(text);
        test::expect_error([&] { release::parse_release_version(text); }, kBadVersion);
    }
}

TEST(DecodeHex, ExactLengthAndLowercaseDigitsOnly) {
    EXPECT_EQ(release::decode_hex("00ff7f80", 4), (std::vector<unsigned char>{0x00, 0xff, 0x7f, 0x80}));
    EXPECT_TRUE(release::decode_hex("", 0).empty());
    for (const char* text : {"00ff7f8", "00ff7f8000", "00FF7F80", "00ff7f8g", "00ff 7f8"}) {
        SCOPED_TRACE(text);
        test::expect_error([&] { release::decode_hex(text, 4); }, kBadSignature);
    }
}

class DownloadedArchive : public ::testing::Test {
protected:
    test::TempFolder temp;
    json manifest = test::release_fixture_json("tool-manifest.json");
    std::string package = test::read_file(test::release_fixture("package.zip"));
};

TEST_F(DownloadedArchive, TheSignedPackagePassesAndExtracts) {
    const auto archive = temp / "launcher.zip";
    test::write_file(archive, package);
    release::verify_downloaded_archive(manifest, archive);
    release::extract_update_package(archive, temp / "payload");
    EXPECT_EQ(test::read_file(temp / "payload" / "launcher.json"), "{\"channel\": \"stable\"}\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(temp / "payload" / "assets" / "fonts" / "regular.png"));
}

// The hashing looks at the cancel flag between chunks (the whole check of a 16 MiB package takes a
// good part of a second under Wine).
TEST_F(DownloadedArchive, TheCheckStopsAtACancel) {
    const auto archive = temp / "launcher.zip";
    test::write_file(archive, package);
    const std::atomic<bool> cancel{true};
    test::expect_error([&] { release::verify_downloaded_archive(manifest, archive, &cancel); }, "Установка отменена");
}

TEST_F(DownloadedArchive, ChangedOrShortArchivesAreRefused) {
    std::string changed = package;
    changed[changed.size() / 2] ^= 0x01;
    const struct {
        const char* label;
        std::string bytes;
    } cases[] = {
        {"one byte changed", changed},
        {"one byte short", package.substr(0, package.size() - 1)},
        {"one byte longer", package + "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto archive = temp / "launcher.zip";
        test::write_file(archive, c.bytes);
        test::expect_error([&] { release::verify_downloaded_archive(manifest, archive); }, kArchiveChanged);
    }
}

TEST_F(DownloadedArchive, ASizeMismatchIsRefusedWithoutReadingTheFile) {
    // Held open without sharing: hashing it would fail with the open error instead.
    const auto archive = temp / "launcher.zip";
    test::write_file(archive, package.substr(1));
    common::UniqueFileHandle holder(
        CreateFileW(archive.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    test::expect_error([&] { release::verify_downloaded_archive(manifest, archive); }, kArchiveChanged);

    const auto sameSize = temp / "same-size.zip";
    test::write_file(sameSize, package);
    common::UniqueFileHandle sameSizeHolder(
        CreateFileW(sameSize.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(sameSizeHolder);
    test::expect_error([&] { release::verify_downloaded_archive(manifest, sameSize); }, "Не удалось проверить файл");
}

TEST_F(DownloadedArchive, TheManifestIsCheckedFirstAndAMissingFileIsAFilesystemError) {
    json unsignedManifest = manifest;
    unsignedManifest["url"] = "https://localhost/other.zip";
    test::expect_error([&] { release::verify_downloaded_archive(unsignedManifest, temp / "missing.zip"); },
                       kSignatureInvalid);
    try {
        release::verify_downloaded_archive(manifest, temp / "missing.zip");
        ADD_FAILURE() << "no exception";
    } catch (const std::filesystem::filesystem_error& error) {
        // libstdc++ words the operation as "cannot get file size".
        EXPECT_NE(std::string(error.what()).find("file size"), std::string::npos) << error.what();
        EXPECT_EQ(error.path1(), temp / "missing.zip");
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    }
}

}  // namespace
