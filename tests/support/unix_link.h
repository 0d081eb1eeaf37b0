#pragma once

#include <filesystem>
#include <string>

namespace test {

// The Linux path behind a path in the Wine prefix (Wine's own mapping).
std::string unix_path_of(const std::filesystem::path& windowsPath);

// Starts a Linux command line through /bin/sh from inside Wine without waiting for it: Wine starts
// Linux programs but gives no handle to wait on, so callers poll for the command's effect.
void run_unix_shell(const std::string& command);

// A Unix symbolic link made from the Linux side: under Wine it reads as a reparse point, which is
// how link checks are tested (Wine cannot make junctions, and CreateSymbolicLinkW makes nothing).
// The link itself, never its target, is removed from the Linux side when the object goes away.
class UnixLink {
public:
    UnixLink(const std::filesystem::path& link, const std::filesystem::path& target);
    UnixLink(const UnixLink&) = delete;
    UnixLink& operator=(const UnixLink&) = delete;
    ~UnixLink();

    const std::filesystem::path& path() const noexcept { return link_; }

private:
    std::filesystem::path link_;
};

}  // namespace test
