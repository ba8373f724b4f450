#pragma once

#include "toolkit/format.h"

// Formatted message boxes without owner window. The boxes go through an installable
// presenter: the GUI installs one that shows a real box, tests install a recorder.
namespace mirka {

enum MessageBoxType : unsigned {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbYesNo = 0x4,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconWarning = 0x30,
    kMbIconInformation = 0x40,
};

enum MessageBoxResult : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // Shows the box and blocks the calling thread until it is closed; returns the button.
    virtual int Present(unsigned type, const WString& caption, const WString& text) = 0;
    // Shows an OK box without waiting for it: for worker threads, which must not stop reading
    // or sending while a box is open. Unless a presenter says otherwise, the same as Present.
    virtual void Post(unsigned type, const WString& caption, const WString& text) {
        Present(type, caption, text);
    }
};

// Installs the presenter for the whole process; nullptr restores the default, which writes
// the message to standard error and answers OK.
void InstallMessagePresenter(MessagePresenter* presenter);
// The presenter installed now (nullptr for the default).
MessagePresenter* InstalledMessagePresenter();

int PresentMessage(unsigned type, const WString& caption, const WString& text);
void PostMessageBox(unsigned type, const WString& caption, const WString& text);

inline constexpr char16_t kShowMessageCaption[] = u"Show Message";
inline constexpr char16_t kErrorCaption[] = u"エラー";

template <typename... Args>
void ShowMessage(WStringView format, const Args&... args) {
    PresentMessage(kMbOk, kShowMessageCaption, Format(kFormatCapacity, format, args...));
}

template <typename... Args>
int ShowTypedMessage(unsigned type, WStringView caption, WStringView format, const Args&... args) {
    return PresentMessage(type, WString(caption), Format(kFormatCapacity, format, args...));
}

// The boxes of ShowMessage and ShowTypedMessage, shown without waiting for the user.
template <typename... Args>
void PostShowMessage(WStringView format, const Args&... args) {
    PostMessageBox(kMbOk, kShowMessageCaption, Format(kFormatCapacity, format, args...));
}

template <typename... Args>
void PostTypedMessage(unsigned type, WStringView caption, WStringView format, const Args&... args) {
    PostMessageBox(type, WString(caption), Format(kFormatCapacity, format, args...));
}

}  // namespace mirka
