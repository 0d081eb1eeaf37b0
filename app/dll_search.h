#pragma once

namespace installer {

// Limits where this process looks for DLLs to System32: not the program's folder (often a Downloads
// folder full of strangers' files), not the current folder, not PATH. Run it before anything loads a
// DLL that is not a KnownDLL. Also asks Windows to prefer System32 images and to refuse remote and
// low-integrity ones where it offers that. Returns false when the search could not be limited.
bool restrict_dll_search();

}  // namespace installer
