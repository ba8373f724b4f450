#pragma once

#include <atomic>

#include "toolkit/message_box.h"

namespace mirka {

// Shows the program's message boxes with QMessageBox. A box asked for on a worker thread is
// shown by the window thread while the worker waits for the answer.
class QtMessagePresenter : public MessagePresenter {
public:
    int Present(unsigned type, const WString& caption, const WString& text) override;
    // Once the window thread stops serving (the talk window has ended and the program is
    // shutting down), a worker's box goes to the debug log instead: nobody could show it,
    // and the worker would wait for ever.
    void StopServingWorkers() { serving = false; }

private:
    std::atomic<bool> serving{true};
};

}  // namespace mirka
