#pragma once
// The BMS tester on the bus engine's thread: the responder that answers a real BMS. The window
// publishes the bank to it by queued calls (a whole settings snapshot, a whole preset); what the
// responder shows goes back as queued signals carrying plain texts.

#include "bus/port.hpp"
#include "bus/router.hpp"
#include "bus/state.hpp"
#include "emulator/bank_editor.hpp"
#include "emulator/responder.hpp"

#include <QObject>
#include <QString>

namespace zanst::app {

class EmulatorFeature : public QObject {
    Q_OBJECT
  public:
    EmulatorFeature(bus::BusState& state, bus::BusPort& port, QObject* parent = nullptr);

    // Engine thread only.
    bus::BusListener* listener() { return &responder_; }
    const emulator::BmsResponder& responder() const { return responder_; }

    // Engine thread; the window reaches these by queued calls.
    void setBankSettings(const emulator::BankSettings& settings);
    // The preset at this model-list position, published whole; `announce` sends the 0x31 frame.
    void applyBatteryPreset(int listIndex, bool announce);

  signals:
    void bmsIdentityShown(const QString& pid, const QString& serial);
    // "Voltage" in 0.1 V and "Current" in 0.1 A; the window writes them in the user's locale.
    void bmsMeasurementShown(int voltageTenths, int currentTenths);
    // tbNumBat was read as a whole number (capped at 10); "Bat in parallel" follows it.
    void batteriesInParallelRead();
    // A measurement answer went out: the cell and current texts follow the sliders again.
    void cellTextsRefreshed();
    // The BMS asked for the info with no firmware version chosen; "v1.02" was reported.
    void firmwareVersionDefaulted();
    // The bus returns the responder's own answers (true), or a real request was answered again.
    void ownAnswersReturning(bool returning);

  private:
    // Turns the responder's reports into this object's signals.
    class Forwarder : public emulator::ResponderListener {
      public:
        explicit Forwarder(EmulatorFeature& link) : link_(link) {}
        void bmsIdentityShown(const std::string& pid, const std::string& serial) override;
        void bmsMeasurementShown(std::uint16_t voltageTenths, std::int16_t currentTenths) override;
        void batteriesInParallelRead(const emulator::BatteriesInParallel& read) override;
        void cellTextsRefreshed() override;
        void firmwareVersionDefaulted() override;
        void ownAnswersReturning(bool returning) override;

      private:
        EmulatorFeature& link_;
    };

    Forwarder forwarder_{*this};
    emulator::BmsResponder responder_;
};

} // namespace zanst::app
