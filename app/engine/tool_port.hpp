#pragma once
// The port the features send through: the source in use, counting the frames the tool writes
// and handing every write to the capture. The sniffer's echo goes to the port directly, so it
// neither counts nor pays for counting.

#include "bus/health.hpp"
#include "bus/port.hpp"
#include "engine/capture_feature.hpp"
#include "engine/port_control.hpp"

namespace zanst::app {

class ToolPort : public bus::BusPort {
  public:
    ToolPort(PortControl& ports, bus::BusHealth& health, CaptureFeature& capture)
        : ports_(ports), health_(health), capture_(capture) {}

    bool isOpen() const override { return ports_.source().isOpen(); }
    bool write(std::span<const std::uint8_t> bytes) override;

  private:
    PortControl& ports_;
    bus::BusHealth& health_;
    CaptureFeature& capture_;
};

} // namespace zanst::app
