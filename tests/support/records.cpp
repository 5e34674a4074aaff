#include "support/records.hpp"

#include <algorithm>

namespace zanst::test {

std::uint8_t crc8(const bus::Bytes& bytes, std::size_t count) {
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < count && i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
        }
    }
    return crc;
}

void sealLast(bus::Bytes& bytes) {
    bytes.back() = crc8(bytes, bytes.size() - 1);
}

bus::Bytes dataBlock(std::uint16_t length, std::size_t total, std::uint8_t fill) {
    bus::Bytes b(std::max<std::size_t>(total, 6), fill);
    b[0] = 0xAA;
    b[1] = 0x23;
    b[2] = 0x01;
    b[3] = 0xFF;
    b[4] = static_cast<std::uint8_t>(length >> 8);
    b[5] = static_cast<std::uint8_t>(length & 0xFF);
    return b;
}

bus::Bytes frame(std::uint8_t command, const bus::Bytes& payload, std::uint8_t following) {
    bus::Bytes out{0xAA, command, 0x01, static_cast<std::uint8_t>(payload.size())};
    out.insert(out.end(), payload.begin(), payload.end());
    out.push_back(following);
    out.push_back(0);
    sealLast(out);
    return out;
}

bus::Bytes infoRecord(const InfoFields& f) {
    bus::Bytes r(32, 0);
    r[0] = 0x01;
    r[1] = f.flags;
    bus::putLe16(r, 2, f.id);
    bus::putAscii(r, 4, f.serial.substr(0, 11));
    r[15] = f.byte15;
    bus::putLe16(r, 16, f.productId);
    bus::putLe16(r, 18, f.capacity);
    bus::putLe32(r, 20, f.fwVersion);
    bus::putLe32(r, 24, f.blVersion);
    r[28] = f.hwRevision;
    r[29] = f.bootMode;
    r[30] = f.following;
    sealLast(r);
    return r;
}

bus::Bytes measurementRecord(std::uint16_t id, std::uint8_t flags, std::int32_t measurement,
                             std::int16_t temperature, std::uint8_t following) {
    bus::Bytes r(12, 0);
    r[0] = 0x02;
    r[1] = flags;
    bus::putLe16(r, 2, id);
    bus::putLe32(r, 4, static_cast<std::uint32_t>(measurement));
    bus::putLe16(r, 8, static_cast<std::uint16_t>(temperature));
    r[10] = following;
    sealLast(r);
    return r;
}

bus::Bytes calibrationRecord(std::uint16_t id, std::uint8_t flags, std::uint16_t vGain, std::uint16_t iGain,
                             std::uint16_t iOffset, std::uint8_t following) {
    bus::Bytes r(12, 0);
    r[0] = 0x08;
    r[1] = flags;
    bus::putLe16(r, 2, id);
    bus::putLe16(r, 4, vGain);
    bus::putLe16(r, 6, iGain);
    bus::putLe16(r, 8, iOffset);
    r[10] = following;
    sealLast(r);
    return r;
}

std::int32_t measurementWord(int millivolts, int milliamps) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(milliamps) << 12) |
                                     static_cast<std::uint32_t>((millivolts - 1000) & 0xFFF));
}

bus::Bytes concat(std::initializer_list<bus::Bytes> parts) {
    bus::Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

} // namespace zanst::test
