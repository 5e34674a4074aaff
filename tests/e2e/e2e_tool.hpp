#pragma once
// The tool without its window for end-to-end tests: a bus engine on its own thread, driven by
// queued calls as the window drives it. What it reports is collected on the engine's thread as
// it is emitted, with the time, so that a test can tell which tick showed what.

#include "bank/cell_rows.hpp"
#include "bus/hex.hpp"
#include "emulator/bank_editor.hpp"
#include "engine/engine_host.hpp"
#include "engine/post.hpp"
#include "support/qt_wait.hpp"
#include "support/sim_process.hpp"

#include <QObject>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zanst::test {

using SteadyClock = std::chrono::steady_clock;

// Generous: the tests must pass on two cores that other builds keep busy.
inline constexpr std::chrono::milliseconds kLongWait{15000};

struct EmittedTable {
    SteadyClock::time_point at;
    bank::CellTable table;
};

class Tool {
  public:
    using PortStatus = app::PortStatus;

    Tool() {
        app::BusEngine* engine = host.engine();
        // Direct connections: the slots run on the engine's thread the moment it emits.
        // The rows and bank texts as the window makes them from the engine's numbers.
        const auto keepTable = [this](const bank::BankSnapshot& snapshot) {
            const bank::CellTable t = bank::UpdateCellData(snapshot, bus::TextFormat{});
            std::lock_guard lock(mutex_);
            tables_.push_back({SteadyClock::now(), t});
            lastSnapshot_ = snapshot;
        };
        QObject::connect(
            engine, &app::BusEngine::healthReported, &context_,
            [this](const app::HealthReport& report) {
                std::lock_guard lock(mutex_);
                health_ = report;
            },
            Qt::DirectConnection);
        QObject::connect(
            engine->tester(), &app::TesterFeature::ticked, &context_,
            [this, keepTable](const tester::TickReport& report) {
                if (!report.polled) {
                    return;
                }
                keepTable(report.snapshot);
                const bank::BankTexts texts = bank::bankTexts(report.bank, bus::TextFormat{});
                std::lock_guard lock(mutex_);
                setpoints_.push_back(texts.setpoint);
                bankCurrent_ = texts.current;
            },
            Qt::DirectConnection);
        QObject::connect(
            engine->sniffer(), &app::SnifferFeature::reported, &context_,
            [this, keepTable](const sniffer::SnifferReport& report) {
                for (const bank::BankSnapshot& snapshot : report.burstsEnded) {
                    keepTable(snapshot);
                }
                std::lock_guard lock(mutex_);
                for (const sniffer::BmsFieldText& f : report.bmsInfoReceived) {
                    bmsInfo_[static_cast<int>(f.field)] = f.text;
                }
            },
            Qt::DirectConnection);
        QObject::connect(
            engine->ports(), &app::PortControl::portStatusChanged, &context_,
            [this](PortStatus s, const QString&, const QString&) {
                std::lock_guard lock(mutex_);
                statuses_.push_back(s);
            },
            Qt::DirectConnection);
        QObject::connect(
            engine->emulator(), &app::EmulatorFeature::reported, &context_,
            [this](const emulator::ResponderReport& report) {
                std::lock_guard lock(mutex_);
                if (report.identityReceived) {
                    emulatorIdentity_ = bus::ConvertHex1(report.identityReceived->productId, 4) + "/" +
                                        report.identityReceived->serial;
                }
                if (report.measurementReceived) {
                    emulatorMeasurement_ = bus::tenthsText(report.measurementReceived->voltageTenths) + "/" +
                                           bus::groupedTenthsText(report.measurementReceived->currentTenths);
                }
                if (report.ownAnswersReturning) {
                    ownAnswersReturning_ = *report.ownAnswersReturning;
                }
            },
            Qt::DirectConnection);
    }

    // As the window does it: queued calls into the engine.
    void selectMode(bus::Mode tab) {
        app::post(host.engine()->modes(), [tab](app::ModeSwitch& m) { m.selectMode(tab); });
    }
    void setSetpointCorrection(int correction) {
        app::post(host.engine()->tester(),
                  [correction](app::TesterFeature& t) { t.setSetpointCorrection(correction); });
    }
    // The BMS tester tab publishes whole snapshots to the responder by queued calls.
    void publishSettings(const emulator::BankSettings& settings) {
        app::EmulatorFeature* link = host.engine()->emulator();
        QMetaObject::invokeMethod(
            link, [link, settings] { link->setBankSettings(settings); }, Qt::QueuedConnection);
    }
    void applyPreset(int listIndex, bool announce) {
        app::EmulatorFeature* link = host.engine()->emulator();
        QMetaObject::invokeMethod(
            link, [link, listIndex, announce] { link->applyBatteryPreset(listIndex, announce); },
            Qt::QueuedConnection);
    }

    // Selects the port and waits until the engine reports it open (after its settle pause).
    bool openPort(const std::string& path) {
        const QString name = QString::fromStdString(path);
        app::post(host.engine()->ports(), [name](app::PortControl& p) { p.selectPort(name); });
        return waitUntil([&] { return sawStatus(PortStatus::Open); }, kLongWait);
    }
    bool sawStatus(PortStatus s) const {
        std::lock_guard lock(mutex_);
        for (PortStatus e : statuses_) {
            if (e == s) {
                return true;
            }
        }
        return false;
    }

    std::vector<EmittedTable> tables() const {
        std::lock_guard lock(mutex_);
        return tables_;
    }
    std::size_t tableCount() const {
        std::lock_guard lock(mutex_);
        return tables_.size();
    }
    bank::CellTable lastTable() const {
        std::lock_guard lock(mutex_);
        return tables_.empty() ? bank::CellTable{} : tables_.back().table;
    }
    // Setpoint texts of every poll tick, in order.
    std::vector<std::string> setpoints() const {
        std::lock_guard lock(mutex_);
        return setpoints_;
    }
    std::string bankCurrent() const {
        std::lock_guard lock(mutex_);
        return bankCurrent_;
    }
    std::map<int, std::string> bmsInfo() const {
        std::lock_guard lock(mutex_);
        return bmsInfo_;
    }
    std::string emulatorIdentity() const {
        std::lock_guard lock(mutex_);
        return emulatorIdentity_;
    }
    bank::BankSnapshot lastSnapshot() const {
        std::lock_guard lock(mutex_);
        return lastSnapshot_;
    }
    app::HealthReport health() const {
        std::lock_guard lock(mutex_);
        return health_;
    }
    bool ownAnswersReturning() const {
        std::lock_guard lock(mutex_);
        return ownAnswersReturning_;
    }
    std::string emulatorMeasurement() const {
        std::lock_guard lock(mutex_);
        return emulatorMeasurement_;
    }

    // A copy of the engine's state, taken on its thread.
    bus::BusState snapshot() {
        bus::BusState copy;
        host.runBlocking([&] { copy = host.engine()->state(); });
        return copy;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<EmittedTable> tables_;
    std::vector<std::string> setpoints_;
    std::string bankCurrent_;
    std::map<int, std::string> bmsInfo_;
    std::vector<PortStatus> statuses_;
    std::string emulatorIdentity_;
    std::string emulatorMeasurement_;
    bank::BankSnapshot lastSnapshot_;
    app::HealthReport health_;
    bool ownAnswersReturning_ = false;
    QObject context_;

  public:
    // Last, so that the engine and its thread stop before what the slots write to goes away.
    app::EngineHost host;
};

// zanst-sim playing `args`, linked at `link`, once it has said it is ready.
inline std::unique_ptr<SimProcess> startSim(std::vector<std::string> args, const std::string& link) {
    args.push_back("--link");
    args.push_back(link);
    auto sim = std::make_unique<SimProcess>(ZANST_SIM_PATH, args);
    EXPECT_TRUE(sim->waitForLine(" ready ", kLongWait)) << sim->transcript();
    return sim;
}

// Rows whose balancers have all reported a measurement.
inline bool measured(const bank::CellTable& t, std::size_t rows) {
    if (t.rows.size() != rows) {
        return false;
    }
    for (const auto& r : t.rows) {
        if (!r.volts) {
            return false;
        }
    }
    return true;
}

// A number shown with a fixed count of decimals, in its smallest unit ("3.301" -> 3301), whatever
// the decimal point; nothing for "-".
inline std::optional<int> unitsOf(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || c == '-') {
            digits += c;
        }
    }
    if (digits.empty() || digits == "-") {
        return std::nullopt;
    }
    return std::stoi(digits);
}

// Cell voltages of a table in mV (-1 where nothing was measured).
inline std::vector<int> millivolts(const bank::CellTable& t) {
    std::vector<int> out;
    for (const auto& r : t.rows) {
        out.push_back(unitsOf(r[bank::Column::Voltage]).value_or(-1));
    }
    return out;
}

} // namespace zanst::test
