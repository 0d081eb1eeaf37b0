#include <windows.h>

#include <delayimp.h>

#include <initializer_list>

#include "app/dll_search.h"

namespace installer {
namespace {

// The delay-load helper would load a lazily imported DLL by its bare name; name System32 explicitly,
// so that not even a failed restriction of the default search could let a planted copy in.
FARPROC WINAPI load_from_system32(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary) {
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(::LoadLibraryExA(info->szDll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

// SetProcessMitigationPolicy is missing on older systems and may refuse a policy on some: neither
// stops the installer, the search restriction above already holds.
void prefer_system32_images() {
    using SetPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel == nullptr ? nullptr : ::GetProcAddress(kernel, "SetProcessMitigationPolicy");
    if (found == nullptr) {
        return;
    }
    PROCESS_MITIGATION_IMAGE_LOAD_POLICY policy{};
    policy.NoRemoteImages = 1;
    policy.NoLowMandatoryLabelImages = 1;
    policy.PreferSystem32Images = 1;
    const auto set_policy = reinterpret_cast<SetPolicy>(reinterpret_cast<void (*)()>(found));
    set_policy(ProcessImageLoadPolicy, &policy, sizeof(policy));
}

// Some system DLLs load others lazily through a path of their own that does not honour the default
// directories on every system (Wine's resolution of a system DLL's delay imports looks beside the
// program first; Windows before the default-directories update did the same for LoadLibrary). Loading
// those from System32 up front leaves such a lookup nothing to search for: a loaded DLL is found by
// name. They stay loaded for the life of the process, as they would once used.
void preload_lazy_dependencies() {
    for (const wchar_t* name : {L"secur32.dll", L"msimg32.dll"}) {
        ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

}  // namespace

bool restrict_dll_search() {
    if (!::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return false;
    }
    // LoadLibrary without flags would still look in the current folder: an empty string removes it.
    ::SetDllDirectoryW(L"");
    prefer_system32_images();
    preload_lazy_dependencies();
    return true;
}

}  // namespace installer

// The delay-load helper's notification hook: <delayimp.h> declares it with C linkage, and this
// definition takes the place of the run-time library's empty one.
PfnDliHook __pfnDliNotifyHook2 = installer::load_from_system32;
