#pragma once
// Byte-by-byte check of an answer that came back around the ring against the request that
// caused it: frame echo, CRCs, record count, ids, following flags and the answer counter.

#include "bus/bytes.hpp"
#include "sim/frame_receiver.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zanst::sim {

struct CheckRules {
    std::uint8_t recordType = 0;         // 0x01 info, 0x02 measurement
    int expectedRecords = 0;             // 0: any number, at least one
    bool expectSequence = false;         // records carry an answer counter in the high nibble of byte 3
    std::optional<int> previousSequence; // the counter of the previous measurement answer
};

struct CheckResult {
    std::vector<std::string> errors;
    std::optional<int> sequence; // the answer counter found in the records

    bool ok() const { return errors.empty(); }
};

CheckResult checkAnswer(const bus::Bytes& requestFrame, const Message& answer, const CheckRules& rules);

// At most `limit` errors joined with "; ", then how many more there were.
std::string joinErrors(const std::vector<std::string>& errors, std::size_t limit = 4);

} // namespace zanst::sim
