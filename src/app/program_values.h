#pragma once

#include <mutex>

#include "app/chat_font.h"
#include "toolkit/text.h"

// The process-wide values that outlive a single window: the user name, the chat font and the
// receive folder (kept in "conf.txt"), the status text and the sound switch (never saved).
// Read by the worker threads while the window thread changes them, so each access locks.
namespace mirka {

inline constexpr std::size_t kUserNameUnits = 128;
inline constexpr std::size_t kReceiveFolderUnits = 260;
inline constexpr char16_t kInitialStatusText[] = u"オンライン";

class ProgramValues {
public:
    ProgramValues() : chatFont(MakeChatFont(u"ＭＳ Ｐゴシック", -210, 0)) {}

    WString UserName() const { return Get(userName); }
    // Cut to 127 units.
    void SetUserName(WStringView name) { Set(userName, FitField(name, kUserNameUnits)); }

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
        Set(receiveFolder, FitField(folder, kReceiveFolderUnits));
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
