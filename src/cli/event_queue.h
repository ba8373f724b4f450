#pragma once

#include <deque>
#include <mutex>

#include "cli/cli_event.h"

// The main thread's inbox: any thread pushes, the main thread takes everything at once. A
// descriptor becomes readable when something is waiting (a pipe's read end on POSIX, an
// event's number on Windows), so the main thread can wait for it, the terminal's input and
// a signal together.
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
    int fds[2] = {-1, -1};  // POSIX: the pipe; Windows: fds[0] is the event's number
    void* event = nullptr;  // Windows: set while events wait
};

}  // namespace mirka::cli
