#include "tests/support/programs.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace test {

std::filesystem::path sibling_program(const std::filesystem::path& fileName) {
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (length == 0) {
            throw std::runtime_error("GetModuleFileNameW failed");
        }
        if (length < self.size()) {
            self.resize(length);
            break;
        }
        self.resize(self.size() * 2);
    }
    const std::filesystem::path program = std::filesystem::path(self).parent_path() / fileName;
    if (!std::filesystem::is_regular_file(program)) {
        throw std::runtime_error("helper program not built: " + program.string());
    }
    return program;
}

}  // namespace test
