#pragma once

#include <deque>
#include <mutex>

#include "cli/cli_event.h"

// The main thread's inbox: any thread pushes, the main thread takes everything at once. A
// pipe's read end becomes readable when something is waiting, so the main thread can wait
// for it, the terminal's input and a signal together.
namespace mirka::cli {

class EventQueue {
public:
    EventQueue();
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Any thread.
    void Push(CliEvent event);
    // Main thread: everything queued so far, oldest first.
    std::deque<CliEvent> TakeAll();
    // Readable while events wait.
    int WakeFd() const { return fds[0]; }

private:
    std::mutex lock;  // the queue; held only to push or take
    std::deque<CliEvent> events;
    int fds[2] = {-1, -1};
};

}  // namespace mirka::cli
