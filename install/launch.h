#pragma once

#include <filesystem>
#include <string>

#include "common/unique_handle.h"

namespace install {

// Starts the executable in its own folder with the command line "\"<executable>\" <arguments>"
// (ending in a blank when there are no arguments) and returns the new process, owned by the
// caller. hidden starts it without a console and with its window hidden.
// Throws "Исполняемый файл не найден. Укажите путь в настройках." when the path is not a regular
// file, the filesystem error "status" when it cannot be examined, and "Windows не смог запустить
// приложение" when Windows refuses to start it.
common::UniqueKernelHandle launch_process(const std::filesystem::path& executable, const std::wstring& arguments,
                                          bool hidden);

}  // namespace install
