#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tools {

std::string read_text_file(const std::filesystem::path& file);

// A hidden file beside `target` (".NAME.XXXXXX", mode 0600) that takes the target's name only on
// commit(); until then, and whatever goes wrong, it is removed when the object goes away, so a
// failure never leaves a half-written file under the final name or anywhere else.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::filesystem::path& target);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The open descriptor, until close(); the caller must not close it itself.
    int descriptor() const { return descriptor_; }
    // Flushes to disk and closes; throws "cannot write TARGET".
    void close();
    // Closes if still open, makes the file `mode`, and renames it to the target.
    void commit(unsigned mode);

private:
    std::filesystem::path target_;
    std::filesystem::path path_;
    int descriptor_ = -1;
    bool committed_ = false;
};

// Writes through a TemporaryFile. `check`, when given, reads the written file before it takes its
// name and throws to refuse it.
void write_file_atomically(const std::filesystem::path& file, std::string_view bytes,
                           const std::function<void(const std::filesystem::path&)>& check = {});

}  // namespace tools
