// Usage: verifyjar FOLDER JAR...: reads each FOLDER\JAR.jar as an update's copy is read, with the
// launcher's own crypto (CNG and crypt32), and prints "JAR | " and what its signatures say, as
// the signature vectors' table has it (the keys named by FOLDER\ALIAS.key).
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/vectors/SignatureVectors.h"
#include "ui/Win32Crypto.h"

namespace {

std::vector<unsigned char> bytesOf(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::filesystem::path folder(argv[1]);
    std::map<std::string, std::string> aliases;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        if (file.path().extension() != ".key") continue;
        const std::vector<unsigned char> key = bytesOf(file.path());
        aliases[std::string(key.begin(), key.begin() + 64)] = file.path().stem().string();
    }
    velmoor::Win32Crypto crypto;
    for (int i = 2; i < argc; ++i) {
        const std::filesystem::path jar = folder / (std::wstring(argv[i]) + L".jar");
        std::printf("%s | %s\n", std::filesystem::path(argv[i]).string().c_str(),
                    velmoor::vectors::describe(bytesOf(jar), crypto, aliases).c_str());
    }
    return 0;
}
