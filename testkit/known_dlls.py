"""The DLLs that Windows 10 and 11 always map from System32 (the KnownDLLs of
HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs, with the DLLs they depend on),
whatever lies beside a program: the only ones, with the API sets, that a program started from a
Downloads folder may import directly. Names in lower case, without ".dll"."""

KNOWN_DLLS = frozenset("""
    advapi32 bcryptprimitives cfgmgr32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdi32full gdiplus
    imagehlp imm32 kernel32 kernelbase msctf msvcp_win msvcrt normaliz nsi ntdll ole32 oleaut32 psapi
    rpcrt4 sechost setupapi shcore shell32 shlwapi ucrtbase user32 win32u windows.storage wldap32 ws2_32
""".split())


def is_known(dll_name):
    """Whether Windows maps `dll_name` ("USER32.dll", "api-ms-win-core-synch-l1-2-0.dll") from System32 only."""
    stem = dll_name.lower()
    stem = stem[:-4] if stem.endswith(".dll") else stem
    return stem in KNOWN_DLLS or stem.startswith(("api-ms-win-", "ext-ms-win-"))
