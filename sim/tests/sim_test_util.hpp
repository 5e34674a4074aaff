#pragma once
// Helpers shared by the simulator's unit tests.

#include "bus/identity.hpp"
#include "sim/frame_receiver.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>
#include <string_view>

namespace zanst::sim::testutil {

// Cuts bytes into the one message they hold, as the balancers would hear it.
inline Message parse(const bus::Bytes& bytes, TimePoint at = {}) {
    FrameReceiver rx;
    for (std::uint8_t b : bytes) {
        if (rx.feed(b, at) == FrameReceiver::Result::Complete) {
            return rx.take().message;
        }
    }
    ADD_FAILURE() << "no complete message in " << bytes.size() << " bytes";
    return {};
}

// A 22-byte frame with a 4-character word and the master serial, as the tool sends for 0x10 and 0x20.
inline bus::Bytes wordFrame(std::uint8_t command, std::string_view word) {
    bus::Bytes payload(16, 0);
    for (std::size_t i = 0; i < word.size() && i < 4; ++i) {
        payload[i] = static_cast<std::uint8_t>(word[i]);
    }
    for (std::size_t i = 0; i < 11; ++i) {
        payload[4 + i] = static_cast<std::uint8_t>(bus::identity::kMasterSerial[i]);
    }
    return test::frame(command, payload, 0);
}

// A 16-byte frame with a 10-character word (0x21, 0x22).
inline bus::Bytes updateFrame(std::uint8_t command, std::string_view word) {
    bus::Bytes payload(10, 0);
    for (std::size_t i = 0; i < word.size() && i < 10; ++i) {
        payload[i] = static_cast<std::uint8_t>(word[i]);
    }
    return test::frame(command, payload, 0);
}

// Measurement request as the tool sends it: setpoint, bank voltage, master serial, following 2.
inline bus::Bytes measurementRequest(int setpointMv, int placeholders) {
    bus::Bytes payload(20, 0);
    bus::putLe16(payload, 0, static_cast<std::uint16_t>(setpointMv));
    bus::putLe16(payload, 4, 13200);
    bus::Bytes out = test::frame(0x02, payload, placeholders > 0 ? 2 : 0);
    for (int i = 1; i <= placeholders; ++i) {
        const bus::Bytes r =
            test::measurementRecord(static_cast<std::uint16_t>(i), 0, 0, 0, i < placeholders ? 2 : 0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

} // namespace zanst::sim::testutil
