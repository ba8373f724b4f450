#pragma once

#include <thread>
#include <utility>

#include <QEventLoop>

// Runs a blocking call (accept, connect, the gateway, a search, a pause) on a worker while
// the window thread keeps repainting but takes no user input; returns the call's result.
namespace mirka {

template <typename Call>
auto RunWhileRepainting(Call&& call) {
    QEventLoop loop;
    using Result = decltype(call());
    if constexpr (std::is_void_v<Result>) {
        std::thread worker([&] {
            call();
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        worker.join();
    } else {
        Result result{};
        std::thread worker([&] {
            result = call();
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        worker.join();
        return result;
    }
}

}  // namespace mirka
