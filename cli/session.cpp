#include "cli/session.hpp"

#include "engine/bus_engine.hpp"

#include <QTimer>

namespace zanst::cli {

using app::PortControl;
using app::PortStatus;

Session::Session(const Console& console, std::string command)
    : app_(application()), console_(console), command_(std::move(command)),
      host_(std::make_unique<app::EngineHost>()) {
    connect(engine().ports(), &PortControl::portStatusChanged, this,
            [this](PortStatus status, const QString& name, const QString& detail) {
                if (finished() || name.toStdString() != port_) {
                    return;
                }
                switch (status) {
                case PortStatus::Failed:
                    if (failed_) {
                        failed_(detail);
                    } else {
                        fail(ExitCode::PortUnavailable,
                             "cannot open " + port_ + (detail.isEmpty() ? "" : ": " + detail.toStdString()));
                    }
                    break;
                case PortStatus::Open:
                    if (opened_) {
                        opened_();
                    }
                    break;
                case PortStatus::Lost:
                    if (lost_) {
                        lost_(detail);
                    } else {
                        fail(ExitCode::PortUnavailable,
                             "lost " + port_ + (detail.isEmpty() ? "" : ": " + detail.toStdString()));
                    }
                    break;
                case PortStatus::Idle:
                case PortStatus::Opening:
                    break;
                }
            });
    connect(&interrupts_, &Interrupts::interrupted, this, [this](int, int count) {
        if (interrupt_) {
            interrupt_(count);
        } else {
            fail(ExitCode::Failed, "interrupted");
        }
    });
}

Session::~Session() {
    feed_.reset();
    host_.reset(); // closes the port and stops the engine's thread
}

app::BankFeed& Session::feed() {
    if (!feed_) {
        feed_ = std::make_unique<app::BankFeed>(engine());
    }
    return *feed_;
}

void Session::openPort(const std::string& port, std::function<void()> opened) {
    port_ = port;
    opened_ = std::move(opened);
    reopenPort();
}

void Session::reopenPort() {
    const QString name = QString::fromStdString(port_);
    post(engine().ports(), [name](PortControl& p) { p.selectPort(name); });
}

void Session::pollBank(const std::string& port, std::function<void(const tester::TickReport&)> onTick) {
    connect(engine().tester(), &app::TesterFeature::ticked, this,
            [this, onTick = std::move(onTick)](const tester::TickReport& report) {
                if (report.polled && !finished()) {
                    onTick(report);
                }
            });
    openPort(port, [this] { selectMode(bus::Mode::BatteryTester); });
}

void Session::selectMode(bus::Mode mode) {
    post(engine().modes(), [mode](app::ModeSwitch& m) { m.selectMode(mode); });
}

void Session::say(const std::string& line) const {
    console_.error(command_ + ": " + line);
}

void Session::finish(int code) {
    if (!code_) {
        code_ = code;
    }
    loop_.quit();
}

void Session::fail(ExitCode code, const std::string& line) {
    if (finished()) {
        return;
    }
    say(line);
    finish(code);
}

void Session::after(int ms, std::function<void()> fn) {
    QTimer::singleShot(ms, this, [this, fn = std::move(fn)] {
        if (!finished()) {
            fn();
        }
    });
}

int Session::run() {
    if (!code_) {
        loop_.exec();
    }
    return code_.value_or(code(ExitCode::Failed));
}

} // namespace zanst::cli
