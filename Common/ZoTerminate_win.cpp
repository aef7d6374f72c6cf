// The programs' terminate handler. The standard library's default one prints the
// uncaught exception's demangled type to a console these windowed programs do not
// have, and its demangler is some 46 KB of each program. Linked as an object (not
// from the library), so the linker takes these definitions before the library's:
// the handler variable, and the verbose handler itself, which `std::set_terminate`
// names as the default and so would bring the demangler back on its own.
#include <cstdlib>
#include <exception>

namespace __cxxabiv1 {
std::terminate_handler __terminate_handler = std::abort;
}

void __gnu_cxx::__verbose_terminate_handler() {
    std::abort();
}
