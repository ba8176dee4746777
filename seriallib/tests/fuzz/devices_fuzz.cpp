// Fuzz target: the /proc/devices lookup against the classic fgets-and-sscanf reader, which it
// must agree with wherever that reader's behaviour is defined (numbers that fit an int).
#include <stdio.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "proc_devices.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const int found = pellusk::findMajor(text, "pcmcia");
    if (found != -19 && text.find("pcmcia") == std::string_view::npos) abort();
    for (std::size_t run = 0, i = 0; i < size; ++i)
        if ((run = (data[i] >= '0' && data[i] <= '9') ? run + 1 : 0) >= 10) return 0;
    char line[32], word[32] = "";
    int number = 0;
    FILE* file = size == 0 ? nullptr : fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    while (file != nullptr && fgets(line, sizeof line, file) != nullptr)
        if (sscanf(line, "%d %31s", &number, word) == 2 && strcmp(word, "pcmcia") == 0) break;
    if (file != nullptr) fclose(file);
    if (found != (strcmp(word, "pcmcia") == 0 ? number : -19)) abort();
    return 0;
}
