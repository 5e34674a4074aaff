#pragma once
// Routes received bytes by operating mode: discarded on "Connection", handed to the emulator
// in BMS tester mode, echoed and handed to the sniffer in sniffer mode, else to the master-side
// receiver.

#include "master_receiver.hpp"
#include "port.hpp"
#include "state.hpp"

#include <cstdint>
#include <span>

namespace zanst::bus {

// A consumer of one receive pass (the emulator responder, the sniffer parser).
class BusListener {
  public:
    virtual ~BusListener() = default;
    virtual void receive(std::span<const std::uint8_t> bytes) = 0;
};

enum class Route { Discard, Emulator, Sniffer, Master };

Route routeFor(const BusState& state);

class ByteRouter {
  public:
    ByteRouter(BusState& state, MasterReceiver& master, BusPort& port)
        : state_(state), master_(master), port_(&port) {}

    void setEmulator(BusListener* emulator) { emulator_ = emulator; }
    void setSniffer(BusListener* sniffer) { sniffer_ = sniffer; }
    // Where the sniffer's echo goes (a replayed capture echoes into nothing).
    void setPort(BusPort& port) { port_ = &port; }

    // One receive pass: the bytes read from the port in one go.
    void route(std::span<const std::uint8_t> bytes);

  private:
    BusState& state_;
    MasterReceiver& master_;
    BusPort* port_;
    BusListener* emulator_ = nullptr;
    BusListener* sniffer_ = nullptr;
};

} // namespace zanst::bus
