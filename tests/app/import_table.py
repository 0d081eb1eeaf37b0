#!/usr/bin/env python3
"""Fails when an executable's import table names a DLL that Windows would look for beside the program
(anything but the KnownDLLs and the API sets): the loader resolves that table before wWinMain can
restrict the DLL search, so such a DLL planted in a Downloads folder would run as the player. Every
other DLL is delay-imported (cmake/DelayImports.cmake).

    import_table.py OBJDUMP PROGRAM.exe...
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit.known_dlls import is_known  # noqa: E402


def imported_dlls(objdump, program):
    """The DLL names of the import table proper (objdump lists delay imports apart, if at all)."""
    dump = subprocess.run([objdump, "-p", program], capture_output=True, text=True, check=True).stdout
    names, in_imports = [], False
    for line in dump.splitlines():
        if line.startswith("The Import Tables"):
            in_imports = True
        elif in_imports and line.startswith("The ") and "Import" not in line:
            in_imports = False
        elif in_imports and line.strip().startswith("DLL Name:"):
            names.append(line.split(":", 1)[1].strip())
    return names


def main():
    objdump, programs = sys.argv[1], sys.argv[2:]
    failed = False
    for program in programs:
        names = imported_dlls(objdump, program)
        if not names:
            print(f"import_table: {program}: no import table found", file=sys.stderr)
            failed = True
        unsafe = [name for name in names if not is_known(name)]
        if unsafe:
            print(f"import_table: {os.path.basename(program)} imports {', '.join(unsafe)} directly: a copy planted "
                  "beside it would be loaded before wWinMain; delay-import it (cmake/DelayImports.cmake)",
                  file=sys.stderr)
            failed = True
        else:
            print(f"import_table: {os.path.basename(program)} imports only {', '.join(names)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
