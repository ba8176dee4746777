#pragma once

namespace velmoor {

// Keeps a DLL planted in the application or current directory from being loaded in place of a
// system DLL: from here on the launcher loads DLLs from System32 only. Call it first thing.
void restrictDllSearchToSystem32();

}  // namespace velmoor
