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

TemporaryFile::TemporaryFile(const std::filesystem::path& target) : target_(target) {
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string hiddenName = target.filename().string();
    hiddenName.insert(0, 1, '.');
    hiddenName.append(".XXXXXX");
    std::string temporary = (folder / hiddenName).string();
    descriptor_ = mkstemp(temporary.data());
    if (descriptor_ < 0) {
        throw std::runtime_error("cannot create a file in " + folder.string());
    }
    path_ = temporary;
}

TemporaryFile::~TemporaryFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!committed_) std::remove(path_.c_str());
}

void TemporaryFile::close() {
    if (descriptor_ < 0) return;
    const bool synced = fsync(descriptor_) == 0;
    const bool closed = ::close(descriptor_) == 0;
    descriptor_ = -1;
    if (!synced || !closed) throw std::runtime_error("cannot write " + target_.string());
}

void TemporaryFile::commit(unsigned mode) {
    close();
    // mkstemp made the file 0600; a manifest or a package is public.
    if (chmod(path_.c_str(), mode) != 0 || std::rename(path_.c_str(), target_.c_str()) != 0) {
        throw std::runtime_error("cannot write " + target_.string());
    }
    committed_ = true;
}

void write_file_atomically(const std::filesystem::path& file, std::string_view bytes,
                           const std::function<void(const std::filesystem::path&)>& check) {
    TemporaryFile temporary(file);
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(temporary.descriptor(), bytes.data() + written, bytes.size() - written);
        if (count <= 0) throw std::runtime_error("cannot write " + file.string());
        written += static_cast<size_t>(count);
    }
    temporary.close();
    if (check) check(temporary.path());
    temporary.commit(0644);
}

}  // namespace tools
