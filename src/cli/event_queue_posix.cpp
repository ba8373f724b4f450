#include "cli/event_queue.h"

#include <fcntl.h>
#include <unistd.h>

namespace mirka::cli {

EventQueue::EventQueue() {
    if (pipe(fds) == 0) {
        for (int fd : fds) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        for (int fd : fds) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

EventQueue::~EventQueue() {
    for (int fd : fds)
        if (fd >= 0) close(fd);
}

void EventQueue::Push(CliEvent event) {
    bool first;
    {
        std::lock_guard<std::mutex> guard(lock);
        first = events.empty();
        events.push_back(std::move(event));
    }
    // One byte per batch: the reader drains the pipe before it takes the batch.
    if (first) {
        char byte = 1;
        [[maybe_unused]] ssize_t n = write(fds[1], &byte, 1);
    }
}

std::deque<CliEvent> EventQueue::TakeAll() {
    char buffer[64];
    while (read(fds[0], buffer, sizeof buffer) > 0) {
    }
    std::lock_guard<std::mutex> guard(lock);
    std::deque<CliEvent> taken;
    taken.swap(events);
    return taken;
}

}  // namespace mirka::cli
