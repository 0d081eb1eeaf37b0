#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tools {

std::string read_text_file(const std::filesystem::path& file);

// Writes through a temporary file in the same folder and renames it into place, so a failure
// never leaves a half-written file under the final name.
void write_file_atomically(const std::filesystem::path& file, std::string_view bytes);

}  // namespace tools
