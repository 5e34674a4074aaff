#pragma once
// Runs a BusEngine on a thread of its own for the lifetime of the host.

#include "engine/bus_engine.hpp"

#include <QThread>

#include <memory>

namespace zanst::app {

class EngineHost {
  public:
    EngineHost();
    ~EngineHost();
    EngineHost(const EngineHost&) = delete;
    EngineHost& operator=(const EngineHost&) = delete;

    BusEngine* engine() const { return engine_.get(); }

    // Runs `fn` on the engine's thread and waits for it. For tests and shutdown only: the window
    // never waits on the engine.
    template <typename Fn> void runBlocking(Fn&& fn) const {
        QMetaObject::invokeMethod(engine_.get(), std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
    }

  private:
    QThread thread_;
    std::unique_ptr<BusEngine> engine_;
};

} // namespace zanst::app
