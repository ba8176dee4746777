// The launcher's platform-free decisions, on an in-memory file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <future>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "OpenSslCrypto.h"
#include "TestJar.h"
#include "core/AppDirectory.h"
#include "core/FileLookup.h"
#include "core/Launch.h"
#include "core/LaunchSession.h"
#include "core/Messages.h"
#include "core/PlatformError.h"
#include "core/SplashCounter.h"
#include "core/SplashLayout.h"
#include "core/TextEncoding.h"
#include "core/Update.h"
#include "core/UpdateCopy.h"
#include "core/UpdateTrial.h"

namespace velmoor {
namespace {

// Folders list their entries in the order added (short names are the launch scenarios' to show).
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
    int writes = 0;
    bool readOnlyInstall = false, unreadableJars = false;
    std::int64_t now = 150;
    std::function<void()> beforeRead = [] {}, beforeList = [] {};
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
        beforeList();
        for (const DirEntry& entry : folders[pattern.substr(0, folder + 1)]) {
            const std::wstring name = lower(entry.name);
            if ((mask[0] == L'*' ? name.ends_with(mask.substr(1)) : name == mask) && !visit(entry))
                return;
        }
    }
    std::wstring applicationDirectory() override { return appDirectory; }
    void setCurrentDirectory(const std::wstring&) override {}
    void showMessage(const std::wstring& text) override { messages.push_back(text), record(text); }
    // Every box, question and start of java, in turn.
    std::function<void(const std::wstring&)> record = [](const std::wstring&) {};
    std::vector<bool> answers;  // to the questions in turn; No after them
    bool askYesNo(const std::wstring& text) override {
        questions.push_back(text), record(text);
        return questions.size() <= answers.size() && answers[questions.size() - 1];
    }
    // Each java started runs until its exit code is set.
    std::vector<std::optional<std::uint32_t>> exits;
    struct Process : StartedProcess {
        FakeServices& fs;
        std::size_t index;
        Process(FakeServices& s, std::size_t i) : fs(s), index(i) {}
        std::optional<std::uint32_t> exitCode() override { return fs.exits[index]; }
        std::wstring errorOutput() override { return L"Error: x"; }
    };
    std::optional<PlatformError> startFailure;
    std::unique_ptr<StartedProcess> startHidden(const std::wstring& program,
                                                const std::wstring& commandLine) override {
        if (startFailure) throw *startFailure;
        commandLines.push_back(program + L" | " + commandLine), record(L"java");
        exits.emplace_back();
        return std::make_unique<Process>(*this, exits.size() - 1);
    }
    bool fitsJavaCommandLine(std::wstring_view text) override {
        return std::ranges::all_of(text, [](wchar_t c) { return c < 0x100; });
    }
    std::optional<std::wstring> shortPath(const std::wstring& path) override {
        return shortPaths.count(path) ? std::optional(shortPaths[path]) : std::nullopt;
    }
    bool canReplace(const std::wstring& path) override { return !heldOpen.count(path); }
    void setHidden(const std::wstring& path, bool hide) override {
        hide ? void(hidden.insert(path)) : void(hidden.erase(path));
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
    // its end record alone. An unreadable one fails at its first byte, which any look takes in.
    std::unique_ptr<ByteSource> openBytes(const std::wstring& path) override {
        static const unsigned char kEmptyJar[22] = {'P', 'K', 5, 6}, kLong[1000] = {};
        if (openFailure) throw *openFailure;
        if (unreadableJars) return std::make_unique<MemorySource>(kLong, 0);
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
        if (times.count(target)) throw PlatformError(183, L"The file exists.", target);
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
    // Two workers, run in turn: the platform's way when no thread would start.
    ParallelWork parallelWork() override { return {testjar::inTurn, 2}; }
    bool canCreateFile(const std::wstring&) override { return !readOnlyInstall; }
    // A move keeps the file's attributes, as it does on Windows.
    void moveReplacing(const std::wstring& source, const std::wstring& target) override {
        // A move onto the installed jar fails once.
        if (moveFailure && target == appDirectory + L"\\Tarvio.jar")
            throw *std::exchange(moveFailure, {});
        files[target] = files[source], times[target] = times[source];
        setHidden(target, hidden.count(source));
        removeFile(source);
    }
    void removeFile(const std::wstring& path) noexcept override {
        files.erase(path), hidden.erase(path), times.erase(path);
    }
};

const std::wstring kApp = L"D:\\Apps\\Tarvio";

// Which jar and which java start, and by which paths: java reads its command line in the ANSI code
// page, so a path goes by a form it reads back whole, else a box says why nothing started.
TEST(LoadApplication, WhichJarAndJavaStartAndByWhatPaths) {
    const std::wstring greek = L"D:\\\u03a4\u03b1\u03c1", omega = greek + L"\\\u03a9.jar";
    const std::wstring j0 = javaCandidates(kApp)[0], j1 = javaCandidates(kApp)[1];
    const std::wstring shortJava = L"D:\\TAR~1\\jre\\bin\\java.exe", shortJar = L"D:\\TAR~1\\T.JAR";
    const auto run = [](const std::wstring& java, const std::wstring& jarArgument) {
        return java + L" | \"" + java + L"\" -jar \"" + jarArgument + L"\"";
    };
    const struct {
        std::wstring directory;
        // Its files in listing order: "@N" is java's Nth place; ".": hidden, "$": system, "/": a
        // folder; "=" and the file's short form.
        std::wstring files;
        std::wstring expected;  // the start of java, or the box shown
        std::optional<PlatformError> failure = {};
    } cases[] = {
        // Tarvio.jar first, then the first ordinary jar in listing order; a hidden runtime is none.
        {kApp, L"Alpha.jar Tarvio.jar @0", run(j0, kApp + L"/Tarvio.jar")},
        {kApp, L"Zulu.JAR Alpha.jar @0", run(j0, kApp + L"/Zulu.JAR")},
        {kApp, L".Tarvio.jar $S.jar /F.jar P.jar @0", run(j0, kApp + L"/P.jar")},
        {kApp, L"readme.txt .H.jar @0", noJarFoundMessage(kApp)},
        {kApp, L"Tarvio.jar .@0 .@1", noJavaFoundMessage(javaCandidates(kApp))},
        {kApp, L"Tarvio.jar .@0 .@1 @2", run(javaCandidates(kApp)[2], kApp + L"/Tarvio.jar")},
        // At a drive's root the jar's path keeps the backslash before the slash.
        {L"C:\\", L"Tarvio.jar @1", run(j1, L"C:\\/Tarvio.jar")},
        // The jar: its long path, its short form, its name alone from the folder, else a box.
        {L"D:\\T\u00fcr", L"Tarvio.jar @1", run(j1, L"D:\\T\u00fcr/Tarvio.jar")},
        {greek, L"Tarvio.jar=" + shortJar + L" @1", run(j1, shortJar)},
        {greek, L"Tarvio.jar @1", run(j1, L"Tarvio.jar")},
        {greek, L"\u03a9.jar=D:\\TAR~1\\\u03a9.jar @1", jarPathUnreadableMessage(omega)},
        // java, from which it finds its runtime: its long path or its short form, else a box
        // naming the folder; a start that fails says why.
        {greek, L"T.jar=" + shortJar + L" @0=" + shortJava, run(shortJava, shortJar)},
        {greek, L"T.jar=" + shortJar + L" @0", javaPathUnreadableMessage(greek + L"\\jre\\bin")},
        {greek, L"T.jar=" + shortJar + L" @0=" + javaCandidates(greek)[0],
         javaPathUnreadableMessage(greek + L"\\jre\\bin")},
        {greek, L"T.jar=" + shortJar + L" @0=" + shortJava,
         launchFailedMessage(javaCandidates(greek)[0], L"Not valid."),
         PlatformError(193, L"Not valid.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.files));
        FakeServices services;
        services.appDirectory = c.directory;
        std::wistringstream files(c.files);
        const std::wstring folder =
            c.directory.ends_with(L'\\') ? c.directory : c.directory + L"\\";
        for (std::wstring name; files >> name;) {
            const wchar_t flag = name[0];
            if (std::wstring_view(L".$/").find(flag) != std::wstring_view::npos) name.erase(0, 1);
            const auto equals = std::min(name.find(L'='), name.size());
            const std::wstring path = name[0] == L'@' ? javaCandidates(c.directory)[name[1] - L'0']
                                                      : folder + name.substr(0, equals);
            DirEntry& entry = services.add(path);
            entry.hidden = flag == L'.', entry.system = flag == L'$',
            entry.directory = flag == L'/';
            if (equals < name.size()) services.shortPaths[path] = name.substr(equals + 1);
        }
        services.startFailure = c.failure;
        const Launch launch = loadApplication(services);
        EXPECT_EQ(!!launch.process, services.messages.empty());
        EXPECT_EQ(launch.process ? services.commandLines : services.messages,
                  std::vector{c.expected});
    }
    // A failed search for jars names the folder.
    EXPECT_EQ(listingSubject(kApp + L"\\*.jar"), kApp);
    EXPECT_EQ(listingSubject(L"C:\\*.jar"), L"C:\\");
    EXPECT_EQ(applicationDirectoryOf(L"C:\\Velmoor.exe"), L"C:\\");
}

// The boxes as the user reads them, every part in its place; an exit code in decimal up to 65535,
// and from there as the status it is; each crash by its name.
TEST(Messages, EachAsTheUserReadsIt) {
    const std::wstring notFrom(kNotFromPublisher), omega = L"D:\\\u03a9";
    const std::wstring stopped = L"The application stopped while starting (exit code ";
    const auto stoppedWith = applicationStoppedMessage;
    const struct {
        std::wstring text, expected;
    } cases[] = {
        // The splash's label ends in two spaces (the title and other boxes: the Wine scenarios').
        {versionCaption(10, 0), L"v10.0  "},
        {jarPathUnreadableMessage(omega + L".jar"),
         L"Error: Java cannot open the JAR File, as its path has characters outside the system's "
         L"code page:\r\n" +
             omega + L".jar"},
        {javaPathUnreadableMessage(omega),
         L"Error: Java cannot start from its folder, as the folder's path has characters outside "
         L"the system's code page and no short form:\r\n" +
             omega},
        {launchFailedMessage(omega, L"Not valid."),
         L"Error launching application: " + omega + L"\r\nNot valid."},
        {leftoverInTheWayMessage(omega, L"In use."),
         std::wstring(kUpdateAvailable) +
             L"\r\nIt cannot be installed while this file, left by an earlier update, is "
             L"there:\r\n" +
             omega + L"\r\nIn use."},
        {updateNotUndoneMessage(65535, L"", L"In use."),
         L"The new version of the application could not start (exit code 65535).\r\nThe previous "
         L"version could not be put back now; the next start puts it back:\r\nIn use."},
        {applicationCannotStartMessage(0x10000, L"E"),
         L"The application cannot start (exit code 0x00010000):\r\nE\r\nThe previous version "
         L"failed the same way, so the new version was kept."},
        {notFromPublisherText({L"A", L"B"}, L"x.class"),
         notFrom + L"\r\nSigners found: A; B\r\nUnsigned or changed entry: x.class"},
        {unreadSignatureText(L"Ed25519", true),
         L"The installed version is signed only with Ed25519, which this launcher cannot check, "
         L"so it takes no update."},
        {unreadSignatureText(L"Ed25519", false),
         L"The new version is signed with Ed25519, which this launcher cannot check."},
        {javaRefusesSignatureText(L"a.class"),
         L"The new version's signature does not match its contents at a.class: java would not "
         L"start it."},
        // The application stopped while starting: java's reasons, not its stack.
        {stoppedWith(1, L""), stopped + L"1)."},
        {stoppedWith(1,
                     L"Error: LinkageError occurred while loading main class A\r\n\tjava.lang."
                     L"UnsupportedClassVersionError: A is newer\r\n"),
         stopped + L"1):\r\nError: LinkageError occurred while loading main class A\r\njava.lang."
                   L"UnsupportedClassVersionError: A is newer"},
        {stoppedWith(
             0xC0000005,
             L"Exception in thread \"main\" E\n\tat A.main(A.java:1)\n\n\tat B\nCaused by: F\n"
             L"java.lang.StackOverflowError\n3\n4\n5\n"),
         stopped + L"0xC0000005, access violation):\r\nException in thread \"main\" E\r\nCaused "
                   L"by: F\r\njava.lang.StackOverflowError\r\n4\r\n5"},
        // A log before java's own reasons: the reasons, then the last lines.
        {stoppedWith(0xC00000FD,
                     L"INFO 1\nINFO 2\nINFO 3\nINFO 4\nError: Could not find or load main class X\n"
                     L"Caused by: java.lang.ClassNotFoundException: X\nINFO 5\n"),
         stopped +
             L"0xC00000FD, stack overflow):\r\nINFO 3\r\nINFO 4\r\nError: Could not find or "
             L"load main class X\r\nCaused by: java.lang.ClassNotFoundException: X\r\nINFO 5"},
        {stoppedWith(1, L"Error 1\nError 2\nError 3\nError 4\nError 5\nError 6\n"),
         stopped + L"1):\r\nError 1\r\nError 2\r\nError 3\r\nError 4\r\nError 5"},
        {stoppedWith(2, std::wstring(301, L'x')),
         stopped + L"2):\r\n" + std::wstring(300, L'x') + L"..."},
        {stoppedWith(2, std::wstring(300, L'x')), stopped + L"2):\r\n" + std::wstring(300, L'x')},
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, c.expected);
    std::wstring names;
    for (std::uint32_t code :
         {0xC0000374, 0xC0000409, 0xC000001D, 0xC0000094, 0xC0000135, 0xC0000142, 0xC000013A}) {
        names += std::wstring(crashName(code)) + L"; ";
    }
    EXPECT_EQ(names,
              L"heap corruption; stack buffer overrun; illegal instruction; integer division "
              L"by zero; a DLL was not found; a DLL failed to initialise; stopped by Ctrl+C; ");
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
         {"plain\r\n", "\xC3\x9C \xE2\x82\xAC \xF0\x9F\x98\x80 \xED\x9F\xBF \xF4\x8F\xBF\xBF",
          "\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80"}) {
        EXPECT_EQ(detect(utf8), std::pair(TextEncoding::utf8, std::size_t{0})) << utf8;
    }
    // Latin-1; cut short; no continuation; no lead; overlong; a surrogate; above U+10FFFF.
    for (const auto* ansi : {"\xDCn\xEF\x63ode", "\xE2\x82", "\xC3\x41", "\xDF\xC0", "\xE2\x82\x41",
                             "\x80", "\xC0\xAF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xED\xA0\x80",
                             "\xF4\x90\x80\x80", "\xF5\x80\x80\x80"}) {
        EXPECT_EQ(detect(ansi), std::pair(TextEncoding::ansi, std::size_t{0})) << ansi;
    }
    // Read: each sequence one character, each byte of a broken one a replacement.
    EXPECT_EQ(fromUtf8("a\xC3\x9C\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x82"
                       "A"),
              L"a\u00DC\u20AC\U0001F600\uFFFD\uFFFDA");
    // As Windows' UTF-16 units: the points at each end of the surrogates' range, and past it.
    EXPECT_EQ(utf16FromUtf8("\xEF\xBF\xBF\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\xE2\x82"),
              u"\uFFFF\U00010000\U0001F600\U0010FFFF\uFFFD\uFFFD");
    // Cut short by the end of the text, whatever lies beyond it.
    EXPECT_EQ(detect(std::string_view("ab\xC3\x9C", 3)),
              std::pair(TextEncoding::ansi, std::size_t{0}));
}

const std::wstring kLocal = L"D:\\Apps\\Tarvio\\Tarvio.jar";
const std::wstring kRemote = std::wstring(kUpdateFolder) + L"Tarvio.jar";
const std::wstring kChanges = std::wstring(kUpdateFolder) + std::wstring(kChangesFileName);

// A published jar of two and a half chunks, to be copied over the installed one.
std::string publishedJar(const std::string& manifest = testjar::kManifest) {
    return testjar::writeJar({{"META-INF/MANIFEST.MF", manifest, false},
                              {"data.bin", std::string(JarPass::kChunkBytes * 5 / 2, 'n'), false}})
        .text();
}
// An install with a jar and a newer one published in the update folder.
struct Install : FakeServices {
    const std::string published = publishedJar();
    Install() {
        times = {{kLocal, 100}, {kRemote, 200}}, files = {{kRemote, published}, {kLocal, "old"}};
        add(kRemote);
    }
    void addChanges(bool hidden = false) {
        add(kChanges).hidden = hidden;
        contents[kChanges] = L"A\nB";
    }
};

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

// Each state that a cut during an install or a rollback can leave, old launchers' included,
// settles at the next start on a whole jar under the jar's name, the one the run was going to.
// A failed start gives way to the previous version only on a trial whose previous version is
// there, and leaves no failed copy but the one it keeps.
TEST(SettleInstall, EveryCutLeavesAWholeJarUnderTheJarsName) {
    const std::string oldJar = publishedJar("Main-Class: old\r\n"), newJar = publishedJar();
    // The names the install guide gives, and older launchers left.
    const std::wstring previous = kLocal + L".previous", failed = kLocal + L".failed";
    const std::wstring record = kLocal + L".refused", copy = kLocal + L".update.tmp";
    const std::string newRecord = "publish 200 " + std::to_string(newJar.size()) + "\r\n";
    const std::map<std::string, std::wstring> paths = {{"jar", kLocal},
                                                       {"previous", previous},
                                                       {"failed", failed},
                                                       {"record", record},
                                                       {"copy", copy}};
    const std::map<std::string, std::string> contents = {
        {"old", oldJar}, {"new", newJar}, {"part", newJar.substr(0, 100)}, {"rec", newRecord}};
    const struct {
        const char *why, *before, *installed, *left;
        const char* start = "";  // "trial" or "watched": a start that failed, else a settle
    } cases[] = {
        {"install cut between renames", "previous=old copy=new", "new", "previous"},
        {"install cut, copy partial", "previous=old copy=part", "old", "copy"},
        {"rollback cut between renames", "previous=old record=new", "old", "record"},
        {"failed version alone", "failed=new", "new", ""},
        {"on trial", "jar=new previous=old", "new", "previous"},
        {"rollback recorded", "jar=new previous=old record=rec", "old", "record"},
        {"rollback recorded, failed kept", "jar=new previous=old record=rec failed=new", "old",
         "record"},
        {"previous verdict cut", "jar=old failed=new record=rec", "old", "record"},
        {"refused jar kept whole", "jar=old record=new", "old", "record"},
        {"trial failed", "jar=new previous=old failed=part", "old", "failedrecord", "trial"},
        {"trial failed, the jar held", "jar=new previous=old jam", "new", "previousrecord",
         "trial"},
        {"trial failed, no previous version", "jar=new", "new", "", "trial"},
        {"start failed off trial", "jar=new previous=old", "new", "previous", "watched"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        FakeServices t;
        std::istringstream before(c.before);
        for (std::string file; before >> file;) {
            if (file == "jam") {
                t.moveFailure = PlatformError(32, L"in use", kLocal);
                continue;
            }
            const std::wstring& path = paths.at(file.substr(0, file.find('=')));
            t.files[path] = contents.at(file.substr(file.find('=') + 1));
            t.times[path] = path == previous ? 100 : 200;
        }
        if (*c.start) {
            failedStart(t, kLocal, 1, L"", c.start == std::string_view("trial"));
        } else {
            settleInstall(t, kLocal);
        }
        EXPECT_EQ(t.files[kLocal], contents.at(c.installed));
        std::string left;
        for (const auto& [name, path] : paths) {
            if (name != "jar" && t.times.count(path)) left += name;
        }
        EXPECT_EQ(left, c.left);
        const std::optional<PublishStamp> stamp = PublishStamp{200, newJar.size()};
        EXPECT_EQ(refusedPublish(t, kLocal), left.ends_with("record") ? stamp : std::nullopt);
    }
    // Every digit reads back; a record that does not read is none.
    FakeServices t;
    refusePublish(t, kLocal, {13'390'000'000'099, 9'876'543'210});
    EXPECT_EQ(refusedPublish(t, kLocal), (PublishStamp{13'390'000'000'099, 9'876'543'210}));
    EXPECT_EQ(t.files[record], "publish 13390000000099 9876543210\r\n");
    for (const char* bad : {"publish 1x2\r\n", "publish  22\r\n", "publish 1 \r\n",
                            "Publish 1 2\r\n", "publish 12345678901234567890 2\r\n"}) {
        t.files[record] = bad;
        EXPECT_FALSE(refusedPublish(t, kLocal)) << bad;
    }
    t.files[record] = "publish 1 2" + std::string(53, ' ');  // as long as a record may be
    EXPECT_EQ(refusedPublish(t, kLocal), (PublishStamp{1, 2}));
    t.files[record] += ' ';
    EXPECT_FALSE(refusedPublish(t, kLocal));
    // A kept copy that cannot be opened is not taken for a whole jar.
    t.files = {{copy, newJar}}, t.times = {{copy, 200}}, t.openFailure = PlatformError(32, L"x");
    settleInstall(t, kLocal);
    EXPECT_FALSE(t.files.count(kLocal));
    t.files.clear();  // a file whose size cannot be read has no stamp
    EXPECT_FALSE(stampOf(t, copy));
}

// A read that hangs: the copy is given up on the stall bound, or by a close, without waiting
// for the worker, which once it comes back writes nothing more and leaves nothing behind.
TEST(UpdateCopyRun, AHungReadIsGivenUpAndItsLateReturnWritesNothing) {
    for (const bool byClose : {false, true}) {
        SCOPED_TRACE(byClose ? "close" : "stall");
        Install t;
        std::promise<void> hung, released;
        int reads = 0;
        t.beforeRead = [&] {
            if (++reads == 2) hung.set_value(), released.get_future().wait();
        };
        UpdateCopyRun run(kRemote, kLocal);
        std::thread worker([&] { run.run(t); });
        hung.get_future().wait();
        EXPECT_EQ(run.poll(1000), UpdateCopyRun::Outcome::pending);
        // One chunk of two and a half (0.4), and the jar's last 64 KiB read before it (0.025).
        EXPECT_NEAR(run.progress(), 0.425, 0.001);
        if (byClose) {
            run.abandon(t);
        } else {
            EXPECT_EQ(run.poll(1000 + UpdateCopyRun::kStallMs - 1),
                      UpdateCopyRun::Outcome::pending);
            EXPECT_EQ(run.poll(1000 + UpdateCopyRun::kStallMs), UpdateCopyRun::Outcome::givenUp);
        }
        released.set_value();
        worker.join();
        EXPECT_EQ(run.poll(0), UpdateCopyRun::Outcome::givenUp);  // and stays so
        EXPECT_EQ(t.writes, 1);
        if (!byClose) {
            EXPECT_EQ(copyReportMessage(run.conclude(t)), updateFailedMessage(kCopyStalled));
        }
        EXPECT_EQ(t.files[kLocal], "old");
        EXPECT_FALSE(t.files.count(temporaryJarPath(kLocal)));
    }
}

// The copy reads the installed jar's publisher itself, beside the copy: an install signed by a
// publisher takes its updates only; an unsigned one, any; one whose block fails, none. (Which
// signer is whose: JarSignature's table.)
TEST(UpdateCopyRun, ASignedInstallTakesOnlyItsPublishersUpdates) {
    const auto bytesOf = [](const char* jar) {
        const auto bytes = testjar::signedFile(std::string(jar) + ".jar");
        return std::string(bytes.begin(), bytes.end());
    };
    // The platform's crypto failing once (out of memory), as the installed jar's block is read.
    struct FailingOnce final : OpenSslCrypto {
        bool failed = false;
        std::optional<BlockSigner> verifyBlock(std::span<const unsigned char> block,
                                               std::span<const unsigned char> content,
                                               bool& unsupported) override {
            if (!std::exchange(failed, true)) throw std::bad_alloc();
            return OpenSslCrypto::verifyBlock(block, content, unsupported);
        }
    };
    struct Signed : Install {
        std::optional<FailingOnce> failing;
        CryptoService& crypto() override { return failing ? *failing : openSsl; }
    };
    for (const auto& [installed, update, taken, fails] :
         {std::tuple{"v1-rsa", "v2-rsa", true, false},
          {"v1-rsa", "v2-other", false, false},
          {"v1-unsigned", "v2-other", true, false},
          {"v2-rsa-forged", "v2-rsa", false, false},
          {"v1-rsa", "v2-rsa", false, true}}) {
        SCOPED_TRACE(std::string(installed) + " <- " + update + (fails ? ", failing" : ""));
        Signed t;
        if (fails) t.failing.emplace();
        const std::string published = bytesOf(update);
        t.files = {{kRemote, published}, {kLocal, bytesOf(installed)}};
        UpdateCopyRun run(kRemote, kLocal);
        run.run(t);
        ASSERT_NE(run.poll(0), UpdateCopyRun::Outcome::pending);
        EXPECT_EQ(run.progress(), 1.0);
        EXPECT_EQ(run.conclude(t).end, taken ? CopyReport::verified : CopyReport::refused);
        EXPECT_EQ(t.files[kLocal] == published, taken);
        // A refusal is final: the same publish is not copied again.
        EXPECT_EQ(refusedPublish(t, kLocal).has_value(), !taken);
    }
}

// The published jar changed under the copy, cut short as it is read or replaced after its
// directory was read: not installed, and not refused for good either (the next start copies it
// again).
TEST(UpdateCopyRun, APublishChangedUnderTheCopyIsTakenUpAgainLater) {
    for (const bool cutShort : {true, false}) {
        SCOPED_TRACE(cutShort ? "cut short" : "replaced");
        struct Changing : Install {
            bool replaced = false;
            std::unique_ptr<FileCopy> startCopy(const std::wstring& from,
                                                const std::wstring& to) override {
                if (replaced) files[from] += "more";
                return Install::startCopy(from, to);
            }
        } t;
        t.replaced = !cutShort;
        int reads = 0;
        t.beforeRead = [&] {
            if (cutShort && ++reads == 2) t.files[kRemote].resize(JarPass::kChunkBytes);
        };
        UpdateCopyRun run(kRemote, kLocal);
        run.run(t);
        ASSERT_NE(run.poll(0), UpdateCopyRun::Outcome::pending);
        EXPECT_EQ(run.conclude(t).end, CopyReport::rejected);
        EXPECT_EQ(t.files[kLocal], "old");
        EXPECT_FALSE(refusedPublish(t, kLocal));
    }
}

// The launch session on the install above, its window and timers modelled: a stopped timer and
// a closed window deliver nothing, and a box runs the message loop, so a running timer ticks
// under it. What the session asks for is logged: boxes by their first words, the starts of java,
// the window's showing and closing (with the ticks delivered so far, and "busy" if a poll's timer
// outlives the window), the changes dialog, the copy's bar, the trial's watch without a window,
// "buried" for a tick while a box's window is still above the splash, and at the end "new" if
// the published jar is installed, "other" if it is under another jar's name, "refused" if its
// publish is, "failed" if a failed version is still kept.
struct Session : Install, SessionHost {
    std::unique_ptr<LaunchSession> session;
    bool holds = true, window = true, holdWorkers = false, threads = true;
    bool bar = false, buried = false, dialogWorks = true;
    enum { unwatched, watching, paused } trialWatch = unwatched;
    std::int64_t clock = 0;
    int ticks = 0, pulses = 0;
    std::string log;
    std::set<SessionTimer> timers{SessionTimer::splash};
    std::vector<std::function<void(Services&)>> held;
    std::vector<std::string> underNextBox;
    Session() {
        add(kLocal), add(javaCandidates(kApp)[0]);
        record = [this](const std::wstring& text) {
            note(text);
            if (text == L"java") return;
            buried = true;
            if (timers.count(SessionTimer::splash)) ++ticks, session->tick();
            if (trialWatch == watching) step("trial");
            for (const auto& event : std::exchange(underNextBox, {})) step(event);
        };
    }
    // A run cut between an install's two renames: the replaced jar alone, whole, kept beside.
    void cutInstall(const std::wstring& jar) {
        files[previousJarPath(jar)] = published, times[previousJarPath(jar)] = 100;
        files.erase(jar), times.erase(jar);
    }
    // The update folder lists nothing.
    void unlisted() { folders.erase(kRemote.substr(0, kRemote.rfind(L'\\'))); }
    void note(const std::string& what) { log += (log.empty() ? "" : " ") + what; }
    void note(const std::wstring& text) {
        static const std::pair<std::wstring_view, const char*> kTags[] = {
            {L"Application Updated", "updated"},
            {kJarIncompleteOrDamaged, "rejected"},
            {kCopyStalled, "stalled"},
            {L"An error occured", "failed"},
            {L"The application stopped", "stopped"},
            {L"could not be put back", "notundone"},
            {L"The new version", "undone"},
            {L"The application cannot", "cannot"},
            {L"No Java Application", "nojar"},
            {L"No Java Executable", "nojava"},
            {L"Error launching", "unstarted"},
            {L"Stop installing", "stop?"},
            {kInstallNow, "update?"},
            {L"The application is running", "running"},
            {L"left by an earlier update", "leftover"},
            {L"Tarvio\r\nAccess is denied.", "denied"},
            {L"oom", "oom"}};
        if (text == L"java") return note(std::string("java"));
        for (const auto& [words, tag] : kTags) {
            if (text.find(words) != std::wstring::npos) return note(std::string(tag));
        }
        note("box");
    }
    std::int64_t nowMs() override { return clock; }
    bool windowOpen() override { return window; }
    void showWindow() override {
        note("show"), window = true, buried = false;
        session->windowCreated(), session->activated();
    }
    void closeWindow() override {
        note("close@" + std::to_string(ticks));
        if (timers.size() > timers.count(SessionTimer::splash)) note("busy");
        window = false, timers.clear();
    }
    void startTimer(SessionTimer timer) override {
        if (window) timers.insert(timer);
    }
    void stopTimer(SessionTimer timer) override { timers.erase(timer); }
    void pulse(std::uint8_t) override { ++pulses; }
    void showProgress(std::optional<double> progress) override {
        if (bar != progress.has_value()) note(progress ? "bar" : "nobar");
        bar = progress.has_value();
    }
    void comeBackOnTop() override { buried = false; }
    bool showChangesDialog(const std::wstring&, const std::wstring&, const std::wstring&) override {
        if (dialogWorks) note("dialog");
        return dialogWorks;
    }
    bool startWorker(std::function<void(Services&)> work) override {
        if (holdWorkers) held.push_back(std::move(work));
        if (threads && !holdWorkers) work(*this);
        return threads;
    }
    bool startTrialWatch() override { return note("watch"), trialWatch = watching, true; }
    void pauseTrialWatch() override { trialWatch = paused; }
    void endTrialWatch() override {
        if (trialWatch != unwatched) note("unwatch");
        trialWatch = unwatched;
    }
    std::wstring outOfMemoryText() override { return L"oom"; }

    // Events: "tick" (100 ms on), "+N" (N ms on), "check", "read" and "copy" (their timers; with
    // "!", one the stopped timer had queued), "late" (the held workers finish), "click", "close",
    // "end", "activate", "trial" (the trial's timer), "upgrade", "launch" and "dismiss" (the
    // dialog's ways out), "exitN" (the last java ends); "~event" comes under the next box.
    // "event*N" repeats. Before them: "changes" (a changes file), "held" (workers wait for
    // "late"), "yes" and "no" (the answers to the questions in turn; No after them).
    void run(const std::string& events) {
        if (!session) session = std::make_unique<LaunchSession>(*this, *this, holds);
        std::istringstream in(events);
        for (std::string event; in >> event;) {
            const auto star = event.find('*');
            const int times = star == std::string::npos ? 1 : std::stoi(event.substr(star + 1));
            for (int i = 0; i < times; ++i) step(event.substr(0, star));
        }
        if (files[kLocal] == published) note("new");
        if (files[kApp + L"\\Other.jar"] == published) note("other");
        if (refusedPublish(*this, kLocal)) note("refused");
        if (files.count(failedJarPath(kLocal))) note("failed");
        // What every run leaves: a pulse for each tick; an earlier start's leftover removed before
        // anything is looked at; what is kept beside the jar hidden, and the jar not.
        EXPECT_EQ(pulses, ticks);
        EXPECT_EQ(files.count(temporaryJarPath(kLocal)), stuck.size());
        for (const auto& kept :
             {previousJarPath(kLocal), failedJarPath(kLocal), refusedRecordPath(kLocal)}) {
            EXPECT_EQ(hidden.count(kept), files.count(kept)) << kept;
        }
        EXPECT_FALSE(hidden.count(kLocal));
    }
    void poll(SessionTimer timer, const std::string& event) {
        if (timers.count(timer) || (event.ends_with('!') && window)) session->poll(timer);
    }
    void step(const std::string& event) {
        LaunchSession& s = *session;
        if (event[0] == '~') {
            underNextBox.push_back(event.substr(1));
        } else if (event == "changes" || event == "held" || event == "yes" || event == "no") {
            if (event == "changes") addChanges();
            holdWorkers |= event == "held";
            if (event == "yes" || event == "no") answers.push_back(event == "yes");
        } else if (event == "left") {  // a copy an earlier start could not remove
            files[temporaryJarPath(kLocal)] = "left";
        } else if (event == "incomplete" || event == "damaged" || event == "unrunnable") {
            if (event == "incomplete") files[kRemote].resize(published.size() / 2);
            if (event == "damaged") files[kRemote][2 << 20] ^= 1;
            if (event == "unrunnable") files[kRemote] = publishedJar("Created-By: 17\r\n");
        } else if (event == "unreadable") {
            unreadableJars = true;
        } else if (event == "unread") {  // the copy's second read fails
            readFailure = PlatformError(64, L"gone");
        } else if (event == "again") {  // the launcher starts anew
            session = std::make_unique<LaunchSession>(*this, *this, holds);
            window = true, timers = {SessionTimer::splash}, ticks = pulses = 0;
            trialWatch = unwatched;
        } else if (event == "publish") {  // a later publish of the same jar
            times[kRemote] = 300;
        } else if (event == "unjava") {  // java is uninstalled
            folders.erase(kApp + L"\\jre\\bin");
        } else if (event == "jam") {  // the next move onto the jar fails
            moveFailure = PlatformError(32, L"in use", kLocal);
        } else if (event == "tick") {
            clock += 100;
            if (timers.count(SessionTimer::splash)) {
                if (buried) note("buried");
                ++ticks, s.tick();
            }
        } else if (event[0] == '+') {
            clock += std::stoll(event.substr(1));
        } else if (event.starts_with("check")) {
            poll(SessionTimer::updateCheck, event);
        } else if (event.starts_with("read")) {
            poll(SessionTimer::changesRead, event);
        } else if (event.starts_with("copy")) {
            poll(SessionTimer::copy, event);
        } else if (event == "late") {
            for (auto& work : std::exchange(held, {})) work(*this);
        } else if (event == "click" && window) {
            s.splashClicked();
        } else if (event == "close" && window) {
            s.closeRequested();
        } else if (event == "end") {
            s.sessionEnded();
        } else if (event == "activate" && window) {
            s.activated();
        } else if ((event == "trial" && trialWatch == watching) || event == "trial!") {
            clock += 100, s.trialTick();
        } else if (event == "upgrade" || event == "launch" || event == "dismiss") {
            if (event == "upgrade") s.installUpdate(kRemote, kLocal);
            if (event == "launch") s.launchApplication();
            // The dialog's end activates another program's window, which may come over the splash.
            buried = true, s.changesDialogClosed();
        } else if (event.starts_with("exit")) {
            exits.back() = std::stoul(event.substr(4));
        }
    }
};

// Every state of a launch with every event that can reach it, to what the user sees and when the
// splash closes: 51 ticks from its start, 11 after a failure, 6 without a jar, held at its start
// while the changes file is read or the update copied.
TEST(LaunchSession, EachEventInEachStateToWhatTheUserSees) {
    const struct {
        const char* why;
        const char* events;
        const char* expected;
        void (*arrange)(Session&) = [](Session&) {};
    } cases[] = {
        // The first tick and the update check, on a worker or, without one, inline.
        {"nothing newer", "left tick check tick*60", "java close@51",
         [](Session& t) { t.times[kRemote] = 50; }},
        {"no jar", "tick*10", "nojar close@6", [](Session& t) { t.folders[kApp].clear(); }},
        {"no java", "tick check tick*20", "nojava close@12",
         [](Session& t) { t.folders.clear(), t.add(kLocal); }},
        {"java does not start", "tick check tick*20", "update? unstarted close@12",
         [](Session& t) { t.startFailure = PlatformError(2, L"x"); }},
        {"the folder cannot be listed", "tick*20", "denied close@11",
         [](Session& t) {
             t.beforeList = [] { throw PlatformError(5, L"Access is denied.", kApp); };
         }},
        {"out of memory", "tick*20", "oom close@11",
         [](Session& t) { t.beforeList = [] { throw std::bad_alloc(); }; }},
        {"the claim is another's", "tick*60", "java close@51", [](Session& t) { t.holds = false; }},
        {"the folder answers just in time", "held tick +1999 check late check tick*60",
         "update? java close@51"},
        {"the changes come just in time",
         "changes held tick late check +2999 read late read tick*60", "dialog close@51"},
        {"the folder answers late", "held tick +1999 check +1 check late check tick*60",
         "java close@51"},
        {"no threads", "changes tick check read tick*60", "dialog close@51",
         [](Session& t) { t.threads = false; }},
        {"no threads, yes", "yes tick check tick*60", "update? updated java watch close@51 new",
         [](Session& t) { t.threads = false; }},
        // What a cut run left is settled before the jar is looked at: Tarvio.jar's, and the
        // lookup's own jar's when it is another; without the claim, neither.
        {"a cut install", "tick check tick*60", "update? java close@51 new",
         [](Session& t) { t.cutInstall(kLocal); }},
        {"another jar's cut install", "tick check tick*60", "java close@51 other",
         [](Session& t) {
             t.folders[kApp] = {{L"Other.jar"}}, t.cutInstall(kApp + L"\\Other.jar");
         }},
        {"another jar's, not ours", "tick*60", "java close@51",
         [](Session& t) {
             t.folders[kApp] = {{L"Other.jar"}}, t.cutInstall(kApp + L"\\Other.jar");
             t.holds = false;
         }},
        {"the application runs", "changes tick check read tick*20", "running close@12",
         [](Session& t) { t.heldOpen.insert(kLocal); }},
        // The answers.
        {"no, and clicks", "click tick click check click tick*60", "update? java close@51"},
        {"yes",
         "left yes tick check +1000 copy tick*60 +53900 trial exit1 trial trial! again tick check "
         "tick*60",
         "update? updated java watch close@51 unwatch java close@51 new"},
        // Only a whole copy that the jar check finds complete replaces the jar: what spoils the
        // published jar while the question is up, and what fails the copy.
        {"yes, incomplete", "yes ~incomplete tick check copy tick*60",
         "update? rejected java close@51"},
        {"yes, damaged", "yes ~damaged tick check copy tick*60",
         "update? rejected java close@51 refused"},
        {"yes, unrunnable", "yes ~unrunnable tick check copy tick*60",
         "update? rejected java close@51 refused"},
        {"yes, unreadable", "yes ~unreadable tick check copy tick*60",
         "update? rejected java close@51"},
        {"yes, a read fails", "yes ~unread tick check copy tick*60",
         "update? failed java close@51"},
        {"yes, the move fails", "yes ~jam tick check copy tick*60", "update? failed java close@51"},
        // Installed signed by one key (signed-jars.sh's), the published jar unsigned.
        {"yes, signed installed", "yes tick check copy tick*60",
         "update? failed java close@51 refused",
         [](Session& t) {
             const auto jar = testjar::signedFile("v1-rsa.jar");
             t.files[kLocal].assign(jar.begin(), jar.end());
         }},
        {"yes, the copy runs long",
         "yes no held tick late check +999 copy click +1 copy tick*60 late copy tick*60",
         "update? stop? bar nobar updated java watch close@112 new"},
        {"yes, the copy stalls", "yes held tick late check +14999 copy +1 copy late tick*60",
         "update? bar nobar stalled java close@51"},
        {"yes, then a click, no and yes",
         "yes no yes held tick late check click +1000 copy click late copy! tick*60",
         "update? stop? bar stop? nobar java close@53"},
        {"a click under the stop question", "yes no held tick late check ~click click late copy",
         "update? stop? updated java new"},
        {"the copy ends under the stop question", "yes yes held tick late check late ~copy click",
         "update? stop? java"},
        {"the changes file", "changes tick check read tick*10 launch tick*60",
         "dialog java close@62"},
        {"the changes file, read too late",
         "changes held tick late check tick*60 +2999 read +1 read tick*60",
         "update? java close@111"},
        {"the dialog left open", "changes tick check read tick*60 upgrade copy tick*60 dismiss",
         "dialog close@51 show updated java watch close@102 new"},
        {"the dialog answered after the splash, on trial",
         "changes tick check read tick*60 launch tick trial exit0 trial",
         "dialog close@51 java watch unwatch",
         [](Session& t) {
             t.files[previousJarPath(kLocal)] = "older", t.hidden.insert(previousJarPath(kLocal)),
             t.times[previousJarPath(kLocal)] = 50;
         }},
        {"the dialog closed unanswered", "changes tick check read tick*10 dismiss tick*60",
         "dialog close@62"},
        // The watch of java's start. A new version that fails gives way to the one it replaced, its
        // publish refused (a later one is offered) unless that one fails the same way; an update
        // over a version on trial keeps the one that had proved itself.
        {"java ends well, a trial passed", "yes tick check copy tick exit0 tick*60",
         "update? updated java close@51 new"},
        {"java fails", "tick check tick exit1 tick*20", "update? java stopped close@13"},
        {"the new version fails, the previous passes",
         "yes tick check copy tick exit1 tick tick*60",
         "update? updated java undone java close@53 refused"},
        {"the new version fails, then a later publish",
         "yes tick check copy tick exit1 tick tick*60 again tick check tick*60 publish again tick "
         "check",
         "update? updated java undone java close@53 java close@51 update? java"},
        {"the previous fails otherwise", "yes tick check copy tick exit1 tick exit3 tick*20",
         "update? updated java undone java stopped close@14 refused"},
        {"the jar is held as the new version fails",
         "yes tick check copy jam tick exit1 tick*20 again tick check tick*60",
         "update? updated java notundone close@13 java close@51 refused"},
        {"an update over a version on trial",
         "yes tick check copy tick*60 again publish yes tick check copy tick exit1 tick*60",
         "update? updated java watch close@51 update? updated java undone java close@53 refused"},
        {"the previous fails the same way", "yes tick check copy tick exit1 tick exit1 tick*20",
         "update? updated java undone java cannot close@14 new"},
        {"the new version fails its trial",
         "yes tick check copy tick*60 +53899 trial exit1 trial tick*60",
         "update? updated java watch close@51 undone show java unwatch close@102 refused"},
        {"the new version fails its trial, the jar held",
         "yes tick check copy tick*60 jam trial exit1 trial tick*60 again tick check tick*60",
         "update? updated java watch close@51 notundone unwatch java close@51 refused"},
        {"the new version fails its trial, java gone",
         "yes tick check copy tick*60 unjava trial exit1 trial tick*60",
         "update? updated java watch close@51 undone show nojava unwatch close@63 refused failed"},
        // A close.
        {"close before the first tick", "close tick", "java close@0"},
        {"close before the first tick, without java", "close tick", "nojava close@0",
         [](Session& t) { t.folders.clear(), t.add(kLocal); }},
        {"close while the folder is looked into", "held tick close late", "java close@1"},
        {"close while changes are read", "changes held tick late check close late", "java close@1"},
        {"close while copying", "yes held tick late check close late copy", "update? java close@1"},
        {"close after the start", "tick check close", "update? java close@1"},
        {"close with the dialog up", "changes tick check read close upgrade copy tick*60",
         "dialog close@1 show updated java watch close@52 new"},
        // The end of the user's session: nothing more starts; a queued poll finds its work given
        // up.
        {"end before the first tick", "end activate tick*60 close", "close@51"},
        {"end while the folder is looked into", "held tick end late check! tick*60", ""},
        {"end while changes are read", "changes held tick late check end late read! tick*60", ""},
        {"end during the copy", "yes held tick late check end late copy! tick*60", "update?"},
        {"end with the dialog up", "changes tick check read end upgrade launch", "dialog"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Session t;
        c.arrange(t);
        t.run(c.events);
        EXPECT_EQ(t.log, c.expected);
    }
}

// Only a complete and newer jar that can be installed now is offered; with the changes, where
// the dialog can show, else a box asks. Then java starts, the splash closing on its count.
TEST(LaunchSession, OffersOnlyANewerWholeJarThatCanBeInstalledNow) {
    const struct {
        const char* why;
        const char* shown;  // before java starts
        void (*arrange)(Session&);
    } cases[] = {
        {"hidden changes file", "update?", [](Session& t) { t.addChanges(true); }},
        {"changes unreadable", "update?",
         [](Session& t) { t.addChanges(), t.readFailure = PlatformError(5, L"x"); }},
        {"dialog fails", "update?", [](Session& t) { t.addChanges(), t.dialogWorks = false; }},
        {"no local time", "update?", [](Session& t) { t.times.erase(kLocal); }},
        {"as old", "", [](Session& t) { t.addChanges(), t.times[kRemote] = 100; }},
        {"a folder", "", [](Session& t) { t.unlisted(), t.add(kRemote).directory = true; }},
        {"unopened", "",
         [](Session& t) { t.addChanges(), t.openFailure = PlatformError(32, L"x"); }},
        {"read-only install", "", [](Session& t) { t.addChanges(), t.readOnlyInstall = true; }},
        {"a leftover stays", "leftover",
         [](Session& t) { t.addChanges(), t.stuck.insert(temporaryJarPath(kLocal)); }},
        {"unreadable jar", "", [](Session& t) { t.unreadableJars = true; }},
        // Installed with a time more than a day ahead of the clock: any other publish is newer.
        {"installed from the future", "update?",
         [](Session& t) { t.times[kLocal] = t.now + 86401; }},
        {"installed from the future, published still", "",
         [](Session& t) { t.times[kLocal] = t.times[kRemote] = t.now + 86401; }},
        {"installed from the future, published later", "update?",
         [](Session& t) { t.times[kLocal] = t.now + 86401, t.times[kRemote] = t.now + 90000; }},
        {"installed a day ahead to the second", "",
         [](Session& t) { t.times[kLocal] = t.now + 86400; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Session t;
        c.arrange(t);
        t.run("left tick check read tick*60");
        EXPECT_EQ(t.log, std::string(c.shown) + (*c.shown ? " " : "") + "java close@51");
    }
    // The platform's clock counts as file times do: whole seconds since 1601. Read against the
    // same clock: time() reads a coarse one, which may be a second ahead of it.
    const auto secondsSince1601 = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count() +
               11'644'473'600;
    };
    const std::int64_t before = secondsSince1601();
    const std::int64_t clock = FakeServices().Services::currentTime();
    EXPECT_TRUE(clock >= before && clock <= secondsSince1601()) << clock;
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

}  // namespace
}  // namespace velmoor
