#pragma once

#include <cstdint>
#include <mutex>

#include "common/chat_font.h"
#include "toolkit/text.h"

// The process-wide values that outlive a single window: the user name, the chat font and the
// receive folder (kept in "conf.txt"), the status text and the sound switch (never saved).
// Read by the worker threads while the window thread changes them, so each access locks.
namespace mirka {

// Limits count characters, never the terminator, as in the settings table.
inline constexpr std::size_t kUserNameLimit = 127;
inline constexpr std::size_t kReceiveFolderLimit = 259;
inline constexpr char16_t kInitialStatusText[] = u"オンライン";
// The sender's default pace: a pass every millisecond, 2,048 bytes a pass and transfer. The
// settings table, the link and its sender all take these.
inline constexpr std::uint16_t kDefaultSendWait = 1;
inline constexpr std::int32_t kDefaultSendBufSize = 2048;

class ProgramValues {
public:
    // The settings table's built-in values until LoadSettings runs (a test keeps them equal).
    ProgramValues() : chatFont(MakeChatFont(u"ＭＳ Ｐゴシック", -210, 0)) {}

    WString UserName() const { return Get(userName); }
    void SetUserName(WStringView name) { Set(userName, FitField(name, kUserNameLimit + 1)); }

    CharFormat ChatFont() const {
        std::lock_guard<std::mutex> guard(lock);
        return chatFont;
    }
    void SetChatFont(const CharFormat& font) {
        std::lock_guard<std::mutex> guard(lock);
        chatFont = font;
    }

    WString ReceiveFolder() const { return Get(receiveFolder); }
    void SetReceiveFolder(WStringView folder) {
        Set(receiveFolder, FitField(folder, kReceiveFolderLimit + 1));
    }

    WString StatusText() const { return Get(statusText); }
    void SetStatusText(WStringView text) { Set(statusText, WString(text)); }

    bool SoundOn() const {
        std::lock_guard<std::mutex> guard(lock);
        return soundOn;
    }
    void SetSoundOn(bool on) {
        std::lock_guard<std::mutex> guard(lock);
        soundOn = on;
    }

private:
    WString Get(const WString& field) const {
        std::lock_guard<std::mutex> guard(lock);
        return field;
    }
    void Set(WString& field, WString value) {
        std::lock_guard<std::mutex> guard(lock);
        field = std::move(value);
    }

    mutable std::mutex lock;
    WString userName = u"名無しさんだよもん";
    CharFormat chatFont;
    WString receiveFolder;
    WString statusText = kInitialStatusText;
    bool soundOn = true;
};

}  // namespace mirka
