// Folder listings: what is listed, and what counts as a listing that could not be made.
#include "install/folder_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace {

struct Listing {
    bool complete = false;
    std::vector<std::wstring> names;
};

Listing list(const std::filesystem::path& folder) {
    Listing listing;
    listing.complete =
        install::list_folder(folder, [&](std::wstring_view name, DWORD) { listing.names.emplace_back(name); });
    return listing;
}

TEST(FolderWalk, AFolderThatCannotBeListedIsReportedAndNothingIsVisited) {
    test::TempFolder temp;
    test::write_file(temp / "file.txt", "x");
    const struct {
        const char* what;
        std::filesystem::path folder;
    } cases[] = {{"missing folder", temp / "missing"}, {"a file, not a folder", temp / "file.txt"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Listing listing = list(c.folder);
        EXPECT_FALSE(listing.complete);
        EXPECT_TRUE(listing.names.empty());
    }
}

TEST(FolderWalk, EntriesAreListedWithoutTheDotEntriesAndSubFoldersAreWalked) {
    test::TempFolder temp;
    std::filesystem::create_directories(temp / "empty");
    test::write_file(temp / "full" / "inner" / "deep.txt", "x");
    test::write_file(temp / "full" / "top.txt", "x");
    EXPECT_TRUE(list(temp / "empty").complete);
    EXPECT_TRUE(list(temp / "empty").names.empty());

    std::vector<std::wstring> walked;
    for (const install::WalkEntry& entry : install::walk_folder(temp / "full")) {
        walked.push_back(entry.relative.wstring());
    }
    std::sort(walked.begin(), walked.end());
    EXPECT_EQ(walked, (std::vector<std::wstring>{L"inner", L"inner\\deep.txt", L"top.txt"}));
}

}  // namespace
