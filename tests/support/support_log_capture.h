#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace test {

// Points the process's temporary folder (TMP and TEMP) at `folder` for the object's lifetime, so
// that the support log a test reads is its own: the prefix's temporary folder holds the log every
// other test program and the installer write at the same time. Ends the log's run on destruction.
class SupportLogCapture {
public:
    explicit SupportLogCapture(const std::filesystem::path& folder);
    SupportLogCapture(const SupportLogCapture&) = delete;
    SupportLogCapture& operator=(const SupportLogCapture&) = delete;
    ~SupportLogCapture();

    const std::filesystem::path& log() const noexcept { return log_; }

    // The event lines of the log's last block ("+S.mmm topic text", without the header); empty when
    // there is none.
    std::vector<std::string> last_run() const;

    // Whether one line of the last block holds every one of `parts`, in any order.
    bool last_run_has(const std::vector<std::string>& parts) const;

    // A test failure for each of `lines` (each a list of parts) that no line of the last block holds.
    void expect_last_run_has(const std::vector<std::vector<std::string>>& lines) const;

private:
    std::filesystem::path log_;
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

}  // namespace test
