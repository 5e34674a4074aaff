#pragma once
// Master-side receiver: cuts the bytes coming back along the ring into frames and records and
// copies the records into the balancer tables. Fed one byte at a time on the bus thread.

#include "protocol.hpp"
#include "state.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zanst::bus {

class MasterReceiver {
public:
    static constexpr int kBufferSize = 3000;

    explicit MasterReceiver(BusState& state) : state_(state) {}

    void feed(std::uint8_t b);

    // Sniffer mode restarts the master-side assembly position on every receive pass.
    void resetByteCounter() { byteCounter_ = 0; }

    int byteCounter() const { return byteCounter_; }
    int cmdSize() const { return cmdSize_; }
    int followingFrames() const { return followingFrames_; }
    bool receivingCommand() const { return mCmdReceiving_; }

private:
    void feedFrame(std::uint8_t b);
    void feedRecord(std::uint8_t b);
    void abandon();

    BusState& state_;
    std::array<std::uint8_t, kBufferSize> rxBuffer_{};
    int byteCounter_ = 0;
    int cmdSize_ = 0;
    int followingFrames_ = 0;
    bool mCmdReceiving_ = false;
};

} // namespace zanst::bus
