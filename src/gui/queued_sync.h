#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include <QMetaObject>
#include <QPointer>

// A model's change listener for a view: called on any thread, it queues one call of the
// view's sync on the view's thread, however many changes come before that call runs.
namespace mirka {

template <typename View>
std::function<void()> QueuedSync(View* view, void (View::*sync)()) {
    QPointer<View> target(view);
    auto queued = std::make_shared<std::atomic<bool>>(false);
    return [target, queued, sync] {
        if (queued->exchange(true)) return;
        QMetaObject::invokeMethod(
            target.data(),
            [target, queued, sync] {
                queued->store(false);
                if (target) (target.data()->*sync)();
            },
            Qt::QueuedConnection);
    };
}

}  // namespace mirka
