#pragma once
// A bus engine on its own thread with a pseudo-terminal as its serial adapter.

#include "engine/engine_host.hpp"
#include "support/pty.hpp"
#include "support/qt_wait.hpp"

#include <QObject>

#include <gtest/gtest.h>

#include <vector>

namespace zanst::test {

class EngineFixture : public testing::Test {
protected:
    using PortStatus = app::BusEngine::PortStatus;

    struct StatusEvent {
        PortStatus status;
        QString name;
    };

    void SetUp() override {
        QObject::connect(
            host.engine(), &app::BusEngine::portStatusChanged, &context,
            [this](PortStatus s, const QString& name, const QString&) { statuses.push_back({s, name}); },
            Qt::QueuedConnection);
    }

    void invoke(const char* slot) {
        QMetaObject::invokeMethod(host.engine(), slot, Qt::QueuedConnection);
    }
    void selectTab(bus::Tab tab) {
        QMetaObject::invokeMethod(host.engine(), "selectTab", Qt::QueuedConnection, Q_ARG(int, static_cast<int>(tab)));
    }
    void selectPort(const QString& name) {
        QMetaObject::invokeMethod(host.engine(), "selectPort", Qt::QueuedConnection, Q_ARG(QString, name));
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
