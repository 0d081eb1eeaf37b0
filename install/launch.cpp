#include "install/launch.h"

#include <windows.h>

#include <stdexcept>
#include <system_error>

namespace install {

namespace fs = std::filesystem;

namespace {

constexpr char kExecutableNotFound[] = "Исполняемый файл не найден. Укажите путь в настройках.";
constexpr char kCannotStart[] = "Windows не смог запустить приложение";

}  // namespace

common::UniqueKernelHandle launch_process(const fs::path& executable, const std::wstring& arguments, bool hidden) {
    std::error_code error;
    const fs::file_status status = fs::status(executable, error);
    if (error && status.type() != fs::file_type::not_found && status.type() != fs::file_type::unknown) {
        throw fs::filesystem_error("status", executable, error);
    }
    if (!fs::is_regular_file(status)) {
        throw std::runtime_error(kExecutableNotFound);
    }

    // The quotes keep a path with blanks one argument for the launcher's own parser.
    std::wstring commandLine = L"\"" + executable.native() + L"\" " + arguments;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    // The launcher finds its assets relative to its working folder. A bare file name has no folder
    // of its own: it then starts in ours rather than in an empty (invalid) one.
    const fs::path folder = executable.parent_path();

    PROCESS_INFORMATION process{};
    if (!CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, hidden ? CREATE_NO_WINDOW : 0,
                        nullptr, folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
        throw std::runtime_error(kCannotStart);
    }
    const common::UniqueKernelHandle thread(process.hThread);
    return common::UniqueKernelHandle(process.hProcess);
}

}  // namespace install
