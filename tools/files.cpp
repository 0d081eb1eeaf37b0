#include "tools/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tools {

std::string read_text_file(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::string text{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    if (stream.bad()) {
        throw std::runtime_error("cannot read " + file.string());
    }
    return text;
}

void write_file_atomically(const std::filesystem::path& file, std::string_view bytes) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    std::string hiddenName = file.filename().string();
    hiddenName.insert(0, 1, '.');
    hiddenName.append(".XXXXXX");
    std::string temporary = (folder / hiddenName).string();
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) {
        throw std::runtime_error("cannot create a file in " + folder.string());
    }
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(descriptor, bytes.data() + written, bytes.size() - written);
        if (count <= 0) break;
        written += static_cast<size_t>(count);
    }
    const bool synced = written == bytes.size() && fsync(descriptor) == 0;
    const bool closed = close(descriptor) == 0;
    if (!synced || !closed || std::rename(temporary.c_str(), file.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write " + file.string());
    }
    // mkstemp made the file 0600; a manifest is public.
    chmod(file.c_str(), 0644);
}

}  // namespace tools
