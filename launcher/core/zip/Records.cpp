#include "core/zip/Records.h"

#include <algorithm>

namespace velmoor::zip {

JarVerdict readZip64Extra(const unsigned char* extra, std::size_t length,
                          std::initializer_list<std::uint64_t*> saturated) {
    bool read = false;
    for (std::size_t at = 0; at + 4 <= length;) {
        const std::uint16_t id = le16(extra + at);
        const std::size_t size = le16(extra + at + 2);
        if (size > length - at - 4) return JarVerdict::damaged;
        if (id == kZip64ExtendedInfoHeaderId && !read) {
            std::size_t field = at + 4;
            for (std::uint64_t* value : saturated) {
                if (value == nullptr) continue;
                if (field + 8 > at + 4 + size) return JarVerdict::damaged;
                *value = le64(extra + field);
                field += 8;
            }
            read = true;
        }
        at += 4 + size;
    }
    return read || std::all_of(saturated.begin(), saturated.end(),
                               [](auto* v) { return v == nullptr; })
               ? JarVerdict::complete
               : JarVerdict::damaged;
}

}  // namespace velmoor::zip
