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
    void bmsMeasurementShown(const QString& voltage, const QString& current);
    // tbNumBat was read as a whole number (capped at 10); "Bat in parallel" follows it.
    void batteriesInParallelRead();
    // A measurement answer went out: the cell and current texts follow the sliders again.
    void cellTextsRefreshed();
    // The BMS asked for the info with no firmware version chosen; "v1.02" was reported.
    void firmwareVersionDefaulted();

  private:
    // Turns the responder's reports into this object's signals.
    class Forwarder : public emulator::ResponderListener {
      public:
        explicit Forwarder(EmulatorFeature& link) : link_(link) {}
        void bmsIdentityShown(const std::string& pid, const std::string& serial) override;
        void bmsMeasurementShown(const std::string& voltage, const std::string& current) override;
        void batteriesInParallelRead(const emulator::BatteriesInParallel& read) override;
        void cellTextsRefreshed() override;
        void firmwareVersionDefaulted() override;

      private:
        EmulatorFeature& link_;
    };

    bus::BusState& state_;
    bus::BusPort& port_;
    Forwarder forwarder_{*this};
    emulator::BmsResponder responder_;
};

} // namespace zanst::app
