// The launcher's platform-free decisions, on an in-memory file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <future>
#include <map>
#include <set>
#include <thread>

#include "OpenSslCrypto.h"
#include "TestJar.h"
#include "core/AppDirectory.h"
#include "core/FileLookup.h"
#include "core/Launch.h"
#include "core/Messages.h"
#include "core/PlatformError.h"
#include "core/SplashCounter.h"
#include "core/SplashLayout.h"
#include "core/TextEncoding.h"
#include "core/Update.h"
#include "core/UpdateCheckRun.h"
#include "core/UpdateCopy.h"
#include "core/UpdateTrial.h"

namespace velmoor {
namespace {

// Folders list their entries in the order added. Short names, which "*.jar" also matches on
// Windows, are the launch scenarios' to show.
struct FakeServices : Services {
    std::wstring appDirectory = L"D:\\Apps\\Tarvio";
    std::map<std::wstring, std::vector<DirEntry>> folders;
    std::map<std::wstring, std::wstring> contents;
    std::map<std::wstring, std::int64_t> times;
    std::vector<std::wstring> messages, questions, commandLines;
    // Characters past Latin-1 do not fit java's command line; the short forms of paths.
    std::map<std::wstring, std::wstring> shortPaths;
    std::set<std::wstring> hidden, heldOpen, stuck;
    std::optional<PlatformError> readFailure, openFailure, moveFailure;
    // The bytes of the files that copies read and write.
    std::map<std::wstring, std::string> files;
    std::vector<std::wstring> removed;
    int writes = 0;
    bool readOnlyInstall = false, unreadableJars = false;
    std::int64_t now = 150;
    std::function<void()> beforeRead = [] {};
    OpenSslCrypto openSsl;

    DirEntry& add(const std::wstring& path) {
        const auto slash = path.rfind(L'\\');
        return folders[path.substr(0, slash)].emplace_back(DirEntry{path.substr(slash + 1)});
    }
    static std::wstring lower(std::wstring text) {
        for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
        return text;
    }
    void listDirectory(const std::wstring& pattern,
                       const std::function<bool(const DirEntry&)>& visit) override {
        const auto slash = pattern.rfind(L'\\');
        // "C:\\Tarvio.jar" lists the root folder, as it does on Windows.
        const auto folder = pattern.find_last_not_of(L'\\', slash);
        const std::wstring mask = lower(pattern.substr(slash + 1));
        for (const DirEntry& entry : folders[pattern.substr(0, folder + 1)]) {
            const std::wstring name = lower(entry.name);
            if ((mask[0] == L'*' ? name.ends_with(mask.substr(1)) : name == mask) && !visit(entry))
                return;
        }
    }
    std::wstring applicationDirectory() override { return appDirectory; }
    void setCurrentDirectory(const std::wstring&) override {}
    void showMessage(const std::wstring& text) override { messages.push_back(text); }
    // No: what a Yes leads to is the update scenarios' to show.
    bool askYesNo(const std::wstring& text) override {
        questions.push_back(text);
        return false;
    }
    struct Process : StartedProcess {
        std::optional<std::uint32_t> exitCode() override { return 1; }
        std::wstring errorOutput() override { return L"Error: no main manifest attribute"; }
    };
    std::optional<PlatformError> startFailure;
    std::unique_ptr<StartedProcess> startHidden(const std::wstring& program,
                                                const std::wstring& commandLine) override {
        if (startFailure) throw *startFailure;
        commandLines.push_back(program + L" | " + commandLine);
        return std::make_unique<Process>();
    }
    bool fitsJavaCommandLine(std::wstring_view text) override {
        return std::ranges::all_of(text, [](wchar_t c) { return c < 0x100; });
    }
    std::optional<std::wstring> shortPath(const std::wstring& path) override {
        return shortPaths.count(path) ? std::optional(shortPaths[path]) : std::nullopt;
    }
    bool canReplace(const std::wstring& path) override { return !heldOpen.count(path); }
    void setHidden(const std::wstring& path, bool hide) override {
        if (hide)
            hidden.insert(path);
        else
            hidden.erase(path);
    }
    void removeLeftover(const std::wstring& path) override {
        if (stuck.count(path)) throw PlatformError(145, L"The directory is not empty.", path);
        removeFile(path);
    }
    std::optional<std::int64_t> lastModified(const std::wstring& path) override {
        return times.count(path) ? std::optional(times[path]) : std::nullopt;
    }
    TextFile readTextFile(const std::wstring& path, std::size_t maxBytes) override {
        if (readFailure) throw *readFailure;
        const std::wstring& text = contents.at(path);
        return {text.substr(0, maxBytes), text.size() > maxBytes};
    }
    // A file that copies read is read as it is; any other jar is an empty but complete archive:
    // its end record alone. An unreadable one says it is long, and fails every read.
    struct Unreadable : ByteSource {
        std::uint64_t size() override { return 1000; }
        bool read(std::uint64_t, void*, std::size_t) override { return false; }
    };
    std::unique_ptr<ByteSource> openBytes(const std::wstring& path) override {
        static const unsigned char kEmptyJar[22] = {'P', 'K', 5, 6};
        if (openFailure) throw *openFailure;
        if (unreadableJars) return std::make_unique<Unreadable>();
        if (!files.count(path)) return std::make_unique<MemorySource>(kEmptyJar);
        const std::string& bytes = files[path];
        return std::make_unique<MemorySource>(
            std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
    }
    std::int64_t currentTime() override { return now; }
    std::optional<std::uint64_t> fileSize(const std::wstring& path) override {
        return files.count(path) ? std::optional<std::uint64_t>(files[path].size()) : std::nullopt;
    }
    void linkOrCopy(const std::wstring& existing, const std::wstring& target) override {
        files[target] = files.at(existing), times[target] = times.at(existing);
    }
    void writeFileReplacing(const std::wstring& path, std::string_view bytes) override {
        files[path] = bytes, times[path] = now, hidden.erase(path);
    }
    // A read failure hits the second chunk.
    struct Copy : FileCopy {
        FakeServices& fs;
        std::wstring from, to;
        std::size_t at = 0;
        Copy(FakeServices& s, std::wstring f, std::wstring t) : fs(s), from(f), to(t) {}
        std::uint64_t size() override { return fs.files[from].size(); }
        std::size_t read(void* into, std::size_t count) override {
            if (fs.beforeRead(), fs.readFailure && at > 0) throw *fs.readFailure;
            const std::size_t n = fs.files[from].copy(static_cast<char*>(into), count, at);
            return at += n, n;
        }
        void write(const void* data, std::size_t n) override {
            fs.files[to].append(static_cast<const char*>(data), n), ++fs.writes;
        }
        void finish() override { fs.times[to] = fs.times[from]; }
    };
    std::unique_ptr<FileCopy> startCopy(const std::wstring& from, const std::wstring& to) override {
        return files[to].clear(), std::make_unique<Copy>(*this, from, to);
    }
    CryptoService& crypto() override { return openSsl; }
    bool canCreateFile(const std::wstring&) override { return !readOnlyInstall; }
    // A move keeps the file's attributes, as it does on Windows.
    void moveReplacing(const std::wstring& source, const std::wstring& target) override {
        if (moveFailure && target == moveFailureTarget) {
            const PlatformError failure = *moveFailure;
            moveFailure.reset();
            throw failure;
        }
        files[target] = files[source], times[target] = times[source], files.erase(source);
        times.erase(source);
        if (hidden.erase(source))
            hidden.insert(target);
        else
            hidden.erase(target);
    }
    std::wstring moveFailureTarget = L"D:\\Apps\\Tarvio\\Tarvio.jar";
    void removeFile(const std::wstring& path) noexcept override {
        removed.push_back(path);
        files.erase(path), hidden.erase(path);
        times.erase(path);
    }
};

const std::wstring kApp = L"D:\\Apps\\Tarvio";

TEST(FindJarFile, TarvioJarFirstThenTheFirstOrdinaryJarInListingOrder) {
    const struct {
        std::vector<DirEntry> entries;
        std::wstring expected;
    } cases[] = {
        {{{L"Alpha.jar"}, {L"Tarvio.jar"}}, L"Tarvio.jar"},
        {{{L"Zulu.JAR"}, {L"Alpha.jar"}}, L"Zulu.JAR"},
        {{{L"Tarvio.jar", true},
          {L"S.jar", false, true},
          {L"F.jar", false, false, true},
          {L"P.jar"}},
         L"P.jar"},
        {{{L"readme.txt"}, {L"Hidden.jar", true}}, L""},
    };
    for (const auto& c : cases) {
        FakeServices services;
        for (const DirEntry& e : c.entries) services.add(kApp + L"\\" + e.name) = e;
        EXPECT_EQ(findJarFile(services), c.expected);
        EXPECT_EQ(services.messages.size(), c.expected.empty() ? 1u : 0u);
    }
}

// Which of the three places goes first is the launch scenarios' to show; here, hidden files.
TEST(FindJavaExecutable, AHiddenRuntimeIsNone) {
    const auto java = javaCandidates(kApp);
    FakeServices services;
    services.add(java[0]).hidden = true;
    services.add(java[1]).hidden = true;
    services.add(java[2]);
    EXPECT_EQ(findJavaExecutable(services), java[2]);
    EXPECT_TRUE(services.messages.empty());
}

// Elsewhere the launch scenarios show the command line; at a drive's root the jar's path keeps the
// backslash before the slash.
TEST(LoadApplication, StartsTheRuntimeQuotedWithTheJarAtADrivesRoot) {
    FakeServices services;
    services.appDirectory = L"C:\\";
    const std::wstring java = javaCandidates(L"C:\\")[1];
    services.add(java);
    services.add(L"C:\\Tarvio.jar");
    EXPECT_TRUE(loadApplication(services).process);
    const std::wstring line = L"\"" + java + L"\" -jar \"C:\\/Tarvio.jar\"";
    EXPECT_EQ(services.commandLines, std::vector<std::wstring>{java + L" | " + line});
    // A failed search for jars names the folder.
    EXPECT_EQ(listingSubject(kApp + L"\\*.jar"), kApp);
    EXPECT_EQ(listingSubject(L"C:\\*.jar"), L"C:\\");
    EXPECT_EQ(applicationDirectoryOf(L"C:\\Velmoor.exe"), L"C:\\");
}

// java reads its command line in the ANSI code page: the jar goes by a form it reads back whole.
TEST(LoadApplication, TheJarByAPathJavaCanRead) {
    const std::wstring greek = L"D:\\\u03a4\u03b1\u03c1\u03b2\u03b9\u03bf";
    const struct {
        std::wstring directory, jar, shortForm, expected;  // expected empty: nothing starts
    } cases[] = {
        {L"D:\\T\u00fcr", L"Tarvio.jar", L"", L"D:\\T\u00fcr/Tarvio.jar"},
        {greek, L"Tarvio.jar", L"D:\\TARV~1\\TARVIO.JAR", L"D:\\TARV~1\\TARVIO.JAR"},
        {greek, L"Tarvio.jar", L"", L"Tarvio.jar"},
        {greek, L"\u03a9.jar", L"D:\\TARV~1\\\u03a9.jar", L""},
    };
    for (const auto& c : cases) {
        FakeServices services;
        services.appDirectory = c.directory;
        services.add(c.directory + L"\\" + c.jar);
        services.add(javaCandidates(c.directory)[1]);
        if (!c.shortForm.empty()) services.shortPaths[c.directory + L"\\" + c.jar] = c.shortForm;
        EXPECT_EQ(!c.expected.empty(), !!loadApplication(services).process);
        if (c.expected.empty()) {
            EXPECT_EQ(services.messages,
                      std::vector{jarPathUnreadableMessage(c.directory + L"\\" + c.jar)});
        } else {
            EXPECT_TRUE(services.commandLines.at(0).ends_with(L" -jar \"" + c.expected + L"\""));
        }
    }
}

// java finds its runtime from the path it was started by, read in the ANSI code page: its short
// form where the long one does not fit, else a box naming the folder; a start that fails says why.
TEST(LoadApplication, JavaByAPathItCanReadAndWhyItDidNotStart) {
    const std::wstring greek = L"D:\\\u03a4\u03b1\u03c1", java = javaCandidates(greek)[0];
    const struct {
        std::wstring shortForm;
        std::optional<PlatformError> failure;
        std::wstring expected;  // the program started, or the box shown
    } cases[] = {
        {L"D:\\TAR~1\\jre\\bin\\java.exe", {}, L"D:\\TAR~1\\jre\\bin\\java.exe"},
        {L"", {}, javaPathUnreadableMessage(greek + L"\\jre\\bin")},
        {L"D:\\TAR~1\\jre\\bin\\java.exe", PlatformError(193, L"Not a valid Win32 application."),
         launchFailedMessage(java, L"Not a valid Win32 application.")},
    };
    for (const auto& c : cases) {
        FakeServices services;
        services.appDirectory = greek;
        services.add(greek + L"\\Tarvio.jar");
        services.add(java);
        services.shortPaths[greek + L"\\Tarvio.jar"] = L"D:\\TAR~1\\TARVIO.JAR";
        if (!c.shortForm.empty()) services.shortPaths[java] = c.shortForm;
        services.startFailure = c.failure;
        const bool started = !!loadApplication(services).process;
        EXPECT_EQ(started ? services.commandLines.at(0).substr(0, c.expected.size())
                          : services.messages.at(0),
                  c.expected);
    }
}

// What the user reads when the application stops while starting: java's reasons, not its stack.
TEST(StartFailure, TheExitCodeAndJavasFirstLines) {
    const struct {
        std::uint32_t code;
        std::wstring output, expected;
    } cases[] = {
        {1, L"", L"The application stopped while starting (exit code 1)."},
        {1,
         L"Error: LinkageError occurred while loading main class A\r\n\tjava.lang."
         L"UnsupportedClassVersionError: A has been compiled by a more recent version\r\n",
         L"The application stopped while starting (exit code 1):\r\nError: LinkageError occurred"
         L" while loading main class A\r\njava.lang.UnsupportedClassVersionError: A has been "
         L"compiled by a more recent version"},
        {0xC0000005,
         L"Exception in thread \"main\" E\n\tat A.main(A.java:1)\n\n\tat B\nCaused by: F\n"
         L"2\n3\n4\n5\n",
         L"The application stopped while starting (exit code 0xC0000005, access violation):\r\n"
         L"Exception in thread \"main\" E\r\nCaused by: F\r\n3\r\n4\r\n5"},
        // A log before java's own reasons: the reasons, then the last lines.
        {0xC00000FD,
         L"INFO 1\nINFO 2\nINFO 3\nINFO 4\nError: Could not find or load main class X\n"
         L"Caused by: java.lang.ClassNotFoundException: X\nINFO 5\n",
         L"The application stopped while starting (exit code 0xC00000FD, stack overflow):\r\n"
         L"INFO 3\r\nINFO 4\r\nError: Could not find or load main class X\r\nCaused by: java.lang."
         L"ClassNotFoundException: X\r\nINFO 5"},
        {2, std::wstring(301, L'x'),
         L"The application stopped while starting (exit code 2):\r\n" + std::wstring(300, L'x') +
             L"..."},
        {2, std::wstring(300, L'x'),
         L"The application stopped while starting (exit code 2):\r\n" + std::wstring(300, L'x')},
    };
    for (const auto& c : cases) EXPECT_EQ(applicationStoppedMessage(c.code, c.output), c.expected);
}

TEST(InstallClaimName, OneForEachFolderWhateverTheCaseOfItsLetters) {
    const std::wstring name = installClaimName(kApp);
    EXPECT_EQ(name, installClaimName(L"d:\\APPS\\tarvio"));
    EXPECT_EQ(installClaimName(L"C:\\AZ"), installClaimName(L"c:\\az"));
    EXPECT_NE(name, installClaimName(kApp + L"2"));
    EXPECT_EQ(name.size(), installClaimName(std::wstring(4000, L'x')).size());
}

// The marks are the changes scenarios' to show: a file in each encoding Notepad writes.
TEST(DetectEncoding, StrictUtf8ElseAnsi) {
    const auto detect = [](std::string_view bytes) {
        const DetectedEncoding detected = detectEncoding(bytes);
        return std::pair(detected.encoding, detected.markLength);
    };
    for (const auto* utf8 :
         {"plain\r\n", "\xC3\x9C \xE2\x82\xAC \xF0\x9F\x98\x80 \xED\x9F\xBF \xF4\x8F\xBF\xBF"}) {
        EXPECT_EQ(detect(utf8), std::pair(TextEncoding::utf8, std::size_t{0})) << utf8;
    }
    // Latin-1; cut short; no continuation; no lead; overlong; a surrogate; above U+10FFFF.
    for (const auto* ansi :
         {"\xDCn\xEF\x63ode", "\xE2\x82", "\xC3\x41", "\x80", "\xC0\xAF", "\xE0\x9F\xBF",
          "\xF0\x8F\xBF\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80"}) {
        EXPECT_EQ(detect(ansi), std::pair(TextEncoding::ansi, std::size_t{0})) << ansi;
    }
}

const std::wstring kLocal = L"D:\\Apps\\Tarvio\\Tarvio.jar";
const std::wstring kRemote = std::wstring(kUpdateFolder) + L"Tarvio.jar";
const std::wstring kChanges = std::wstring(kUpdateFolder) + std::wstring(kChangesFileName);

// An install with a jar and a newer one in the update folder; the host counts launches and
// the changes dialogs shown.
struct Install : FakeServices, UpdateHost {
    int launches = 0, dialogs = 0, skipped = 0;
    bool dialogWorks = true;
    Install() {
        times = {{kLocal, 100}, {kRemote, 200}};
        add(kRemote);
    }
    void loadApplication() override { ++launches; }
    void skipLaunch() override { ++skipped; }
    void installUpdate(const std::wstring&, const std::wstring&) override {}
    bool showChangesDialog(const std::wstring&, const std::wstring&, const std::wstring&) override {
        dialogs += dialogWorks;
        return dialogWorks;
    }
    void addChanges(bool hidden = false) {
        add(kChanges).hidden = hidden;
        contents[kChanges] = L"A\nB";
    }
    void check() {
        UpdateFindings findings = examineUpdateFolder(*this, appDirectory, L"Tarvio.jar");
        if (findings.changesFile) findings.changes = readChanges(*this);
        offerUpdate(*this, *this, findings);
    }
};

// Where the changes dialog can show, the changes scenarios show it; else a box asks.
TEST(UpdateCheck, WithoutTheChangesDialogABoxAsks) {
    const struct {
        const char* why;
        void (*arrange)(Install&);
        bool asks = true;
        std::wstring message = {};  // said instead of the offer
    } cases[] = {
        {"no changes file", [](Install&) {}},
        {"hidden changes file", [](Install& t) { t.addChanges(true); }},
        {"unreadable", [](Install& t) { t.addChanges(), t.readFailure = PlatformError(5, L"x"); }},
        {"dialog fails", [](Install& t) { t.addChanges(), t.dialogWorks = false; }},
        {"no local time", [](Install& t) { t.times.erase(kLocal); }},
        {"as old", [](Install& t) { t.addChanges(), t.times[kRemote] = 100; }, false},
        {"a folder",
         [](Install& t) { t.folders.clear(), t.add(kRemote).directory = true, t.addChanges(); },
         false},
        {"hidden jar",
         [](Install& t) { t.folders.clear(), t.add(kRemote).hidden = true, t.addChanges(); },
         false},
        {"unopened", [](Install& t) { t.addChanges(), t.openFailure = PlatformError(32, L"x"); },
         false},
        {"older", [](Install& t) { t.addChanges(), t.times[kRemote] = 50; }, false},
        {"read-only install", [](Install& t) { t.addChanges(), t.readOnlyInstall = true; }, false},
        {"the application runs", [](Install& t) { t.addChanges(), t.heldOpen.insert(kLocal); },
         false, updateWhileRunningMessage()},
        {"a leftover stays",
         [](Install& t) { t.addChanges(), t.stuck.insert(temporaryJarPath(kLocal)); }, false,
         leftoverInTheWayMessage(temporaryJarPath(kLocal), L"The directory is not empty.")},
        {"unreadable jar", [](Install& t) { t.unreadableJars = true; }, false},
        // Installed with a time more than a day ahead of the clock: any other publish is newer.
        {"installed from the future", [](Install& t) { t.times[kLocal] = t.now + 86401; }},
        {"installed from the future, published still",
         [](Install& t) { t.times[kLocal] = t.times[kRemote] = t.now + 86401; }, false},
        {"installed from the future, published later",
         [](Install& t) { t.times[kLocal] = t.now + 86401, t.times[kRemote] = t.now + 90000; }},
        {"installed a day ahead to the second", [](Install& t) { t.times[kLocal] = t.now + 86400; },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Install t;
        c.arrange(t);
        t.check();
        EXPECT_EQ(t.questions, std::vector<std::wstring>(c.asks, updatePrompt()));
        EXPECT_EQ(t.messages, std::vector<std::wstring>(!c.message.empty(), c.message));
        EXPECT_EQ(t.dialogs, 0);
        // A running application is not started a second time.
        EXPECT_EQ(t.launches + t.skipped * 2, t.heldOpen.empty() ? 1 : 2);
        // What an earlier start could not remove goes before anything is looked at.
        EXPECT_EQ(t.removed, std::vector<std::wstring>(t.stuck.empty(), temporaryJarPath(kLocal)));
    }
}

// The changes text shows up to its cap, then a line saying that there is more; a cut part of
// a text ends in whole characters, so that it is still read in its encoding.
TEST(ReadChanges, ALongFileIsCutWithALineSayingMoreExists) {
    using namespace std::literals;
    Install t;
    t.contents[kChanges] = std::wstring(kChangesCapBytes, L'x') + L"\nlost";
    const std::wstring text = *readChanges(t);
    EXPECT_EQ(text.substr(2, kChangesCapBytes + 2), std::wstring(kChangesCapBytes, L'x') + L"\r\n");
    EXPECT_EQ(text.substr(kChangesCapBytes + 4), kMoreChanges);
    const struct {
        std::string_view bytes;
        std::size_t end;
    } cuts[] = {{"ab\xC3"sv, 2},       {"ab\xE2\x82"sv, 2},     {"ab\xF0\x9F\x98"sv, 2},
                {"ab\xC3\x9C"sv, 4},   {"ab\xE2\x82\xAC"sv, 5}, {"abc"sv, 3},
                {"\xFF\xFEz\0y"sv, 4}, {"\xFE\xFF\0a\0"sv, 4}};
    for (const auto& cut : cuts) EXPECT_EQ(wholeCharactersEnd(cut.bytes), cut.end) << cut.bytes;
}

TEST(UpdateCheckRun, AnAnswerOnlyWithinThePatienceAndNothingFromAWorkerGivenUpOn) {
    constexpr auto patience = UpdateCheckRun::kPatienceMs;
    Install t;
    UpdateCheckRun answered(t.appDirectory, L"Tarvio.jar"), givenUp(t.appDirectory, L"Tarvio.jar");
    EXPECT_EQ(answered.poll(0), UpdateCheckRun::Outcome::pending);
    answered.run(t);
    ASSERT_EQ(answered.poll(patience + 500), UpdateCheckRun::Outcome::answered);
    EXPECT_TRUE(answered.findings() && answered.findings()->newer);
    EXPECT_EQ(givenUp.poll(patience - 1), UpdateCheckRun::Outcome::pending);
    EXPECT_EQ(givenUp.poll(patience), UpdateCheckRun::Outcome::unreachable);
    givenUp.run(t);
    EXPECT_EQ(givenUp.poll(patience + 500), UpdateCheckRun::Outcome::unreachable);
    EXPECT_FALSE(givenUp.findings());
}

// A published jar of two and a half chunks, to be copied over the installed one.
std::string publishedJar(const std::string& manifest = testjar::kManifest) {
    return testjar::writeJar({{"META-INF/MANIFEST.MF", manifest, false},
                              {"data.bin", std::string(JarPass::kChunkBytes * 5 / 2, 'n'), false}})
        .text();
}
struct Copying : Install {
    const std::string published = publishedJar();
    Copying() { files = {{kRemote, published}, {kLocal, "old"}}; }
};

// Each verdict of the jar check, and each failure of the copy, to what the user is told and
// what is installed; a copy whose check is stopped is one given up, the test below.
TEST(UpdateCopyRun, OnlyAWholeCopyCheckedCompleteReplacesTheJarWithTheSourcesTime) {
    const CopyReport rejected{CopyReport::rejected, {}};
    const struct {
        const char* why;
        void (*arrange)(Copying&);
        CopyReport expected;
        bool refused = false;  // recorded, so that the same publish is not copied again
    } cases[] = {
        {"complete", [](Copying&) {}, {CopyReport::verified, {}}},
        {"incomplete", [](Copying& t) { t.files[kRemote].resize(t.published.size() / 2); },
         rejected},
        {"damaged", [](Copying& t) { t.files[kRemote][2 << 20] ^= 1; }, rejected, true},
        {"unrunnable", [](Copying& t) { t.files[kRemote] = publishedJar("Created-By: 17\r\n"); },
         rejected, true},
        {"unreadable", [](Copying& t) { t.unreadableJars = true; }, rejected},
        {"read fails",
         [](Copying& t) { t.readFailure = PlatformError(64, L"gone"); },
         {CopyReport::failed, L"gone"}},
        {"move fails",
         [](Copying& t) { t.moveFailure = PlatformError(32, L"in use"); },
         {CopyReport::failed, L"in use"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Copying t;
        c.arrange(t);
        UpdateCopyRun run(kRemote, kLocal);
        run.run(t);
        EXPECT_EQ(run.poll(0), UpdateCopyRun::Outcome::ended);
        EXPECT_EQ(copyReportMessage(run.conclude(t)), copyReportMessage(c.expected));
        const bool replaced = c.expected.end == CopyReport::verified;
        EXPECT_EQ(t.files[kLocal], replaced ? t.published : "old");
        EXPECT_EQ(t.times[kLocal], replaced ? 200 : 100);
        EXPECT_FALSE(t.files.count(temporaryJarPath(kLocal)));
        // The replaced jar stays, hidden, until the new one has started.
        EXPECT_EQ(t.files.count(previousJarPath(kLocal)), replaced);
        EXPECT_EQ(t.hidden.count(previousJarPath(kLocal)), replaced);
        EXPECT_EQ(refusedPublish(t, kLocal) == stampOf(t, kRemote), c.refused);
    }
    EXPECT_EQ(copyReportMessage(rejected), updateFailedMessage(kJarIncompleteOrDamaged));
}

// A new version that fails its trial gives way to the one it replaced, and its publish is
// refused by a record; a later publish is offered. The previous version failing the same way
// puts the new one back with nothing refused; failing otherwise, or passing, the refusal stands.
TEST(UpdateTrial, ANewVersionThatFailsIsUndoneUnlessThePreviousFailsTheSameWay) {
    const std::wstring previous = previousJarPath(kLocal), failed = failedJarPath(kLocal);
    const auto installed = [](Copying& t) {
        t.files[kLocal] = publishedJar("Main-Class: old\r\n"), t.times[kLocal] = 100;
        UpdateCopyRun run(kRemote, kLocal);
        run.run(t), run.poll(0), run.conclude(t);
        return t.files[kLocal];
    };
    const struct {
        const char* why;
        std::optional<std::uint32_t> previousExit;  // nothing: the previous version passes
        bool newKept;
        std::optional<PlatformError> moveFailure = {};
    } cases[] = {
        {"previous passes", {}, false},
        {"previous fails the same way", 1, true},
        {"previous fails otherwise", 0xC0000005, false},
        {"jar held", {}, true, PlatformError(32, L"in use", kLocal)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Copying t;
        const std::string old = t.files[kLocal] = publishedJar("Main-Class: old\r\n");
        installed(t);
        EXPECT_EQ(t.files[kLocal], t.published);
        EXPECT_TRUE(onTrial(t, kLocal));
        t.moveFailure = c.moveFailure;
        const FailedStart undone = failedStart(t, kLocal, 1, L"Error: x", true);
        EXPECT_EQ(undone.restored, !c.moveFailure);
        EXPECT_FALSE(examineUpdateFolder(t, t.appDirectory, L"Tarvio.jar").newer);
        if (c.moveFailure) {
            EXPECT_EQ(undone.message, updateNotUndoneMessage(1, L"Error: x", L"in use"));
            // The next start finishes the rollback.
            settleInstall(t, kLocal);
        } else {
            EXPECT_EQ(undone.message, updateUndoneMessage(1, L"Error: x"));
            EXPECT_EQ(t.files[kLocal], old);
            if (c.previousExit) {
                EXPECT_EQ(previousFailedToo(t, kLocal, 1, *c.previousExit, L"E"),
                          *c.previousExit == 1 ? applicationCannotStartMessage(1, L"E")
                                               : applicationStoppedMessage(*c.previousExit, L"E"));
            } else {
                passedStart(t, kLocal);
            }
        }
        const bool newBack = c.previousExit == 1u;
        EXPECT_EQ(t.files[kLocal], newBack ? t.published : old);
        EXPECT_FALSE(t.times.count(previous) || t.times.count(failed));
        EXPECT_EQ(!!refusedPublish(t, kLocal), !newBack);
        EXPECT_EQ(t.hidden.count(refusedRecordPath(kLocal)), !newBack);
    }
    // A later publish is offered, and its refusal's record goes; a start that is no trial is only
    // reported.
    Copying t;
    installed(t);
    failedStart(t, kLocal, 1, L"", true);
    EXPECT_EQ(failedStart(t, kLocal, 1, L"", true).message, applicationStoppedMessage(1, L""));
    t.times[kRemote] = 300;
    EXPECT_TRUE(examineUpdateFolder(t, t.appDirectory, L"Tarvio.jar").newer);
    EXPECT_FALSE(t.files.count(refusedRecordPath(kLocal)));
    // An update over a version still on trial keeps the version that had proved itself.
    Copying twice;
    installed(twice);
    twice.files[kRemote] = publishedJar("Main-Class: later\r\n"), twice.times[kRemote] = 300;
    UpdateCopyRun again(kRemote, kLocal);
    again.run(twice), again.poll(0), again.conclude(twice);
    EXPECT_EQ(twice.files[kLocal], twice.files[kRemote]);
    EXPECT_EQ(twice.files[previousJarPath(kLocal)], publishedJar("Main-Class: old\r\n"));
}

// Each state that a cut during an install or a rollback can leave, old launchers' included,
// settles at the next start on a whole jar under the jar's name, the one the run was going to.
TEST(SettleInstall, EveryCutLeavesAWholeJarUnderTheJarsName) {
    const std::string oldJar = publishedJar("Main-Class: old\r\n"), newJar = publishedJar();
    // The names the install guide gives, and older launchers left.
    const std::wstring previous = kLocal + L".previous", failed = kLocal + L".failed";
    const std::wstring record = kLocal + L".refused", copy = kLocal + L".update.tmp";
    const std::string newRecord = "publish 200 " + std::to_string(newJar.size()) + "\r\n";
    const struct {
        const char* why;
        std::map<std::wstring, std::string> before;
        std::string installed;
        std::set<std::wstring> left;
    } cases[] = {
        {"install cut between renames", {{previous, oldJar}, {copy, newJar}}, newJar, {previous}},
        {"install cut, copy partial",
         {{previous, oldJar}, {copy, newJar.substr(0, 100)}},
         oldJar,
         {copy}},
        {"rollback cut between renames", {{previous, oldJar}, {record, newJar}}, oldJar, {record}},
        {"failed version alone", {{failed, newJar}}, newJar, {}},
        {"on trial", {{kLocal, newJar}, {previous, oldJar}}, newJar, {previous}},
        {"rollback recorded",
         {{kLocal, newJar}, {previous, oldJar}, {record, newRecord}},
         oldJar,
         {record}},
        {"rollback recorded, failed kept",
         {{kLocal, newJar}, {previous, oldJar}, {record, newRecord}, {failed, newJar}},
         oldJar,
         {record}},
        {"previous verdict cut",
         {{kLocal, oldJar}, {failed, newJar}, {record, newRecord}},
         oldJar,
         {record}},
        {"refused jar kept whole", {{kLocal, oldJar}, {record, newJar}}, oldJar, {record}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        FakeServices t;
        for (const auto& [path, bytes] : c.before) t.files[path] = bytes, t.times[path] = 200;
        if (c.before.count(previous)) t.times[previous] = 100;
        settleInstall(t, kLocal);
        EXPECT_EQ(t.files[kLocal], c.installed);
        std::set<std::wstring> left;
        for (const auto& [path, time] : t.times) {
            if (path != kLocal) left.insert(path);
        }
        EXPECT_EQ(left, c.left);
        if (c.left.count(record)) {
            EXPECT_EQ(refusedPublish(t, kLocal), (PublishStamp{200, newJar.size()}));
        }
    }
    // Every digit reads back; a record that does not read is none.
    FakeServices t;
    refusePublish(t, kLocal, {13'390'000'000'099, 9'876'543'210});
    EXPECT_EQ(refusedPublish(t, kLocal), (PublishStamp{13'390'000'000'099, 9'876'543'210}));
    for (const char* bad : {"publish 1x2\r\n", "publish  2\r\n", "publish 1 \r\n", "1 2\r\n"}) {
        t.files[record] = bad;
        EXPECT_FALSE(refusedPublish(t, kLocal)) << bad;
    }
}

// A read that hangs: the copy is given up on the stall bound, or by a close, without waiting
// for the worker, which once it comes back writes nothing more and leaves nothing behind.
TEST(UpdateCopyRun, AHungReadIsGivenUpAndItsLateReturnWritesNothing) {
    for (const bool byClose : {false, true}) {
        SCOPED_TRACE(byClose ? "close" : "stall");
        Copying t;
        std::promise<void> hung, released;
        int reads = 0;
        t.beforeRead = [&] {
            if (++reads == 2) hung.set_value(), released.get_future().wait();
        };
        UpdateCopyRun run(kRemote, kLocal);
        std::thread worker([&] { run.run(t); });
        hung.get_future().wait();
        EXPECT_EQ(run.poll(1000), UpdateCopyRun::Outcome::pending);
        // One chunk of two and a half, and the jar's last 64 KiB read before it.
        EXPECT_NEAR(run.progress(), 0.4, 0.05);
        if (byClose) {
            run.abandon(t);
        } else {
            EXPECT_EQ(run.poll(1000 + UpdateCopyRun::kStallMs - 1),
                      UpdateCopyRun::Outcome::pending);
            EXPECT_EQ(run.poll(1000 + UpdateCopyRun::kStallMs), UpdateCopyRun::Outcome::ended);
        }
        released.set_value();
        worker.join();
        EXPECT_EQ(t.writes, 1);
        if (!byClose) {
            EXPECT_EQ(copyReportMessage(run.conclude(t)), updateFailedMessage(kCopyStalled));
        }
        EXPECT_EQ(t.files[kLocal], "old");
        EXPECT_FALSE(t.files.count(temporaryJarPath(kLocal)));
    }
}

// The strip pulses a dark red: up and down in small steps between black and a capped red.
TEST(SplashCounter, PulsesADarkRedStrip) {
    SplashCounter counter;
    int previous = 0, highest = 0, lowest = 255;
    for (int i = 0; i < 40; ++i) {
        const int red = counter.tick().red;
        EXPECT_TRUE(red != previous && std::abs(red - previous) <= 20)
            << red << " after " << previous;
        highest = std::max(highest, red), lowest = std::min(lowest, red), previous = red;
    }
    EXPECT_EQ(highest, 150);
    EXPECT_EQ(lowest, 0);
}

// The tick that closes the window: the 51st after activation, the 11th after a launch failure,
// the 6th when no jar was found.
TEST(SplashCounter, ClosesOnTheTickThatTakesTheCountAbove50) {
    const struct {
        void (SplashCounter::*start)();
        int closingTick;
    } cases[] = {{&SplashCounter::restart, 51},
                 {&SplashCounter::shortenAfterLaunchFailure, 11},
                 {&SplashCounter::shortenAfterNoJar, 6}};
    for (const auto& c : cases) {
        SplashCounter counter;
        counter.tick();
        (counter.*c.start)();
        int tick = 1;
        while (!counter.tick().close && tick < 100) ++tick;
        EXPECT_EQ(tick, c.closingTick);
    }
}

// Read by the user as they are: the label ends in two spaces, the boxes have this title.
TEST(SplashCaption, VersionThenTwoSpacesAndTheApplicationTitle) {
    EXPECT_EQ(versionCaption(4, 1), L"v4.1  ");
    EXPECT_EQ(versionCaption(10, 0), L"v10.0  ");
    EXPECT_EQ(kApplicationTitle, L"Ostrel Tarvio Launcher");
}

}  // namespace
}  // namespace velmoor
