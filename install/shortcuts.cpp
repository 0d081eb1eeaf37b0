#include "install/shortcuts.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <stdexcept>
#include <system_error>
#include <vector>

#include "common/com_ptr.h"
#include "common/launcher_names.h"
#include "common/support_log.h"
#include "common/windows_call.h"
#include "crypto/random_hex.h"
#include "install/cleanup.h"
#include "text/utf.h"

namespace install {

namespace fs = std::filesystem;

namespace {

constexpr char kCannotCreateLink[] = "Не удалось создать ярлык";
constexpr char kCannotSetTarget[] = "Не удалось задать путь ярлыка";
constexpr char kCannotSetFolder[] = "Не удалось задать папку ярлыка";
constexpr char kCannotSetIcon[] = "Не удалось задать значок ярлыка";
constexpr char kCannotSetName[] = "Не удалось задать название ярлыка";
constexpr char kCannotSaveLink[] = "Не удалось сохранить ярлык";
constexpr char kNoAccessToFolder[] = "Нет доступа к папке ярлыков";

// One shortcut on its way into a folder. The hidden names carry fresh random digits, so files left
// by an interrupted earlier run are never mistaken for this call's own.
struct ShortcutSlot {
    fs::path finalPath;
    fs::path tempPath;
    fs::path backupPath;
    bool movedAside = false;  // the earlier finalPath now lies at backupPath
    bool installed = false;   // tempPath has become finalPath
};

ShortcutSlot make_slot(const fs::path& folder) {
    const std::wstring digits = text::wide_from_utf8(crypto::random_hex(8));
    ShortcutSlot slot;
    slot.finalPath = folder / common::kShortcutName;
    slot.tempPath = folder / (common::kShortcutTempPrefix + digits + L".lnk");
    slot.backupPath = folder / (common::kShortcutTempPrefix + digits + L".bak");
    return slot;
}

common::ComPtr<IShellLinkW> make_launcher_link(const fs::path& installDir) {
    common::ComPtr<IShellLinkW> link;
    common::throw_if_failed(
        CoCreateInstance(__uuidof(ShellLink), nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW), link.put_void()),
        kCannotCreateLink);
    const fs::path executable = installDir / common::kLauncherExecutable;
    common::throw_if_failed(link->SetPath(executable.c_str()), kCannotSetTarget);
    common::throw_if_failed(link->SetWorkingDirectory(installDir.c_str()), kCannotSetFolder);
    common::throw_if_failed(link->SetIconLocation(executable.c_str(), 0), kCannotSetIcon);
    common::throw_if_failed(link->SetDescription(common::kLauncherName), kCannotSetName);
    return link;
}

// Moves an existing shortcut of the visible name aside, then the new one into place. The final
// move does not replace: if something reappeared at the visible name, it is not overwritten.
void install_slot(ShortcutSlot& slot) {
    std::error_code error;
    const fs::file_status existing = fs::status(slot.finalPath, error);
    if (error && existing.type() != fs::file_type::not_found) {
        throw fs::filesystem_error("exists", slot.finalPath, error);
    }
    if (fs::exists(existing)) {
        fs::rename(slot.finalPath, slot.backupPath);
        slot.movedAside = true;
    }
    if (!MoveFileExW(slot.tempPath.c_str(), slot.finalPath.c_str(), MOVEFILE_WRITE_THROUGH)) {
        throw std::runtime_error(kCannotSaveLink);
    }
    slot.installed = true;
}

// Puts both folders back as they were; nothing here may throw over the failure being reported.
void undo(const std::vector<ShortcutSlot>& slots) {
    for (auto it = slots.rbegin(); it != slots.rend(); ++it) {
        std::error_code ignored;
        if (it->installed) {
            fs::remove(it->finalPath, ignored);
        }
        if (it->movedAside) {
            fs::rename(it->backupPath, it->finalPath, ignored);
        }
        fs::remove(it->tempPath, ignored);
    }
}

}  // namespace

void create_launcher_shortcuts(const fs::path& installDir, const fs::path& desktopDir, const fs::path& programsDir) {
    const common::ComPtr<IShellLinkW> link = make_launcher_link(installDir);
    common::ComPtr<IPersistFile> file;
    common::throw_if_failed(link.query(file), kCannotSaveLink);

    std::vector<ShortcutSlot> slots;
    try {
        for (const fs::path* folder : {&desktopDir, &programsDir}) {
            std::error_code error;
            fs::create_directories(*folder, error);
            if (error) {
                throw fs::filesystem_error("create_directories", *folder, error);
            }
            slots.push_back(make_slot(*folder));
            common::throw_if_failed(file->Save(slots.back().tempPath.c_str(), TRUE), kNoAccessToFolder);
        }
        // Only once both links are saved does either folder change what it shows.
        for (ShortcutSlot& slot : slots) {
            install_slot(slot);
        }
        for (const ShortcutSlot& slot : slots) {
            if (slot.movedAside) {
                std::error_code ignored;
                fs::remove(slot.backupPath, ignored);
            }
            SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, slot.finalPath.c_str(), nullptr);
            common::support_log("shortcut", slot.movedAside ? "replaced " : "created ", slot.finalPath);
        }
    } catch (const std::exception& error) {
        common::support_log("shortcut", "failed: ", error.what(), "; both folders put back");
        undo(slots);
        throw;
    } catch (...) {
        undo(slots);
        throw;
    }
    // Both links are in place: hidden names that interrupted runs left behind have no use any more.
    for (const fs::path* folder : {&desktopDir, &programsDir}) {
        remove_stale_shortcut_temporaries(*folder);
    }
}

}  // namespace install
