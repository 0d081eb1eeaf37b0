// Stands in for the launcher: records how it was started into "launch-record.txt" beside itself
// (not in its working folder, which is what is being checked).
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "text/utf.h"

int wmain() {
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    std::wstring folder(32768, L'\0');
    folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    STARTUPINFOW startup{};
    GetStartupInfoW(&startup);

    std::ofstream record(std::filesystem::path(self).parent_path() / L"launch-record.txt", std::ios::binary);
    record << text::utf8_from_wide(GetCommandLineW()) << '\n'
           << text::utf8_from_wide(folder) << '\n'
           << startup.dwFlags << '\n'
           << startup.wShowWindow << '\n'
           << (GetConsoleWindow() != nullptr ? 1 : 0) << '\n';
    return record ? 0 : 1;
}
