#pragma once

#include <filesystem>

namespace test {

// A helper program built beside the running test executable (same build folder).
std::filesystem::path sibling_program(const std::filesystem::path& fileName);

}  // namespace test
