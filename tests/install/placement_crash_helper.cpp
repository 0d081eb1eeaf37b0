// Runs one placement in a process of its own so that a test can kill it (TerminateProcess) at any
// moment, as a power cut or a killed installer would.
//   placement_crash_helper.exe MAPPING PAYLOAD INSTALL_DIR DESKTOP_DIR PROGRAMS_DIR BACKUP
// MAPPING names a shared CrashChannel made by the caller. Exit code 0 after success, 1 after a
// failure of the placement, 2 on a usage or set-up error.
#include <windows.h>
#include <objbase.h>

#include <exception>

#include "common/install_state.h"
#include "common/unique_handle.h"
#include "install/placement.h"
#include "tests/install/crash_channel.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 7) {
        return 2;
    }
    const common::UniqueKernelHandle mapping(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, argv[1]));
    if (!mapping) {
        return 2;
    }
    const UniqueMappedView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(CrashChannel)));
    if (!view || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    auto* channel = static_cast<CrashChannel*>(view.get());
    channel->phase = CrashChannel::Placing;
    int result = 0;
    try {
        install::place_package_files(argv[2], argv[3], argv[4], argv[5], argv[6], &channel->progress, &channel->cancel,
                                     &channel->state);
        channel->phase = CrashChannel::Finished;
    } catch (const std::exception&) {
        channel->phase = CrashChannel::Failed;
        result = 1;
    }
    CoUninitialize();
    return result;
}
