#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace test {

// Writes the bytes, creating parent folders.
void write_file(const std::filesystem::path& file, std::string_view bytes);
std::string read_file(const std::filesystem::path& file);

}  // namespace test
