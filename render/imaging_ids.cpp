// The imaging identifiers the program names (the WIC factory's class, its pixel formats), defined
// here from the system header instead of taken from libuuid: that library is one object holding
// every identifier of the platform, 40 KB of the executable for the three it uses. Each definition
// here is its own discardable section; the linker keeps only the ones something refers to.
#include <windows.h>

#include <initguid.h>

#include <wincodec.h>
