#pragma once
// Routes received bytes by operating mode: discarded on "Connection", left to the emulator in
// BMS tester mode, echoed (and left to the sniffer) in sniffer mode, else fed to the master-side
// receiver.

#include "bytes.hpp"
#include "master_receiver.hpp"
#include "port.hpp"
#include "state.hpp"

#include <cstdint>
#include <span>
#include <vector>

namespace zanst::bus {

enum class Route { Discard, Emulator, Sniffer, Master };

Route routeFor(const BusState& state);

// What the router did with one receive pass, and what is left for the feature of the mode.
struct ReceivePass {
    Route route = Route::Discard;
    // Emulator: the whole pass. Sniffer: the bytes repeated and parsed: all of them, or none when
    // the port failed (they are dropped with it).
    std::span<const std::uint8_t> forwarded;
    // Master: the watched frames that came back whole (MasterReceiver::watchFrames), in order.
    std::vector<Bytes> returnedFrames;
};

class ByteRouter {
  public:
    ByteRouter(BusState& state, MasterReceiver& master, BusPort& port)
        : state_(state), master_(master), port_(&port) {}

    // Where the sniffer's echo goes (a replayed capture echoes into nothing).
    void setPort(BusPort& port) { port_ = &port; }

    // One receive pass: the bytes read from the port in one go. In sniffer mode the whole pass goes
    // back out in one write before any of it is parsed: the ring keeps running through the tool, and
    // a pass that arrived together leaves together. Then each byte goes to `parse`, in order.
    template <typename Parse> ReceivePass route(std::span<const std::uint8_t> bytes, Parse&& parse) {
        ReceivePass pass;
        pass.route = routeFor(state_);
        if (pass.route != Route::Sniffer) {
            routeOther(bytes, pass);
            return pass;
        }
        master_.resetByteCounter();
        if (!bytes.empty() && port_->write(bytes)) {
            for (std::uint8_t b : bytes) {
                parse(b);
            }
            pass.forwarded = bytes;
        }
        return pass;
    }

    // Bytes the port's own echo thread has already written back. In sniffer mode they are only
    // parsed; in another mode (it changed while they were on their way) they go where route()
    // sends that mode's bytes.
    template <typename Parse> ReceivePass routeEchoed(std::span<const std::uint8_t> bytes, Parse&& parse) {
        ReceivePass pass;
        pass.route = routeFor(state_);
        if (pass.route != Route::Sniffer) {
            routeOther(bytes, pass);
            return pass;
        }
        master_.resetByteCounter();
        for (std::uint8_t b : bytes) {
            parse(b);
        }
        pass.forwarded = bytes;
        return pass;
    }

  private:
    void routeOther(std::span<const std::uint8_t> bytes, ReceivePass& pass);

    BusState& state_;
    MasterReceiver& master_;
    BusPort* port_;
};

} // namespace zanst::bus
