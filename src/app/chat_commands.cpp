#include "app/chat_commands.h"

#include <algorithm>
#include <limits>

namespace mirka {
namespace {

constexpr std::size_t kCommandTextUnits = 1023;
constexpr std::size_t kChatLineUnits = 999;
constexpr std::size_t kSearchWordsBytes = 499;

constexpr WStringView kSoundOffMessage = u"System Message: \r\n効果音処理: OFF\r\n";
constexpr WStringView kSoundOnMessage = u"System Message: \r\n効果音処理: ON\r\n";
constexpr WStringView kSendWaitMessage = u"System Message\r\n転送間隔を変更しました\r\n";

// Each description is indented with a full-width space (U+3000).
constexpr WStringView kCommandList =
    u"コマンド一覧\r\n"
    u"/help\r\n"
    u"\u3000コマンド一覧 \r\n"
    u"/status [Message]\r\n"
    u"\u3000相手にステータスメッセージを送信\r\n"
    u"/sound on\r\n"
    u"\u3000イベント受信時に効果音を鳴らす\r\n"
    u"/sound off\r\n"
    u"\u3000イベント受信時に効果音を鳴らさない\r\n"
    u"/log clear\r\n"
    u"\u3000ログを消去する\r\n"
    u"/log save\r\n"
    u"\u3000ログを保存する\r\n"
    u"/search [search_words] \r\n"
    u"\u3000入力キーワードを google で検索する\r\n"
    u"/sendwait [sendtime]\r\n"
    u"\u3000送信間隔 (単位: ms, 既定値: 1ms)\r\n"
    u"/sendbufsize [buffer_size]\r\n"
    u"\u3000一気に送信する最大バイト (単位: byte)\r\n";

// The argument starts at a fixed position behind the command word; blanks (space and tab,
// not the full-width space) before it are skipped. A text that ends earlier has none.
template <typename View>
View ArgumentAt(View text, std::size_t position) {
    if (position >= text.size()) return View();
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t')) {
        ++position;
    }
    return text.substr(position);
}

// An optional sign and decimal digits up to the first other character; no digits give 0,
// and values beyond the 32-bit range give the nearest limit.
std::int32_t ReadDecimal(WStringView text) {
    constexpr std::int64_t kMagnitudeLimit = std::int64_t{1} << 31;
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = std::min(magnitude * 10 + (text[i] - u'0'), kMagnitudeLimit);
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

void RunSound(WStringView text, ChatCommandTarget& target) {
    // Position 6, right behind the word, is passed over whatever it holds.
    WStringView argument = ArgumentAt(text, 7);
    bool on = argument == u"off" ? false : argument == u"on" ? true : !target.SoundOn();
    target.SetSoundOn(on);
    target.AppendLog(WString(on ? kSoundOnMessage : kSoundOffMessage));
}

void RunLog(WStringView text, ChatCommandTarget& target) {
    // Position 4, right behind the word, is passed over whatever it holds.
    WStringView argument = ArgumentAt(text, 5);
    if (argument == u"clear") {
        target.ClearLog();
    } else if (argument == u"save") {
        target.SaveLogWithDialog();
    }
}

void RunSearch(WStringView inputText, ChatCommandTarget& target) {
    // The search words are the narrow text of the whole box, cut like the box's narrow read.
    std::string narrow = ToNarrow(inputText);
    CutNarrow(narrow, kSearchWordsBytes);
    target.RunWebSearch(std::string(ArgumentAt(std::string_view(narrow), 7)));
}

void RunSendWait(WStringView text, ChatCommandTarget& target) {
    std::int32_t value = ReadDecimal(ArgumentAt(text, 9));
    if (value <= 0) return;
    target.SetSendWait(static_cast<std::uint16_t>(value & 0xFFFF));
    target.AppendLog(WString(kSendWaitMessage));
}

}  // namespace

InputOutcome DispatchInput(WStringView inputText, ChatCommandTarget& target) {
    WString command(inputText);
    CutUnits(command, kCommandTextUnits);
    WStringView text = command;

    if (text.starts_with(u"/status")) {
        WString status(ArgumentAt(text, 7));
        target.SetOwnStatus(status);
        target.QueueStatusMessage(status);
    } else if (text.starts_with(u"/sound")) {
        RunSound(text, target);
    } else if (text.starts_with(u"/log")) {
        RunLog(text, target);
    } else if (text.starts_with(u"/help")) {
        ShowCommandList(target);
    } else if (text.starts_with(u"/search")) {
        RunSearch(inputText, target);
    } else if (text.starts_with(u"/sendwait")) {
        RunSendWait(text, target);
    } else if (text.starts_with(u"/sendbufsize")) {
        target.SetSendBufSize(ReadDecimal(ArgumentAt(text, 12)));
    } else {
        WString line(inputText);
        CutUnits(line, kChatLineUnits);
        target.QueueChatLine(line, target.UserName());
        return InputOutcome::kChatLine;
    }
    return InputOutcome::kCommand;
}

WStringView CommandListText() {
    return kCommandList;
}

void ShowCommandList(ChatCommandTarget& target) {
    target.AppendLog(WString(kCommandList));
}

}  // namespace mirka
