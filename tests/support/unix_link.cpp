#include "tests/support/unix_link.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

#include "text/utf.h"

namespace test {

namespace {

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

bool wait_until(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Attributes without following a final link (GetFileAttributesW reports the link itself).
DWORD attributes_of(const std::filesystem::path& path) {
    return GetFileAttributesW(path.c_str());
}

}  // namespace

std::string unix_path_of(const std::filesystem::path& windowsPath) {
    using WineGetUnixFileName = char* (*)(const wchar_t*);
    const auto convert = reinterpret_cast<WineGetUnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) {
        throw std::runtime_error("not running under Wine: no wine_get_unix_file_name");
    }
    char* unixPath = convert(std::filesystem::absolute(windowsPath).c_str());
    if (unixPath == nullptr) {
        throw std::runtime_error("no Unix path for " + windowsPath.string());
    }
    std::string result(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

void run_unix_shell(const std::string& command) {
    std::wstring commandLine = L"/bin/sh -c \"" + text::wide_from_utf8(command) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"Z:\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        throw std::runtime_error("cannot start /bin/sh under Wine");
    }
    // Handles of a Linux child are not waitable under Wine; callers poll for the effect instead.
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
}

UnixLink::UnixLink(const std::filesystem::path& link, const std::filesystem::path& target) : link_(link) {
    std::filesystem::create_directories(link.parent_path());
    run_unix_shell("ln -s " + shell_quote(unix_path_of(target)) + " " + shell_quote(unix_path_of(link)));
    const bool made = wait_until([&] {
        const DWORD attributes = attributes_of(link_);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    });
    if (!made) {
        throw std::runtime_error("the Unix link did not appear: " + link.string());
    }
}

UnixLink::~UnixLink() {
    try {
        run_unix_shell("rm -f " + shell_quote(unix_path_of(link_)));
        wait_until([&] { return attributes_of(link_) == INVALID_FILE_ATTRIBUTES; });
    } catch (...) {
        // Nothing to report from a destructor; tests point links only at disposable folders, so a
        // link left behind costs at most that folder.
    }
}

}  // namespace test
