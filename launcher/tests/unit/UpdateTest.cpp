#include <gtest/gtest.h>

#include "FakeServices.h"
#include "core/TextEncoding.h"
#include "core/Update.h"
#include "core/UpdateCheckRun.h"

namespace velmoor {
namespace {

using testing::FakeServices;

const std::wstring kApp = L"D:\\Apps\\Tarvio";
const std::wstring kLocal = kApp + L"\\Tarvio.jar";
const std::wstring kRemote = L"I:\\Brantholm\\Kelvanor\\DevKit\\lastest update\\Tarvio.jar";
const std::wstring kChanges = L"I:\\Brantholm\\Kelvanor\\DevKit\\lastest update\\TarvioChanges.txt";
const std::wstring kPrompt =
    L"An update is available for this application\r\nDo you want to install this update now ?";

TEST(ChangesText, PutsALineBreakBeforeEveryLineWhateverEndsThem) {
    EXPECT_EQ(changesText(L""), L"");
    EXPECT_EQ(changesText(L"A\r\nB"), L"\r\nA\r\nB");
    EXPECT_EQ(changesText(L"A\r\nB\r\n"), L"\r\nA\r\nB");
    EXPECT_EQ(changesText(L"A\nB\n"), L"\r\nA\r\nB");
    EXPECT_EQ(changesText(L"A\rB"), L"\r\nA\r\nB");
    EXPECT_EQ(changesText(L"A\n\nB"), L"\r\nA\r\n\r\nB");
}

TEST(ChangesText, KeepsWhatFollowsANul) {
    using namespace std::literals;
    EXPECT_EQ(changesText(L"A\0B\r\0"sv), L"\r\nA\uFFFDB\r\n\uFFFD");
}

// How a changes file is read: byte-order marks first, then well-formed UTF-8, else ANSI.
TEST(DetectEncoding, MarksThenStrictUtf8ElseAnsi) {
    using namespace std::literals;
    const struct {
        std::string_view bytes;
        TextEncoding encoding;
        std::size_t markLength;
    } cases[] = {
        {"\xFF\xFE\x41\0"sv, TextEncoding::utf16le, 2},
        {"\xFE\xFF\0A"sv, TextEncoding::utf16be, 2},
        {"\xEF\xBB\xBF\xC3"sv, TextEncoding::utf8, 3},  // the mark decides, even for bad UTF-8
        {"", TextEncoding::utf8, 0},
        {"plain ASCII\r\n", TextEncoding::utf8, 0},
        {"\xC3\x9Cn\xC3\xAF \xE2\x82\xAC \xF0\x9F\x98\x80", TextEncoding::utf8, 0},
        {"\xED\x9F\xBF \xEE\x80\x80 \xF4\x8F\xBF\xBF", TextEncoding::utf8, 0},
        {"\xDCn\xEF\x63ode", TextEncoding::ansi, 0},  // Latin-1 letters
        {"\xC3", TextEncoding::ansi, 0},              // cut short at the end
        {"\xE2\x82", TextEncoding::ansi, 0},
        {"\xC3\x41", TextEncoding::ansi, 0},  // a lead byte without continuation
        {"\x80", TextEncoding::ansi, 0},      // a continuation without lead
        {"\xC0\xAF", TextEncoding::ansi, 0},  // overlong forms
        {"\xE0\x9F\xBF", TextEncoding::ansi, 0},
        {"\xF0\x8F\xBF\xBF", TextEncoding::ansi, 0},
        {"\xED\xA0\x80", TextEncoding::ansi, 0},      // a surrogate
        {"\xF4\x90\x80\x80", TextEncoding::ansi, 0},  // above U+10FFFF
        {"\xF5\x80\x80\x80", TextEncoding::ansi, 0},
        {"\xFF\xFF", TextEncoding::ansi, 0},
    };
    for (const auto& c : cases) {
        const DetectedEncoding detected = detectEncoding(c.bytes);
        EXPECT_EQ(detected.encoding, c.encoding) << ::testing::PrintToString(std::string(c.bytes));
        EXPECT_EQ(detected.markLength, c.markLength)
            << ::testing::PrintToString(std::string(c.bytes));
    }
}

TEST(ChangesPartEnd, EndsAfterTheLastWholeLineOrAtTheEnd) {
    const std::wstring_view text = L"\r\nA\r\nB\r\nC";
    EXPECT_EQ(changesPartEnd(text, 0, 1), 2u);
    EXPECT_EQ(changesPartEnd(text, 0, 2), 5u);
    EXPECT_EQ(changesPartEnd(text, 2, 2), 8u);
    EXPECT_EQ(changesPartEnd(text, 5, 5), text.size());
    EXPECT_EQ(changesPartEnd(L"", 0, 3), 0u);
}

struct FakeHost : UpdateHost {
    int launches = 0;
    bool dialogWorks = true;
    struct Dialog {
        std::wstring changes, local, remote;
    };
    std::vector<Dialog> dialogs;

    void loadApplication() override { ++launches; }
    bool showChangesDialog(const std::wstring& changes, const std::wstring& local,
                           const std::wstring& remote) override {
        if (!dialogWorks) return false;
        dialogs.push_back({changes, local, remote});
        return true;
    }
};

// An install with a jar and a newer one in the update folder.
struct Install {
    FakeServices services;
    FakeHost host;

    Install() {
        services.add(kLocal);
        services.contents[kLocal] = L"old";
        services.times[kLocal] = 100;
        services.contents[kRemote] = L"new";
        services.times[kRemote] = 200;
    }
    void addChangesFile(bool hidden = false) {
        services.add(kChanges).entry.hidden = hidden;
        services.contents[kChanges] = L"A\r\nB\r\n";
    }
};

// The update check as the splash window makes it: the folder examined, then the offer.
void checkForUpdate(FakeServices& services, UpdateHost& host,
                    const std::wstring& jarName = L"Tarvio.jar") {
    offerUpdate(services, host, examineUpdateFolder(services, services.appDirectory, jarName));
}

struct UpdateCheck : ::testing::Test, Install {};

TEST_F(UpdateCheck, LaunchesAtOnceInSilenceWithoutANewerJarOrAnAnswer) {
    // Equal times count as up to date: only a strictly newer jar is offered.
    for (const std::int64_t remote : {100, 99}) {
        services.times[kRemote] = remote;
        checkForUpdate(services, host);
    }
    services.times.erase(kRemote);
    checkForUpdate(services, host);
    offerUpdate(services, host, std::nullopt);
    EXPECT_EQ(host.launches, 4);
    EXPECT_TRUE(services.questions.empty());
    EXPECT_TRUE(services.messages.empty());
}

// The worker's run and the splash window's polls, in the orders the two threads can take.
TEST(UpdateCheckRun, AnswerOnlyWithinThePatienceAndNothingFromAWorkerGivenUpOn) {
    constexpr auto patience = UpdateCheckRun::kPatienceMs;
    {
        Install t;
        UpdateCheckRun run(kApp, L"Tarvio.jar");
        EXPECT_EQ(run.poll(0), UpdateCheckRun::Outcome::pending);
        run.run(t.services);
        ASSERT_EQ(run.poll(patience + 500), UpdateCheckRun::Outcome::answered);
        ASSERT_TRUE(run.findings());
        EXPECT_TRUE(run.findings()->newer);
    }
    {
        // Given up on: the worker finishes later, and its findings never come out.
        Install t;
        UpdateCheckRun run(kApp, L"Tarvio.jar");
        EXPECT_EQ(run.poll(patience - 1), UpdateCheckRun::Outcome::pending);
        EXPECT_EQ(run.poll(patience), UpdateCheckRun::Outcome::unreachable);
        run.run(t.services);
        EXPECT_EQ(run.poll(patience + 500), UpdateCheckRun::Outcome::unreachable);
        EXPECT_FALSE(run.findings());
    }
}

TEST_F(UpdateCheck, OffersTheChangesDialogAndLeavesTheLaunchToIt) {
    addChangesFile();
    checkForUpdate(services, host);
    ASSERT_EQ(host.dialogs.size(), 1u);
    EXPECT_EQ(host.dialogs[0].changes, L"\r\nA\r\nB");
    EXPECT_EQ(host.dialogs[0].local, kLocal);
    EXPECT_EQ(host.dialogs[0].remote, kRemote);
    EXPECT_EQ(host.launches, 0);
    EXPECT_TRUE(services.questions.empty());
}

TEST_F(UpdateCheck, AsksInAMessageBoxWhenTheChangesCannotBeShown) {
    struct Case {
        const char* why;
        void (*arrange)(Install&);
    };
    const Case cases[] = {
        {"no changes file", [](Install&) {}},
        {"hidden changes file", [](Install& t) { t.addChangesFile(true); }},
        {"unreadable changes file",
         [](Install& t) {
             t.addChangesFile();
             t.services.readFailure = PlatformError(5, L"Access is denied.");
         }},
        {"search fails", [](Install& t) { t.services.failingPattern = L"TarvioChanges"; }},
        {"dialog fails",
         [](Install& t) {
             t.addChangesFile();
             t.host.dialogWorks = false;
         }},
        {"local time unreadable", [](Install& t) { t.services.times.erase(kLocal); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Install t;
        c.arrange(t);
        t.services.answerYes = false;
        checkForUpdate(t.services, t.host);
        EXPECT_EQ(t.services.questions, std::vector<std::wstring>{kPrompt});
        EXPECT_TRUE(t.host.dialogs.empty());
        EXPECT_EQ(t.host.launches, 1);
        EXPECT_EQ(t.services.contents[kLocal], L"old");
    }
}

TEST_F(UpdateCheck, YesReplacesTheJarKeepingItsTimeThenLaunches) {
    checkForUpdate(services, host);
    EXPECT_EQ(services.messages, std::vector<std::wstring>{L"Application Updated !"});
    EXPECT_EQ(services.contents[kLocal], L"new");
    EXPECT_EQ(services.times[kLocal], 200);
    EXPECT_EQ(services.contents.count(kLocal + L".update.tmp"), 0u);
    EXPECT_EQ(host.launches, 1);

    // The next start finds equal times and offers nothing.
    checkForUpdate(services, host);
    EXPECT_EQ(services.questions.size(), 1u);
    EXPECT_EQ(host.launches, 2);
}

TEST_F(UpdateCheck, AFailedReplaceLeavesTheJarAndNoTemporaryFileAndStillLaunches) {
    services.moveFailure = PlatformError(32, L"The process cannot access the file.");
    checkForUpdate(services, host);
    EXPECT_EQ(services.messages,
              std::vector<std::wstring>{L"An error occured trying to update the application\r\n"
                                        L"The process cannot access the file."});
    EXPECT_EQ(services.contents[kLocal], L"old");
    EXPECT_EQ(services.contents.count(kLocal + L".update.tmp"), 0u);
    EXPECT_EQ(host.launches, 1);
}

TEST_F(UpdateCheck, LooksForAJarFoundUnderAnotherNameUnderThatName) {
    FakeServices other;
    other.times[kApp + L"\\Other.jar"] = 100;
    other.times[L"I:\\Brantholm\\Kelvanor\\DevKit\\lastest update\\Other.jar"] = 200;
    other.answerYes = false;
    checkForUpdate(other, host, L"Other.jar");
    EXPECT_EQ(other.questions.size(), 1u);
}

TEST(UpdateApplication, ReportsAMissingSourceWithoutThrowing) {
    FakeServices services;
    updateApplication(services, L"", L"");
    EXPECT_EQ(services.messages,
              std::vector<std::wstring>{L"An error occured trying to update the application\r\n"
                                        L"The system cannot find the file specified."});
}

}  // namespace
}  // namespace velmoor
