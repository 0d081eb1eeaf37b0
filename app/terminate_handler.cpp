#include <cstdlib>

// What runs when an exception escapes everything (the window procedure and the install task catch
// all, so only a fault in them ends here). The toolchain's own handler first prints the exception's
// demangled type name to standard error, which a windowed program does not have, and brings the
// whole C++ name demangler (45 KB) into the executable for it. This one ends the process as that
// handler does after printing.
namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

}  // namespace __gnu_cxx
