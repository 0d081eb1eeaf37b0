// The known folders the window names, defined here from the system header instead of taken from
// libuuid (render/imaging_ids.cpp says why); the linker keeps only the ones something refers to.
#include <windows.h>

#include <initguid.h>

#include <knownfolders.h>
