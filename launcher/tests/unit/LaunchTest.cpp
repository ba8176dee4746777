#include <gtest/gtest.h>

#include "FakeServices.h"
#include "core/AppDirectory.h"
#include "core/Launch.h"

namespace velmoor {
namespace {

using testing::FakeServices;

const std::wstring kApp = L"D:\\Apps\\Tarvio";
const std::wstring kJava1 = kApp + L"\\jre\\bin\\java.exe";
const std::wstring kJava2 = L"C:\\Program Files\\Ostrel RFID\\Tarvio\\jre\\bin\\java.exe";
const std::wstring kJava3 = L"C:\\Program Files\\Ostrel RFID Tarvio\\jre\\bin\\java.exe";

TEST(FindJarFile, PrefersTarvioJarOverJarsListedBeforeIt) {
    FakeServices services;
    services.add(kApp + L"\\Alpha.jar");
    services.add(kApp + L"\\Tarvio.jar");
    EXPECT_EQ(findJarFile(services), L"Tarvio.jar");
    EXPECT_EQ(services.currentDirectory, kApp);
    EXPECT_TRUE(services.messages.empty());
}

TEST(FindJarFile, TakesTheFirstJarInListingOrderWithoutSorting) {
    FakeServices services;
    services.add(kApp + L"\\Zulu.jar");
    services.add(kApp + L"\\Alpha.jar");
    EXPECT_EQ(findJarFile(services), L"Zulu.jar");
}

TEST(FindJarFile, PassesOverHiddenSystemAndFolderEntries) {
    FakeServices services;
    services.add(kApp + L"\\Tarvio.jar").entry.hidden = true;
    services.add(kApp + L"\\System.jar").entry.system = true;
    services.add(kApp + L"\\Folder.jar").entry.directory = true;
    services.add(kApp + L"\\Plain.jar");
    EXPECT_EQ(findJarFile(services), L"Plain.jar");
}

TEST(FindJarFile, PassesOverNamesThatMatchOnlyThroughTheirShortName) {
    FakeServices services;
    services.add(kApp + L"\\Tarvio.jar_old", L"TARVIO~1.JAR");
    services.add(kApp + L"\\x.jarx", L"X~1.JAR");
    services.add(kApp + L"\\Real.JAR");
    EXPECT_EQ(findJarFile(services), L"Real.JAR");
}

TEST(FindJarFile, ReportsAnEmptyFolderWithMessageOne) {
    FakeServices services;
    services.add(kApp + L"\\readme.txt");
    services.add(kApp + L"\\Hidden.jar").entry.hidden = true;
    EXPECT_EQ(findJarFile(services), L"");
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0],
              L"Error: No Java Application File (JAR File) Found in Directory\r\nD:\\Apps\\Tarvio");
}

TEST(FindJavaExecutable, TriesTheCandidatesInOrder) {
    struct Case {
        std::vector<std::wstring> present;
        std::wstring expected;
    };
    const Case cases[] = {
        {{kJava1, kJava2, kJava3}, kJava1},
        {{kJava2, kJava3}, kJava2},
        {{kJava3}, kJava3},
    };
    for (const auto& c : cases) {
        FakeServices services;
        for (const auto& path : c.present) services.add(path);
        EXPECT_EQ(findJavaExecutable(services), c.expected);
        EXPECT_TRUE(services.messages.empty());
    }
}

TEST(FindJavaExecutable, IgnoresAHiddenRuntimeAndAFolderNamedLikeOne) {
    FakeServices services;
    services.add(kJava1).entry.hidden = true;
    services.add(kJava2).entry.directory = true;
    services.add(kJava3);
    EXPECT_EQ(findJavaExecutable(services), kJava3);
}

TEST(FindJavaExecutable, ListsAllThreePathsInMessageTwo) {
    FakeServices services;
    EXPECT_EQ(findJavaExecutable(services), L"");
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0],
              L"Error: No Java Executable File Found at:\r\n"
              L"D:\\Apps\\Tarvio\\jre\\bin\\java.exe\r\nor\r\n"
              L"C:\\Program Files\\Ostrel RFID\\Tarvio\\jre\\bin\\java.exe\r\nor\r\n"
              L"C:\\Program Files\\Ostrel RFID Tarvio\\jre\\bin\\java.exe");
}

TEST(LoadApplication, StartsEachCandidateQuotedWithTheJarPathAfterJar) {
    for (const auto& java : {kJava1, kJava2, kJava3}) {
        FakeServices services;
        services.add(kApp + L"\\Tarvio.jar");
        services.add(java);
        EXPECT_EQ(loadApplication(services), LaunchResult::started);
        ASSERT_EQ(services.starts.size(), 1u);
        EXPECT_EQ(services.starts[0].program, java);
        EXPECT_EQ(services.starts[0].commandLine,
                  L"\"" + java + L"\" -jar \"D:\\Apps\\Tarvio/Tarvio.jar\"");
        EXPECT_EQ(services.currentDirectory, kApp);
        EXPECT_TRUE(services.messages.empty());
    }
}

TEST(LoadApplication, AtADriveRootDoublesTheBackslashAndKeepsTheSlash) {
    EXPECT_EQ(applicationDirectoryOf(L"C:\\Velmoor.exe"), L"C:\\");
    EXPECT_EQ(applicationDirectoryOf(L"D:\\Apps\\Tarvio\\Velmoor.exe"), L"D:\\Apps\\Tarvio");

    FakeServices services;
    services.appDirectory = L"C:\\";
    services.add(L"C:\\Tarvio.jar");
    services.add(kJava3);
    EXPECT_EQ(loadApplication(services), LaunchResult::started);
    EXPECT_EQ(services.listedPatterns.at(0), L"C:\\\\Tarvio.jar");
    EXPECT_EQ(services.listedPatterns.at(1), L"C:\\\\jre\\bin\\java.exe");
    EXPECT_EQ(services.starts.at(0).commandLine, L"\"" + kJava3 + L"\" -jar \"C:\\/Tarvio.jar\"");
}

TEST(InstallClaimName, OneForEachFolderWhateverTheCaseOfItsLetters) {
    const std::wstring name = installClaimName(L"D:\\Apps\\Tarvio");
    EXPECT_EQ(name, installClaimName(L"d:\\APPS\\tarvio"));
    EXPECT_NE(name, installClaimName(L"D:\\Apps\\Tarvio2"));
    EXPECT_EQ(name.find(L'\\'), std::wstring::npos);
    EXPECT_EQ(name.size(), installClaimName(std::wstring(4000, L'x')).size());
}

TEST(LoadApplication, ReportsAFailedStartWithTheCommandLineInMessageThree) {
    FakeServices services;
    services.add(kApp + L"\\Tarvio.jar");
    services.add(kJava2);
    services.startSucceeds = false;
    EXPECT_EQ(loadApplication(services), LaunchResult::failed);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0], L"Error launching application: \"" + kJava2 +
                                        L"\" -jar \"D:\\Apps\\Tarvio/Tarvio.jar\"");
}

TEST(LoadApplication, StartsNothingWhenJarOrJavaIsMissing) {
    FakeServices noJar;
    noJar.add(kJava1);
    EXPECT_EQ(loadApplication(noJar), LaunchResult::failed);
    EXPECT_TRUE(noJar.starts.empty());
    EXPECT_EQ(noJar.messages.size(), 1u);

    FakeServices noJava;
    noJava.add(kApp + L"\\Tarvio.jar");
    EXPECT_EQ(loadApplication(noJava), LaunchResult::failed);
    EXPECT_TRUE(noJava.starts.empty());
    EXPECT_EQ(noJava.messages.size(), 1u);
}

TEST(LoadApplication, ReportsAnUnexpectedPlatformFailureWithWhatItConcerns) {
    FakeServices services;
    services.listingFailure = PlatformError(5, L"Access is denied.", kApp);
    EXPECT_EQ(loadApplication(services), LaunchResult::failed);
    services.listingFailure = PlatformError(21, L"The device is not ready.");
    EXPECT_EQ(loadApplication(services), LaunchResult::failed);
    EXPECT_TRUE(services.starts.empty());
    EXPECT_EQ(services.messages, (std::vector<std::wstring>{kApp + L"\r\nAccess is denied.",
                                                            L"The device is not ready."}));
    EXPECT_EQ(listingSubject(kApp + L"\\*.jar"), kApp);
    EXPECT_EQ(listingSubject(L"C:\\*.jar"), L"C:\\");
    EXPECT_EQ(listingSubject(kJava1), kJava1);
}

}  // namespace
}  // namespace velmoor
