#include "link/window_port.h"

#include "common/log_message.h"

namespace mirka {

void AppendLogTo(WindowSlot* slot, const CharFormat* style, WStringView text) {
    if (!slot) return;
    if (auto window = slot->Borrow()) window->AppendLogMessage(BuildLogMessage(style, text));
}

}  // namespace mirka
