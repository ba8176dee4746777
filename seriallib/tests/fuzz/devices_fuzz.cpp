// Fuzz target: the /proc/devices lookup against the classic fgets-and-sscanf reader, which it
// must agree with wherever that reader's behaviour is defined (numbers that fit an int).
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "proc_devices.h"

namespace {

int classicLookup(const std::uint8_t* data, std::size_t size, const char* name) {
    if (size == 0) return -19;
    FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    if (file == nullptr) abort();
    char line[32];
    char word[32] = "";
    int number = 0;
    while (fgets(line, sizeof line, file) != nullptr) {
        if (sscanf(line, "%d %31s", &number, word) == 2 && strcmp(word, name) == 0) break;
    }
    fclose(file);
    return strcmp(word, name) == 0 ? number : -19;
}

bool hasLongNumber(const std::uint8_t* data, std::size_t size) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < size; ++i) {
        run = (data[i] >= '0' && data[i] <= '9') ? run + 1 : 0;
        if (run >= 10) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const int found = pellusk::findMajor(text, "pcmcia");
    if (found != -19 && text.find("pcmcia") == std::string_view::npos) abort();
    if (!hasLongNumber(data, size) && found != classicLookup(data, size, "pcmcia")) abort();
    return 0;
}
