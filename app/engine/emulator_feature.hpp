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

    // A recording drives the bank (PlaybackFeature): the model at `listIndex` when it is not the one
    // in use, `sliders` as the settings, and `bank` answering the BMS, held against the user's
    // settings and models until releasePlayedBank(). Sends the 0x31 frame when the BMS must ask
    // for the info again (another model or number of balancers); returns whether it did.
    bool playBank(const emulator::PlayedBank& bank, int listIndex, const emulator::BankSettings& sliders);
    // The playback ended: the played bank answers on until the user's next settings or model.
    void releasePlayedBank() { held_ = false; }
    bool playedBankHeld() const { return held_; }

  signals:
    void reported(const zanst::emulator::ResponderReport& report);

  private:
    // The user changed the bank: the sliders answer again, unless a playback holds it.
    void dropPlayedBank();

    emulator::BmsResponder responder_;
    bool held_ = false;
};

} // namespace zanst::app
