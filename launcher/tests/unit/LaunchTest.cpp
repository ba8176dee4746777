#include <gtest/gtest.h>

#include "FakeServices.h"
#include "core/AppDirectory.h"
#include "core/FileLookup.h"
#include "core/Launch.h"

namespace velmoor {
namespace {

using testing::FakeServices;
const std::wstring kApp = L"D:\\Apps\\Tarvio";

TEST(FindJarFile, TarvioJarFirstThenTheFirstOrdinaryJarInListingOrder) {
    struct Entry {
        const wchar_t* name;
        bool hidden = false, system = false, directory = false;
        const wchar_t* shortName = L"";
    };
    const struct {
        std::vector<Entry> entries;
        std::wstring expected;
    } cases[] = {
        {{{L"Alpha.jar"}, {L"Tarvio.jar"}}, L"Tarvio.jar"},
        {{{L"Zulu.jar"}, {L"Alpha.jar"}}, L"Zulu.jar"},
        {{{L"Tarvio.jar", true},
          {L"S.jar", false, true},
          {L"F.jar", false, false, true},
          {L"P.jar"}},
         L"P.jar"},
        // Wildcards match short names too: a name that matches only through one is no jar.
        {{{L"Tarvio.jar_old", false, false, false, L"TARVIO~1.JAR"}, {L"Real.JAR"}}, L"Real.JAR"},
        {{{L"readme.txt"}, {L"Hidden.jar", true}}, L""},
    };
    for (const auto& c : cases) {
        FakeServices services;
        for (const Entry& e : c.entries) {
            services.add(kApp + L"\\" + e.name, e.shortName) = {e.name, e.hidden, e.system,
                                                                e.directory};
        }
        EXPECT_EQ(findJarFile(services), c.expected);
        EXPECT_EQ(services.currentDirectory, kApp);
        // None found: the message names the folder.
        EXPECT_EQ(services.messages.size(), c.expected.empty() ? 1u : 0u);
        EXPECT_TRUE(c.expected.size() || services.messages.at(0).ends_with(L"\r\n" + kApp));
    }
}

TEST(FindJavaExecutable, TheInstallsOwnFirstThenProgramFilesInOrder) {
    const auto java = javaCandidates(kApp);
    EXPECT_TRUE(java[0].starts_with(kApp + L"\\"));
    const struct {
        std::vector<std::wstring> present, hidden;
        std::wstring expected;
    } cases[] = {
        {{java[0], java[1], java[2]}, {}, java[0]},
        {{java[2], java[1]}, {}, java[1]},
        {{java[2]}, {java[0], java[1]}, java[2]},
        {{}, {java[0]}, L""},
    };
    for (const auto& c : cases) {
        FakeServices services;
        for (const auto& path : c.present) services.add(path);
        for (const auto& path : c.hidden) services.add(path).hidden = true;
        EXPECT_EQ(findJavaExecutable(services), c.expected);
        EXPECT_EQ(services.messages.size(), c.expected.empty() ? 1u : 0u);
        for (const auto& path : java) {
            EXPECT_TRUE(c.expected.size() ||
                        services.messages.at(0).find(path) != std::wstring::npos);
        }
    }
}

TEST(LoadApplication, StartsTheRuntimeQuotedWithTheJarOrSaysWhyNot) {
    for (const std::wstring& app : {kApp, std::wstring(L"C:\\")}) {
        FakeServices services;
        services.appDirectory = app;
        const std::wstring java = javaCandidates(app)[1];
        services.add(java);
        services.add(app + (app.ends_with(L"\\") ? L"" : L"\\") + L"Tarvio.jar");
        EXPECT_EQ(loadApplication(services), LaunchResult::started);
        // At a drive's root the jar's path keeps the backslash before the slash.
        const std::wstring line = L"\"" + java + L"\" -jar \"" + app + L"/Tarvio.jar\"";
        EXPECT_EQ(services.commandLines, std::vector<std::wstring>{java + L" | " + line});
        services.startSucceeds = false;
        EXPECT_EQ(loadApplication(services), LaunchResult::failed);
        EXPECT_TRUE(services.messages.at(0).ends_with(line));
    }
    FakeServices services;
    services.listingFailure = PlatformError(5, L"Access is denied.", kApp);
    EXPECT_EQ(loadApplication(services), LaunchResult::failed);
    EXPECT_EQ(services.messages, std::vector<std::wstring>{kApp + L"\r\nAccess is denied."});
    EXPECT_EQ(listingSubject(kApp + L"\\*.jar"), kApp);
    EXPECT_EQ(listingSubject(L"C:\\*.jar"), L"C:\\");
    EXPECT_EQ(listingSubject(kApp + L"\\a.exe"), kApp + L"\\a.exe");
    EXPECT_EQ(applicationDirectoryOf(L"C:\\Velmoor.exe"), L"C:\\");
}

TEST(InstallClaimName, OneForEachFolderWhateverTheCaseOfItsLetters) {
    const std::wstring name = installClaimName(kApp);
    EXPECT_EQ(name, installClaimName(L"d:\\APPS\\tarvio"));
    EXPECT_NE(name, installClaimName(kApp + L"2"));
    EXPECT_EQ(name.find(L'\\'), std::wstring::npos);
    EXPECT_EQ(name.size(), installClaimName(std::wstring(4000, L'x')).size());
}

}  // namespace
}  // namespace velmoor
