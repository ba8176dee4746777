#include "DllSearch.h"

#include <windows.h>

namespace velmoor {

void restrictDllSearchToSystem32() {
    // Looked up at run time: Windows versions without the DLL search update lack the call,
    // and there the launcher at least takes the current directory out of the search.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto proc = kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (proc) {
        const auto setDefault =
            reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(proc));
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    ::SetDllDirectoryW(L"");
}

}  // namespace velmoor
