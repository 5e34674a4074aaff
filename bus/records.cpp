#include "records.hpp"

#include "crc8.hpp"

namespace zanst::bus {

bool crcValid(std::span<const std::uint8_t> frameOrRecord) {
    if (frameOrRecord.size() < 2) {
        return false;
    }
    return getCRC(frameOrRecord, frameOrRecord.size() - 1) == frameOrRecord.back();
}

} // namespace zanst::bus
