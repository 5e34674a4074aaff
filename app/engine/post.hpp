#pragma once
// Typed calls across threads: the window asks an engine object (or the engine asks a window
// object) to run a member or a lambda on the object's own thread, queued, without waiting.

#include <QMetaObject>
#include <QObject>

#include <utility>

namespace zanst::app {

// Runs `fn(*target)` on `target`'s thread. Dropped if `target` is gone by then.
template <typename T, typename Fn> void post(T* target, Fn&& fn) {
    QMetaObject::invokeMethod(
        target, [target, fn = std::forward<Fn>(fn)]() mutable { fn(*target); }, Qt::QueuedConnection);
}

} // namespace zanst::app
