#include "install/folder_picker.h"

#include <shobjidl.h>

#include <stdexcept>

#include "common/co_task_mem.h"
#include "common/com_ptr.h"

namespace install {

namespace {

constexpr char kNoDialog[] = "Не удалось открыть выбор пути";
constexpr char kNoChoice[] = "Не удалось выбрать путь";
constexpr char kNotFileSystem[] = "Некорректный путь";

}  // namespace

std::filesystem::path pick_path(HWND owner, bool pickFile) {
    common::ComPtr<IFileOpenDialog> dialog;
    if (FAILED(::CoCreateInstance(__uuidof(FileOpenDialog), nullptr, CLSCTX_INPROC_SERVER, __uuidof(IFileOpenDialog),
                                  dialog.put_void()))) {
        throw std::runtime_error(kNoDialog);
    }
    FILEOPENDIALOGOPTIONS options = 0;
    if (FAILED(dialog->GetOptions(&options))) {
        options = 0;
    }
    options |= FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | (pickFile ? FOS_FILEMUSTEXIST : FOS_PICKFOLDERS);
    dialog->SetOptions(options);
    if (pickFile) {
        const COMDLG_FILTERSPEC types[] = {{L"Приложение Windows", L"*.exe"}};
        dialog->SetFileTypes(1, types);
    }

    if (dialog->Show(owner) == HRESULT_FROM_WIN32(ERROR_CANCELLED)) {
        return {};
    }
    // A failed Show leaves no result either; both end in the same message.
    common::ComPtr<IShellItem> item;
    if (FAILED(dialog->GetResult(item.put())) || !item) {
        throw std::runtime_error(kNoChoice);
    }
    common::UniqueCoTaskMemString name;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, name.put())) || !name) {
        throw std::runtime_error(kNotFileSystem);
    }
    return std::filesystem::path(name.get());
}

}  // namespace install
