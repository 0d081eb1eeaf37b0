#include "tests/support/temp_folder.h"

#include "crypto/random_hex.h"

namespace test {

TempFolder::TempFolder() : path_(std::filesystem::temp_directory_path() / ("korvane-test-" + crypto::random_hex(6))) {
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace test
