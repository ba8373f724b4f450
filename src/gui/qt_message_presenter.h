#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <tuple>
#include <vector>

#include <QObject>
#include <QPointer>

#include "toolkit/message_box.h"

class QMessageBox;

namespace mirka {

// Shows the program's message boxes with QMessageBox. A box asked for on a worker thread is
// shown by the window thread while the worker waits for the answer; a posted box is shown
// by the window thread while its caller goes on. Made and destroyed on the window thread.
class QtMessagePresenter : public MessagePresenter {
public:
    QtMessagePresenter();
    ~QtMessagePresenter() override;
    QtMessagePresenter(const QtMessagePresenter&) = delete;
    QtMessagePresenter& operator=(const QtMessagePresenter&) = delete;

    int Present(unsigned type, const WString& caption, const WString& text) override;
    // Any thread: queues the box to the window thread and returns at once. The box is modal
    // like the others but runs no loop of its own, so nothing waits for the user's answer.
    // A box like one on its way or still open (same type, caption and text) is not posted
    // again: no number of the same error stacks boxes on the user.
    void Post(unsigned type, const WString& caption, const WString& text) override;
    // Once the window thread stops serving (the talk window has ended and the program is
    // shutting down), a worker's box goes to the debug log instead: nobody could show it,
    // and the worker would wait for ever.
    void StopServingWorkers() { serving = false; }

private:
    using Kind = std::tuple<unsigned, WString, WString>;
    void ShowPosted(unsigned type, const WString& caption, const WString& text);
    void Forget(const Kind& kind);

    std::atomic<bool> serving{true};
    // Window thread: the posted boxes are queued to this object, so those not shown yet go
    // with it; the ones still open are closed when the presenter goes.
    QObject postTarget;
    std::vector<QPointer<QMessageBox>> posted;
    // The kinds of the posted boxes on their way or open: posted from any thread, forgotten
    // on the window thread when the box closes.
    std::mutex kindsLock;
    std::set<Kind> kinds;
};

}  // namespace mirka
