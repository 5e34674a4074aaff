#pragma once
// A bus engine on its own thread with a pseudo-terminal as its serial adapter.

#include "engine/engine_host.hpp"
#include "engine/post.hpp"
#include "support/pty.hpp"
#include "support/qt_wait.hpp"

#include <QObject>

#include <gtest/gtest.h>

#include <vector>

namespace zanst::test {

class EngineFixture : public testing::Test {
  protected:
    using PortStatus = app::PortStatus;

    struct StatusEvent {
        PortStatus status;
        QString name;
    };

    void SetUp() override {
        QObject::connect(
            host.engine()->ports(), &app::PortControl::portStatusChanged, &context,
            [this](PortStatus s, const QString& name, const QString&) {
                statuses.push_back({s, name});
            },
            Qt::QueuedConnection);
    }

    // As the window does it: queued calls on the engine's thread.
    template <typename Fn> void post(Fn&& fn) { app::post(host.engine(), std::forward<Fn>(fn)); }
    void selectMode(bus::Mode tab) {
        post([tab](app::BusEngine& e) { e.modes()->selectMode(tab); });
    }
    void selectPort(const QString& name) {
        post([name](app::BusEngine& e) { e.ports()->selectPort(name); });
    }

    bool sawStatus(PortStatus s) const {
        for (const auto& e : statuses) {
            if (e.status == s) {
                return true;
            }
        }
        return false;
    }

    // Opens the pseudo-terminal and waits for the settle pause to report it open.
    void openPty() {
        selectPort(QString::fromStdString(pty.slavePath()));
        ASSERT_TRUE(waitUntil([&] { return sawStatus(PortStatus::Open); })) << "port did not open";
        statuses.clear();
    }

    // A copy of the engine's state, taken on its thread.
    bus::BusState snapshot() {
        bus::BusState copy;
        host.runBlocking([&] { copy = host.engine()->state(); });
        return copy;
    }

    Pty pty;
    app::EngineHost host;
    QObject context;
    std::vector<StatusEvent> statuses;
};

} // namespace zanst::test
