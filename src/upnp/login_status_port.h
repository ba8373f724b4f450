#pragma once

#include <string_view>

#include "toolkit/format.h"

// What the port mapping needs of the login window: its status line and its title. The flow
// may run on a worker thread; the GUI's implementation queues both calls to the window.
namespace mirka {

class LoginStatusPort {
public:
    virtual ~LoginStatusPort() = default;
    virtual void SetStatusText(const WString& text) = 0;
    virtual void SetTitle(const WString& title) = 0;
};

// The login window's title field holds 511 units.
inline constexpr std::size_t kAddressTitleCapacity = 512;

// Formats into the usual 2,048-unit buffer and shows it in the status line; no window, no text.
template <typename... Args>
void ShowLoginStatus(LoginStatusPort* window, WStringView format, const Args&... args) {
    if (!window) return;
    window->SetStatusText(Format(kFormatCapacity, format, args...));
}

// "MY IP ADDR: " and the own-address text (narrow, in the locale's code page).
inline void ShowAddressTitle(LoginStatusPort* window, std::string_view ownAddressText) {
    if (!window) return;
    window->SetTitle(Format(kAddressTitleCapacity, u"MY IP ADDR: %S", ownAddressText));
}

}  // namespace mirka
