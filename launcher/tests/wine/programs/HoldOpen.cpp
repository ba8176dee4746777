// Holds a file open without sharing it, as a running program would, until a line arrives on
// standard input. Prints "held" once the file is open. Wine enforces sharing only between
// Wine processes, so the lock has to come from a Windows program.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    const HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), "held\n", 5, &written, nullptr);
    char line[16];
    DWORD read = 0;
    ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &read, nullptr);
    ::CloseHandle(file);
    return 0;
}
