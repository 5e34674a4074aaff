#pragma once
// The port the protocol core sends through; the bus engine puts the serial port behind it.

#include <cstdint>
#include <span>

namespace zanst::bus {

class BusPort {
  public:
    virtual ~BusPort() = default;
    virtual bool isOpen() const = 0;
    // Writes the bytes in order and pushes them to the line at once. Returns false when the
    // port is closed or the write failed; a failure is handled by the port's owner, not the caller.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
};

} // namespace zanst::bus
