// Prints what a shortcut points at, read back through the shell as Explorer would, one line each:
// the target path and the working folder (UTF-8). Exit code 1 when the shortcut cannot be read.
//   link_target.exe SHORTCUT.lnk
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>

#include "common/com_ptr.h"
#include "text/utf.h"

namespace {

int print_link(const wchar_t* file) {
    common::ComPtr<IShellLinkW> link;
    common::ComPtr<IPersistFile> persist;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())) ||
        FAILED(link.query(persist)) || FAILED(persist->Load(file, STGM_READ))) {
        std::fputs("link_target: cannot read the shortcut\n", stderr);
        return 1;
    }
    wchar_t target[MAX_PATH * 2] = {};
    wchar_t folder[MAX_PATH * 2] = {};
    if (FAILED(link->GetPath(target, MAX_PATH * 2, nullptr, SLGP_RAWPATH)) ||
        FAILED(link->GetWorkingDirectory(folder, MAX_PATH * 2))) {
        std::fputs("link_target: the shortcut has no path\n", stderr);
        return 1;
    }
    std::printf("%s\n%s\n", text::utf8_from_wide(target).c_str(), text::utf8_from_wide(folder).c_str());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: link_target.exe SHORTCUT.lnk\n", stderr);
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    const int code = print_link(argv[1]);
    CoUninitialize();
    return code;
}
