#include "crc8.hpp"

#include <algorithm>

namespace zanst::bus {

std::uint8_t getCRC(std::span<const std::uint8_t> data, std::size_t num) {
    std::uint8_t crc = 0;
    for (std::uint8_t byte : data.first(std::min(num, data.size()))) {
        crc = kCrcTable[crc ^ byte];
    }
    return crc;
}

void calcCRC(std::span<std::uint8_t> data, std::size_t num) {
    if (num >= data.size()) {
        return;
    }
    data[num] = getCRC(data, num);
}

} // namespace zanst::bus
