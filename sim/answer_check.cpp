#include "sim/answer_check.hpp"

#include "bus/crc8.hpp"
#include "bus/frames.hpp"
#include "bus/hex.hpp"
#include "bus/protocol.hpp"
#include "bus/records.hpp"
#include "bus/tables.hpp"

namespace zanst::sim {

namespace {

std::string hex2(unsigned v) {
    return bus::ConvertHex(v & 0xFF, 2);
}

} // namespace

CheckResult checkAnswer(const bus::Bytes& requestFrame, const Message& answer, const CheckRules& rules) {
    CheckResult out;
    auto& errors = out.errors;
    const bus::Bytes& frame = answer.frame;
    if (frame.size() != requestFrame.size()) {
        errors.push_back("frame is " + std::to_string(frame.size()) + " bytes, request was " +
                         std::to_string(requestFrame.size()));
    } else {
        const std::size_t following = bus::followingIndex(frame.size());
        for (std::size_t i = 0; i < following; ++i) {
            if (frame[i] != requestFrame[i]) {
                errors.push_back("frame byte " + std::to_string(i) + " is " + hex2(frame[i]) +
                                 ", request had " + hex2(requestFrame[i]));
                break;
            }
        }
        const std::uint8_t expectedFollowing = answer.records.empty() ? 0 : rules.recordType;
        if (frame[following] != expectedFollowing) {
            errors.push_back("frame following byte " + hex2(frame[following]) + ", expected " +
                             hex2(expectedFollowing));
        }
        if (!bus::crcValid(frame)) {
            errors.push_back("frame CRC " + hex2(frame.back()) + ", expected " +
                             hex2(bus::getCRC(frame, frame.size() - 1)));
        }
    }

    const int count = static_cast<int>(answer.records.size());
    if (rules.expectedRecords > 0 && count != rules.expectedRecords) {
        errors.push_back(std::to_string(count) + " records, expected " +
                         std::to_string(rules.expectedRecords));
    } else if (rules.expectedRecords == 0 && count == 0) {
        errors.push_back("no records");
    }

    for (int i = 0; i < count; ++i) {
        const bus::Bytes& r = answer.records[static_cast<std::size_t>(i)];
        const std::string where = "record " + std::to_string(i + 1) + ": ";
        if (r[0] != rules.recordType) {
            errors.push_back(where + "type " + hex2(r[0]) + ", expected " + hex2(rules.recordType));
            continue;
        }
        if (!bus::crcValid(r)) {
            errors.push_back(where + "CRC " + hex2(r.back()) + ", expected " +
                             hex2(bus::getCRC(r, r.size() - 1)));
        }
        const int id = bus::recordId(r);
        if (id != i + 1) {
            errors.push_back(where + "id " + std::to_string(id) + ", expected " + std::to_string(i + 1));
        }
        const std::uint8_t following = r[bus::followingIndex(r.size())];
        const std::uint8_t expected = i + 1 < count ? rules.recordType : 0;
        if (following != expected) {
            errors.push_back(where + "following flag " + hex2(following) + ", expected " + hex2(expected));
        }
        if (rules.recordType == bus::rec::kMeasurement) {
            if ((r[1] & 0x40) == 0) {
                errors.push_back(where + "status " + hex2(r[1]) + " without bit 6");
            }
            if (rules.expectSequence) {
                const int seq = r[3] >> 4;
                if (!out.sequence) {
                    out.sequence = seq;
                } else if (*out.sequence != seq) {
                    errors.push_back(where + "answer counter " + std::to_string(seq) +
                                     ", earlier records had " + std::to_string(*out.sequence));
                }
            }
        }
    }
    if (rules.expectSequence && out.sequence && rules.previousSequence &&
        *out.sequence != (*rules.previousSequence + 1) % 16) {
        errors.push_back("answer counter " + std::to_string(*out.sequence) + " follows " +
                         std::to_string(*rules.previousSequence) + " (an answer went missing)");
    }
    return out;
}

std::string joinErrors(const std::vector<std::string>& errors, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < errors.size() && i < limit; ++i) {
        out += (i == 0 ? "" : "; ") + errors[i];
    }
    if (errors.size() > limit) {
        out += "; and " + std::to_string(errors.size() - limit) + " more";
    }
    return out;
}

} // namespace zanst::sim
