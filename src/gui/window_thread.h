#pragma once

#include <QApplication>
#include <QThread>

// Widgets and the window's own state belong to the thread that runs the application. Calls
// a worker might make by mistake check it in debug builds; release builds pay nothing.
namespace mirka {

inline bool OnWindowThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

inline void AssertWindowThread(const char* where) {
    Q_ASSERT_X(OnWindowThread(), where, "called off the window thread");
    Q_UNUSED(where);
}

}  // namespace mirka
