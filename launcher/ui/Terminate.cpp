#include <cstdlib>

// The launcher has no console to print a demangled type name on, so the runtime's verbose
// terminate handler would only add its demangler (a sixth of the executable) for nothing.
// Defining the handler here keeps the runtime's copy out of the link.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx
