#include "engine/engine_host.hpp"

namespace zanst::app {

EngineHost::EngineHost() : engine_(std::make_unique<BusEngine>()) {
    thread_.setObjectName(QStringLiteral("bus engine"));
    engine_->moveToThread(&thread_);
    thread_.start();
}

EngineHost::~EngineHost() {
    QThread* home = QThread::currentThread();
    runBlocking([engine = engine_.get(), home] {
        engine->shutdown();
        engine->moveToThread(home); // so that it is destroyed on the thread that owns the host
    });
    thread_.quit();
    thread_.wait();
}

} // namespace zanst::app
