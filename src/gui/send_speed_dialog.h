#pragma once

#include <optional>

#include "app/send_pace.h"

class QWidget;

namespace mirka {

inline constexpr char16_t kSendSpeedCaption[] = u"送信速度";

// The 送信速度 dialog: one of the paces of SendPaceChoices, starting on `current` (or on
// none when it is not one of them). The chosen pace, or none when cancelled.
std::optional<SendPace> ChooseSendPace(QWidget* owner, const SendPace& current);

}  // namespace mirka
