#pragma once
// The BMS tester on the bus engine's thread: the responder that answers a real BMS. The window
// publishes the bank to it by queued calls (a whole settings snapshot, a whole preset); what the
// responder reports goes back as one queued report per receive pass.

#include "bus/port.hpp"
#include "bus/state.hpp"
#include "emulator/bank_editor.hpp"
#include "emulator/responder.hpp"
#include "engine/metatypes.hpp"

#include <QObject>

namespace zanst::app {

class EmulatorFeature : public QObject {
    Q_OBJECT
  public:
    EmulatorFeature(bus::BusState& state, bus::BusPort& port, QObject* parent = nullptr);

    // One receive pass in "BMS tester" mode: answered at once.
    void receive(std::span<const std::uint8_t> bytes);
    const emulator::BmsResponder& responder() const { return responder_; }

    // Engine thread; the window reaches these by queued calls.
    void setBankSettings(const emulator::BankSettings& settings);
    // The preset at this model-list position, published whole; `announce` sends the 0x31 frame.
    void applyBatteryPreset(int listIndex, bool announce);

  signals:
    void reported(const zanst::emulator::ResponderReport& report);

  private:
    emulator::BmsResponder responder_;
};

} // namespace zanst::app
