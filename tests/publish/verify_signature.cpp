// Asks Windows whether a file's Authenticode signature is trusted: WinVerifyTrust with the generic
// Authenticode policy, no UI, no revocation check (the test CA publishes no revocation list), and
// prints its result as 0x%08lx (0x00000000 is trusted). The caller decides what each result means.
//   verify_signature.exe FILE
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: verify_signature.exe FILE\n", stderr);
        return 2;
    }
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = argv[1];

    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;

    GUID policy = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &policy, &data);
    // The verification holds state until it is closed, whatever the verdict.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &policy, &data);
    std::printf("0x%08lx\n", static_cast<unsigned long>(result));
    return 0;
}
