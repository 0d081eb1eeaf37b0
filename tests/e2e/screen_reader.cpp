// A screen reader's stand-in, run beside the real installer: it finds the installer's window and
// either prints the window's UI Automation tree, one element a line ("type<TAB>automationId<TAB>
// focus<TAB>name", UTF-8), or presses the button of that name through MSAA's default action.
//   screen_reader.exe tree
//   screen_reader.exe press NAME
#include <windows.h>
#include <oleacc.h>

#include <cstdio>
#include <string>

#include "tests/app/uia_client.h"
#include "text/utf.h"

namespace {

int print_tree(HWND window) {
    for (const test::UiaElementView& element : test::read_uia_tree(window)) {
        std::printf("%ld\t%s\t%d\t%s\n", element.controlType, text::utf8_from_wide(element.automationId).c_str(),
                    element.hasFocus ? 1 : 0, text::utf8_from_wide(element.name).c_str());
    }
    return 0;
}

int press(HWND window, const std::wstring& name) {
    int result = 3;
    test::on_reader_thread([&] {
        IAccessible* object = nullptr;
        if (FAILED(::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                                reinterpret_cast<void**>(&object)))) {
            result = 2;
            return;
        }
        long count = 0;
        object->get_accChildCount(&count);
        for (long i = 1; i <= count && result == 3; ++i) {
            VARIANT child;
            ::VariantInit(&child);
            child.vt = VT_I4;
            child.lVal = i;
            BSTR childName = nullptr;
            if (object->get_accName(child, &childName) == S_OK && childName != nullptr && name == childName) {
                result = SUCCEEDED(object->accDoDefaultAction(child)) ? 0 : 4;
            }
            ::SysFreeString(childName);
        }
        object->Release();
    });
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HWND window = ::FindWindowW(L"KorvaneInstaller", nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "no installer window\n");
        return 1;
    }
    int result = 1;
    try {
        const std::wstring command = argc > 1 ? argv[1] : L"tree";
        result = command == L"press" && argc > 2 ? press(window, argv[2]) : print_tree(window);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    std::fflush(stdout);
    ::CoUninitialize();
    return result;
}
