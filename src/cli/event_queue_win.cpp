#include <windows.h>

#include "cli/event_queue.h"
#include "cli/terminal.h"

namespace mirka::cli {

EventQueue::EventQueue() {
    // Manual reset: set by the push that finds the queue empty, cleared by the take.
    event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event) fds[0] = Terminal::WaitableNumber(event);
}

EventQueue::~EventQueue() {
    if (!event) return;
    Terminal::ForgetWaitable(fds[0]);
    ::CloseHandle(static_cast<HANDLE>(event));
}

void EventQueue::Push(CliEvent event_) {
    bool first;
    {
        std::lock_guard<std::mutex> guard(lock);
        first = events.empty();
        events.push_back(std::move(event_));
    }
    if (first && event) ::SetEvent(static_cast<HANDLE>(event));
}

std::deque<CliEvent> EventQueue::TakeAll() {
    // Cleared before the take: a push after it finds the queue empty and sets it again.
    if (event) ::ResetEvent(static_cast<HANDLE>(event));
    std::lock_guard<std::mutex> guard(lock);
    std::deque<CliEvent> taken;
    taken.swap(events);
    return taken;
}

}  // namespace mirka::cli
