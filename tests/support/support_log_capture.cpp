#include "tests/support/support_log_capture.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>

#include "common/support_log.h"
#include "tests/support/files.h"

namespace test {

SupportLogCapture::SupportLogCapture(const std::filesystem::path& folder) : log_(folder / L"Korvane-Setup.log") {
    std::filesystem::create_directories(folder);
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
        wchar_t value[MAX_PATH] = {};
        saved_.emplace_back(name, std::wstring(value, ::GetEnvironmentVariableW(name, value, MAX_PATH)));
        ::SetEnvironmentVariableW(name, folder.c_str());
    }
}

SupportLogCapture::~SupportLogCapture() {
    common::end_support_log_run();
    for (const auto& [name, value] : saved_) {
        ::SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
}

std::vector<std::string> SupportLogCapture::last_run() const {
    std::vector<std::string> lines;
    if (!std::filesystem::exists(log_)) {
        return lines;
    }
    std::istringstream content(read_file(log_));
    for (std::string line; std::getline(content, line);) {
        if (line.starts_with("== ")) {
            lines.clear();
        } else {
            lines.push_back(line);
        }
    }
    return lines;
}

bool SupportLogCapture::last_run_has(const std::vector<std::string>& parts) const {
    for (const std::string& line : last_run()) {
        bool all = true;
        for (const std::string& part : parts) {
            all = all && line.find(part) != std::string::npos;
        }
        if (all) return true;
    }
    return false;
}

void SupportLogCapture::expect_last_run_has(const std::vector<std::vector<std::string>>& lines) const {
    for (const std::vector<std::string>& parts : lines) {
        EXPECT_TRUE(last_run_has(parts)) << "no line of the run's support log holds " << testing::PrintToString(parts)
                                         << "; the run logged:\n"
                                         << testing::PrintToString(last_run());
    }
}

}  // namespace test
