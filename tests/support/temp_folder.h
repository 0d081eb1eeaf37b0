#pragma once

#include <filesystem>

namespace test {

// A fresh folder under the prefix's temp folder, removed with everything in it at the end.
// Unix links inside it must be removed first (UnixLink does that): under Wine, deleting through a
// link deletes what it points at.
class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    const std::filesystem::path& path() const noexcept { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

}  // namespace test
