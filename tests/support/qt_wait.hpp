#pragma once
// Waiting on the test's thread while queued signals from the engine arrive. The waits sleep in
// an event loop rather than spin, so CPU figures taken meanwhile belong to the code under test.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>

namespace zanst::test {

// Runs the event loop for about `slice`.
inline void pumpSlice(std::chrono::milliseconds slice = std::chrono::milliseconds(5)) {
    QEventLoop loop;
    QTimer::singleShot(slice, &loop, &QEventLoop::quit);
    loop.exec();
}

// Processes events until `done()` holds or `timeout` passes; returns done().
template <typename Pred>
bool waitUntil(Pred done, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout.count()) {
            return done();
        }
        pumpSlice();
    }
    return true;
}

// Processes events for `window`.
inline void pump(std::chrono::milliseconds window) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < window.count()) {
        pumpSlice();
    }
}

} // namespace zanst::test
