#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include <QCoreApplication>

namespace mirka::test {

// Waits for the condition while the window thread handles its queued events.
inline bool WaitWithEvents(const std::function<bool()>& condition,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace mirka::test
