#pragma once

#include <cassert>
#include <thread>

// The thread a group of methods belongs to. Debug builds assert that a call runs on it;
// release builds check nothing.
namespace mirka {

class ThreadCheck {
public:
    // Once, before any other thread asks.
    void Bind(std::thread::id owner) { id = owner; }
    bool OnThread() const { return std::this_thread::get_id() == id; }
    void Assert() const { assert(OnThread()); }

private:
    std::thread::id id;
};

}  // namespace mirka
