#pragma once

#include "toolkit/message_box.h"

namespace mirka {

// Shows the program's message boxes with QMessageBox. A box asked for on a worker thread is
// shown by the window thread while the worker waits for the answer.
class QtMessagePresenter : public MessagePresenter {
public:
    int Present(unsigned type, const WString& caption, const WString& text) override;
};

}  // namespace mirka
