#include <gtest/gtest.h>

#include "FakeServices.h"
#include "core/Messages.h"
#include "core/TextEncoding.h"
#include "core/Update.h"
#include "core/UpdateCheckRun.h"

namespace velmoor {
namespace {

using namespace std::literals;
using testing::FakeServices;

TEST(ChangesText, ALineBreakBeforeEveryLineWhateverEndsThemAndNothingLostAfterANul) {
    const std::pair<std::wstring_view, std::wstring_view> cases[] = {
        {L"", L""},
        {L"A\r\nB\r\n", L"\r\nA\r\nB"},
        {L"A\nB", L"\r\nA\r\nB"},
        {L"A\rB", L"\r\nA\r\nB"},
        {L"A\n\nB", L"\r\nA\r\n\r\nB"},
        {L"A\0B\r\0"sv, L"\r\nA\uFFFDB\r\n\uFFFD"},
    };
    for (const auto& [file, shown] : cases) EXPECT_EQ(changesText(file), shown);
    const std::wstring_view text = L"\r\nA\r\nB\r\nC";
    EXPECT_EQ(changesPartEnd(text, 0, 2), 5u);
    EXPECT_EQ(changesPartEnd(text, 2, 2), 8u);
    EXPECT_EQ(changesPartEnd(text, 5, 5), text.size());
}

// Byte-order marks first, then well-formed UTF-8, else ANSI.
TEST(DetectEncoding, MarksThenStrictUtf8ElseAnsi) {
    const struct {
        std::string_view bytes;
        TextEncoding encoding;
        std::size_t markLength;
    } cases[] = {
        {"\xFF\xFE\x41\0"sv, TextEncoding::utf16le, 2},
        {"\xFE\xFF\0A"sv, TextEncoding::utf16be, 2},
        {"\xEF\xBB\xBF\xC3", TextEncoding::utf8, 3},  // the mark decides, even for bad UTF-8
        {"plain\r\n", TextEncoding::utf8, 0},
        {"\xC3\x9C \xE2\x82\xAC \xF0\x9F\x98\x80 \xED\x9F\xBF \xF4\x8F\xBF\xBF", TextEncoding::utf8,
         0},
        {"\xDCn\xEF\x63ode", TextEncoding::ansi, 0},
        {"\xE2\x82", TextEncoding::ansi, 0},      // cut short
        {"\xC3\x41", TextEncoding::ansi, 0},      // no continuation
        {"\x80", TextEncoding::ansi, 0},          // no lead
        {"\xC0\xAF", TextEncoding::ansi, 0},      // overlong
        {"\xE0\x9F\xBF", TextEncoding::ansi, 0},  // overlong
        {"\xF0\x8F\xBF\xBF", TextEncoding::ansi, 0},
        {"\xED\xA0\x80", TextEncoding::ansi, 0},      // a surrogate
        {"\xF4\x90\x80\x80", TextEncoding::ansi, 0},  // above U+10FFFF
        {"\xF5\x80\x80\x80", TextEncoding::ansi, 0},
    };
    for (const auto& c : cases) {
        const DetectedEncoding detected = detectEncoding(c.bytes);
        EXPECT_EQ(detected.encoding, c.encoding) << ::testing::PrintToString(std::string(c.bytes));
        EXPECT_EQ(detected.markLength, c.markLength)
            << ::testing::PrintToString(std::string(c.bytes));
    }
}

const std::wstring kLocal = L"D:\\Apps\\Tarvio\\Tarvio.jar";
const std::wstring kRemote = std::wstring(kUpdateFolder) + L"Tarvio.jar";
const std::wstring kChanges = std::wstring(kUpdateFolder) + std::wstring(kChangesFileName);

// An install with a jar and a newer one in the update folder; the host counts launches and
// records the changes dialogs.
struct Install : FakeServices, UpdateHost {
    int launches = 0;
    bool dialogWorks = true;
    std::vector<std::wstring> dialogs;
    Install() {
        contents = {{kLocal, L"old"}, {kRemote, L"new"}};
        times = {{kLocal, 100}, {kRemote, 200}};
    }
    void loadApplication() override { ++launches; }
    bool showChangesDialog(const std::wstring& changes, const std::wstring& local,
                           const std::wstring& remote) override {
        if (dialogWorks) dialogs.push_back(changes + L"|" + local + L"|" + remote);
        return dialogWorks;
    }
    void addChanges(bool hidden = false) {
        add(kChanges).hidden = hidden;
        contents[kChanges] = L"A\nB";
    }
    void check(const std::wstring& jar = L"Tarvio.jar") {
        offerUpdate(*this, *this, examineUpdateFolder(*this, appDirectory, jar));
    }
};

TEST(UpdateCheck, TheChangesDialogOrElseABoxAsks) {
    Install withChanges;
    withChanges.addChanges();
    withChanges.check();
    EXPECT_EQ(withChanges.dialogs,
              std::vector<std::wstring>{L"\r\nA\r\nB|" + kLocal + L"|" + kRemote});
    EXPECT_EQ(withChanges.launches + withChanges.questions.size(), 0u);

    const std::pair<const char*, void (*)(Install&)> cases[] = {
        {"no changes file", [](Install&) {}},
        {"hidden changes file", [](Install& t) { t.addChanges(true); }},
        {"unreadable", [](Install& t) { t.addChanges(), t.readFailure = PlatformError(5, L"x"); }},
        {"dialog fails", [](Install& t) { t.addChanges(), t.dialogWorks = false; }},
        {"no local time", [](Install& t) { t.times.erase(kLocal); }},
    };
    for (const auto& [why, arrange] : cases) {
        SCOPED_TRACE(why);
        Install t;
        arrange(t);
        t.answerYes = false;
        t.check();
        EXPECT_EQ(t.questions, std::vector<std::wstring>{updatePrompt()});
        EXPECT_TRUE(t.dialogs.empty());
        EXPECT_EQ(t.launches, 1);
        EXPECT_EQ(t.contents[kLocal], L"old");
    }
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

}  // namespace
}  // namespace velmoor
