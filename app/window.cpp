#include "app/window.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <chrono>
#include <stdexcept>

#include "common/co_task_mem.h"
#include "common/launcher_names.h"
#include "text/utf.h"

namespace installer {
namespace {

constexpr char kNoUserFolder[] = "Не удалось найти папку пользователя";
constexpr char kInitialVersion[] = "0.2.77";

}  // namespace

std::filesystem::path known_folder_path(const KNOWNFOLDERID& folder) {
    common::UniqueCoTaskMemString buffer;
    if (FAILED(::SHGetKnownFolderPath(folder, 0, nullptr, buffer.put())) || !buffer) {
        throw std::runtime_error(kNoUserFolder);
    }
    return std::filesystem::path(buffer.get());
}

int64_t steady_now() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Window::Window(HINSTANCE instance)
    : instance(instance),
      installDir(known_folder_path(FOLDERID_LocalAppData) / L"Programs" / common::kLauncherName),
      desktopDir(known_folder_path(FOLDERID_Desktop)),
      programsDir(known_folder_path(FOLDERID_Programs)),
      versionText(text::wide_from_utf8(kInitialVersion)) {
    startTime = lastTick = steady_now();
}

}  // namespace installer
