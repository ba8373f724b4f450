#include "app/chat_commands.h"

#include <clocale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/recorders.h"
#include "support/scoped_locale.h"

namespace mirka {
namespace {

using test::Utf8;

// Records every call as one readable line, in order.
class CommandRecorder : public ChatCommandTarget {
public:
    void AppendLog(const WString& text) override { calls.push_back("log " + Utf8(text)); }
    bool SoundOn() const override { return soundOn; }
    void SetSoundOn(bool on) override {
        soundOn = on;
        calls.push_back(on ? "sound on" : "sound off");
    }
    void SetOwnStatus(const WString& text) override { calls.push_back("status " + Utf8(text)); }
    WString UserName() const override { return u"みるか"; }
    void ClearLog() override { calls.push_back("clear log"); }
    void SaveLogWithDialog() override { calls.push_back("save log"); }
    void RunWebSearch(const std::string& words) override { calls.push_back("search " + words); }
    void QueueStatusMessage(const WString& text) override {
        calls.push_back("send status " + Utf8(text));
    }
    void QueueChatLine(const WString& text, const WString& name) override {
        calls.push_back("chat " + Utf8(name) + ": " + Utf8(text));
    }
    void SetSendWait(std::uint16_t milliseconds) override {
        calls.push_back("send wait " + std::to_string(milliseconds));
    }
    void SetSendBufSize(std::int32_t bytes) override {
        calls.push_back("send buffer " + std::to_string(bytes));
    }

    bool soundOn = true;
    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

Calls Command(WStringView input, CommandRecorder& recorder) {
    recorder.calls.clear();
    EXPECT_EQ(DispatchInput(input, recorder), InputOutcome::kCommand)
        << testing::PrintToString(input);
    return recorder.calls;
}

const std::string kSoundOff = "log System Message: \r\n効果音処理: OFF\r\n";
const std::string kSoundOn = "log System Message: \r\n効果音処理: ON\r\n";
const std::string kSendWaitChanged = "log System Message\r\n転送間隔を変更しました\r\n";

TEST(ChatCommandsTest, SoundArgumentsAndThePassedOverCharacter) {
    CommandRecorder recorder;
    EXPECT_EQ(Command(u"/sound", recorder), (Calls{"sound off", kSoundOff}));
    EXPECT_EQ(Command(u"/sound", recorder), (Calls{"sound on", kSoundOn}));
    EXPECT_EQ(Command(u"/sound off", recorder), (Calls{"sound off", kSoundOff}));
    EXPECT_EQ(Command(u"/sound off", recorder), (Calls{"sound off", kSoundOff}));
    EXPECT_EQ(Command(u"/sound \t on", recorder), (Calls{"sound on", kSoundOn}));
    // The letter o right behind the word is passed over: the argument is "ff", which toggles.
    EXPECT_EQ(Command(u"/soundoff", recorder), (Calls{"sound off", kSoundOff}));
    EXPECT_EQ(Command(u"/soundxon", recorder), (Calls{"sound on", kSoundOn}));
    // Arguments compare exactly: anything else toggles.
    EXPECT_EQ(Command(u"/sound OFF", recorder), (Calls{"sound off", kSoundOff}));
    EXPECT_EQ(Command(u"/sound on ", recorder), (Calls{"sound on", kSoundOn}));
    // A full-width space is not a blank.
    EXPECT_EQ(Command(u"/sound \u3000off", recorder), (Calls{"sound off", kSoundOff}));
}

TEST(ChatCommandsTest, LogClearAndSave) {
    CommandRecorder recorder;
    EXPECT_EQ(Command(u"/log  save", recorder), (Calls{"save log"}));
    EXPECT_EQ(Command(u"/log\tclear", recorder), (Calls{"clear log"}));
    EXPECT_EQ(Command(u"/logXsave", recorder), (Calls{"save log"}));
    EXPECT_EQ(Command(u"/log Save", recorder), Calls{});
    EXPECT_EQ(Command(u"/log save ", recorder), Calls{});
    EXPECT_EQ(Command(u"/log", recorder), Calls{});
    EXPECT_EQ(Command(u"/logsave", recorder), Calls{});  // "ave" after the passed-over s
}

TEST(ChatCommandsTest, StatusTakesTheRestOfTheLine) {
    CommandRecorder recorder;
    EXPECT_EQ(Command(u"/status  \t 会議中 です ", recorder),
              (Calls{"status 会議中 です ", "send status 会議中 です "}));
    EXPECT_EQ(Command(u"/status   ", recorder), (Calls{"status ", "send status "}));
    EXPECT_EQ(Command(u"/status", recorder), (Calls{"status ", "send status "}));
    EXPECT_EQ(Command(u"/statusaway", recorder), (Calls{"status away", "send status away"}));
}

TEST(ChatCommandsTest, SendWaitKeepsLowBitsOfPositiveValues) {
    CommandRecorder recorder;
    EXPECT_EQ(Command(u"/sendwait 70000", recorder), (Calls{"send wait 4464", kSendWaitChanged}));
    EXPECT_EQ(Command(u"/sendwait 500ms", recorder), (Calls{"send wait 500", kSendWaitChanged}));
    EXPECT_EQ(Command(u"/sendwait\t+7", recorder), (Calls{"send wait 7", kSendWaitChanged}));
    // Beyond 32 bits the value is the largest int, whose low bits are 65535.
    EXPECT_EQ(Command(u"/sendwait 99999999999", recorder),
              (Calls{"send wait 65535", kSendWaitChanged}));
    EXPECT_EQ(Command(u"/sendwait 0", recorder), Calls{});
    EXPECT_EQ(Command(u"/sendwait -5", recorder), Calls{});
    EXPECT_EQ(Command(u"/sendwait fast", recorder), Calls{});
    EXPECT_EQ(Command(u"/sendwait", recorder), Calls{});
    EXPECT_EQ(Command(u"/sendwait - 5", recorder), Calls{});
    // Full-width digits are not digits.
    EXPECT_EQ(Command(u"/sendwait ５", recorder), Calls{});
}

TEST(ChatCommandsTest, SendBufSizeStoresAnyValue) {
    CommandRecorder recorder;
    EXPECT_EQ(Command(u"/sendbufsize 4096", recorder), Calls{"send buffer 4096"});
    EXPECT_EQ(Command(u"/sendbufsize -1", recorder), Calls{"send buffer -1"});
    EXPECT_EQ(Command(u"/sendbufsize", recorder), Calls{"send buffer 0"});
    EXPECT_EQ(Command(u"/sendbufsize big", recorder), Calls{"send buffer 0"});
    EXPECT_EQ(Command(u"/sendbufsize 2147483648", recorder), Calls{"send buffer 2147483647"});
    EXPECT_EQ(Command(u"/sendbufsize -99999999999999999999", recorder),
              Calls{"send buffer -2147483648"});
}

TEST(ChatCommandsTest, HelpIgnoresWhatFollowsTheWord) {
    CommandRecorder recorder;
    const Calls list{"log " + Utf8(WString(CommandListText()))};
    EXPECT_EQ(Command(u"/help", recorder), list);
    EXPECT_EQ(Command(u"/help me", recorder), list);
    EXPECT_EQ(Command(u"/helpme", recorder), list);
}

TEST(ChatCommandsTest, SearchWordsAreTheNarrowRest) {
    auto locale = test::Utf8Locale();  // narrow text holds Japanese
    CommandRecorder recorder;
    EXPECT_EQ(Command(u"/search \t 猫 cat", recorder), Calls{"search 猫 cat"});
    EXPECT_EQ(Command(u"/searchabc", recorder), Calls{"search abc"});
    EXPECT_EQ(Command(u"/search", recorder), Calls{"search "});
    // The narrow read holds 499 bytes and never splits a character.
    WString longWords = u"/search " + WString(200, u'あ');
    Calls calls = Command(longWords, recorder);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], "search " + Utf8(WString(163, u'あ')));
}

TEST(ChatCommandsTest, OtherTextIsAChatLine) {
    CommandRecorder recorder;
    EXPECT_EQ(DispatchInput(u"/Status away", recorder), InputOutcome::kChatLine);
    EXPECT_EQ(DispatchInput(u" /help", recorder), InputOutcome::kChatLine);
    EXPECT_EQ(DispatchInput(u"/sen", recorder), InputOutcome::kChatLine);
    EXPECT_EQ(DispatchInput(u"", recorder), InputOutcome::kChatLine);
    EXPECT_EQ(DispatchInput(u"一行目\r\n二行目", recorder), InputOutcome::kChatLine);
    EXPECT_EQ(recorder.calls,
              (Calls{"chat みるか: /Status away", "chat みるか:  /help", "chat みるか: /sen",
                     "chat みるか: ", "chat みるか: 一行目\r\n二行目"}));
}

TEST(ChatCommandsTest, LongInputIsCut) {
    CommandRecorder recorder;
    // A chat line keeps its first 999 units, without splitting a surrogate pair.
    WString line = WString(998, u'x') + u"\U0001F600" + u"tail";
    DispatchInput(line, recorder);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0], "chat みるか: " + std::string(998, 'x'));

    // A command sees the first 1,023 units only.
    recorder.calls.clear();
    WString status = u"/status " + WString(1015, u's') + u"cut";
    DispatchInput(status, recorder);
    ASSERT_EQ(recorder.calls.size(), 2u);
    EXPECT_EQ(recorder.calls[0], "status " + std::string(1015, 's'));
}

TEST(ChatCommandsTest, CommandListNamesWhatTheDispatcherTakes) {
    // The list is the help's text: a heading, then each command on its line and what it does
    // on the next, indented. Every command it names must be one the dispatcher runs.
    WString list(CommandListText());
    std::vector<WString> lines;
    for (std::size_t at = 0; at < list.size();) {
        std::size_t end = list.find(u"\r\n", at);
        ASSERT_NE(end, WString::npos) << "every line ends with CR LF";
        lines.push_back(list.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], u"コマンド一覧");
    ASSERT_EQ(lines.size() % 2, 1u);
    std::size_t named = 0;
    for (std::size_t i = 1; i + 1 < lines.size(); i += 2) {
        SCOPED_TRACE(Utf8(lines[i]));
        ASSERT_EQ(lines[i].substr(0, 1), u"/");
        EXPECT_EQ(lines[i + 1].substr(0, 1), u"\u3000");
        EXPECT_GT(lines[i + 1].size(), 1u);
        // "/status [Message]" is run as "/status x"; "/sound on" as it stands.
        WString command = lines[i].substr(0, lines[i].find(u" ["));
        while (!command.empty() && command.back() == u' ') command.pop_back();
        if (lines[i].find(u" [") != WString::npos) command += u" 1";
        CommandRecorder recorder;
        EXPECT_EQ(DispatchInput(command, recorder), InputOutcome::kCommand);
        ++named;
    }
    EXPECT_EQ(named, 9u);  // help, status, sound on/off, log clear/save, search, the two paces

    CommandRecorder recorder;
    ShowCommandList(recorder);
    EXPECT_EQ(recorder.calls, Calls{"log " + Utf8(list)});
}

}  // namespace
}  // namespace mirka
