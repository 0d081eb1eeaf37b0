#pragma once

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/support/files.h"

namespace test {

// Files that make_fixtures.py signed on the Linux side; Wine maps the Linux root to drive Z:.
inline std::filesystem::path release_fixture(const std::string& name) {
    return std::filesystem::path(L"Z:" + std::filesystem::path(KORVANE_RELEASE_FIXTURES).wstring()) / name;
}

inline nlohmann::json release_fixture_json(const std::string& name) {
    return nlohmann::json::parse(read_file(release_fixture(name)));
}

}  // namespace test
