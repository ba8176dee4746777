// The manifest reader against what java's own reader makes of the same bytes.
#include <gtest/gtest.h>

#include "core/Manifest.h"

namespace velmoor {
namespace {

TEST(Manifest, ReadAsJavaReadsIt) {
    // java reads a line of up to 512 bytes, its line end included.
    const std::string longest(499, 'x');
    const struct {
        std::string bytes;
        std::optional<std::string> mainClass;  // "refused": java refuses the file
        std::string sections = "";             // each entry section as "name=raw bytes|"
    } cases[] = {
        {"Manifest-Version: 1.0\r\nMain-Class: a.B\r\n\r\n", "a.B"},
        {"Main-Class: com.exam\r\n ple.Ma\n in\rCreated-By: 17\n", "com.example.Main"},
        {"main-class: a.B\nMAIN-CLASS: c.D\n", "c.D"},
        // Without its line end the last line is lost, continuation and all.
        {"Manifest-Version: 1.0\nMain-Class: a.B", {}},
        {"Main-Class: a.B\n more", {}},
        {"Main-Class: a.B\n\n" + std::string(512, 'x'), "refused"},  // a last line that fills it
        {"Main-Class: " + longest + "\n", longest},
        {"Main-Class: " + longest.substr(1) + "\r\nX: 1\r\n", longest.substr(1)},
        {"Main-Class: " + longest + "x\n", "refused"},
        {"Main-Class:a.B\n", "refused"},
        {"Main Class: a.B\n", "refused"},
        {"Main-Class:\n", "refused"},
        {"Main-Class: a.B\nX: \n", "a.B"},
        {" a.B\n", "refused"},
        // Names of up to 70 letters, digits, '-' and '_'.
        {"Main-Class: a.B\nazAZ09_" + std::string(63, 'x') + ": v\n", "a.B"},
        {std::string(71, 'x') + ": v\n", "refused"},
        {"Main-Class: a.B\n\nMain-Class: c.D\n", "refused"},
        {"Main-Class: a.B\n\nName: a/B.class\nSHA-256-Digest: x=\n\n\n\nNAME: c/\n D\nK: v\n",
         "a.B", "a/B.class=Name: a/B.class\nSHA-256-Digest: x=\n\n|c/D=NAME: c/\n D\nK: v\n|"},
        {"Main-Class: a.B\n\nName: \nK: v\n", "a.B", "=Name: \nK: v\n|"},
        {"Main-Class: a.B\n\nName: a\n " + std::string(511, 'x') + "\n", "refused"},
        // A section whose name is cut off by the end of the file names nothing.
        {"\nName: a\n b", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const std::optional<Manifest> manifest = parseManifest(c.bytes);
        ASSERT_EQ(manifest.has_value(), c.mainClass != "refused");
        if (!manifest) continue;
        const std::string* mainClass = manifest->main.find("Main-Class");
        EXPECT_EQ(mainClass ? std::optional(*mainClass) : std::nullopt, c.mainClass);
        std::string sections;
        for (const ManifestSection& s : manifest->entries)
            sections += s.name + "=" + std::string(s.raw) + "|";
        EXPECT_EQ(sections, c.sections);
        EXPECT_EQ(manifest->main.raw,
                  std::string_view(c.bytes).substr(0, manifest->main.raw.size()));
    }
}

}  // namespace
}  // namespace velmoor
