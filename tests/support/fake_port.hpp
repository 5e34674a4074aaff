#pragma once
// A BusPort that records every write; it can be closed or made to fail.

#include "bus/bytes.hpp"
#include "bus/port.hpp"

#include <vector>

namespace zanst::test {

class FakePort : public bus::BusPort {
  public:
    bool open = true;
    bool failWrites = false;
    std::vector<bus::Bytes> writes; // one entry per write call

    bool isOpen() const override { return open; }
    bool write(std::span<const std::uint8_t> bytes) override {
        if (!open || failWrites) {
            return false;
        }
        writes.emplace_back(bytes.begin(), bytes.end());
        return true;
    }

    // Every byte written, in order.
    bus::Bytes all() const {
        bus::Bytes out;
        for (const auto& w : writes) {
            out.insert(out.end(), w.begin(), w.end());
        }
        return out;
    }
};

} // namespace zanst::test
