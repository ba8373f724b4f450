#pragma once

#include <cstddef>

#include "toolkit/text.h"

class QWidget;

// The modal one-line input dialog. Its size follows the prompt, it opens centred on the
// screen, and OK is its only way out: Esc and the close box leave it open.
namespace mirka {

inline constexpr char16_t kInputDialogCaption[] = u"入力";
inline constexpr char16_t kNameChangePrompt[] = u"使用する名前を入力してください";
inline constexpr char16_t kStatusChangePrompt[] = u"相手に送信する自分の状態を入力してください";

// Shows `text` as the default and, when the dialog is closed with OK, replaces it with the
// entry cut to capacity - 1 units. With mustNotBeEmpty an empty entry is refused silently.
// Returns true when closed with OK; otherwise (the application quitting under it) `text`
// keeps its value.
bool ShowInputDialog(QWidget* owner, WStringView caption, WStringView prompt, WString& text,
                     std::size_t capacity, bool mustNotBeEmpty = false);

}  // namespace mirka
