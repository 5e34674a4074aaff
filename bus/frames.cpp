#include "frames.hpp"

#include "crc8.hpp"
#include "identity.hpp"
#include "protocol.hpp"

namespace zanst::bus {

Bytes makeFrame(std::uint8_t command, std::uint8_t payloadLength) {
    Bytes frame(payloadLength + kFrameOverhead, 0);
    frame[0] = kStartByte;
    frame[1] = command;
    frame[2] = kFrameConstant;
    frame[3] = payloadLength;
    return frame;
}

Bytes makeDataBlockFrame() {
    Bytes frame(kDataBlockSize, 0);
    frame[0] = kStartByte;
    frame[1] = cmd::kDataBlock;
    frame[2] = kFrameConstant;
    frame[3] = kExtendedLength;
    frame[4] = static_cast<std::uint8_t>(kDataBlockLength >> 8);
    frame[5] = static_cast<std::uint8_t>(kDataBlockLength & 0xFF);
    return frame;
}

Bytes makeRecord(std::uint8_t type, std::size_t size, std::uint16_t id) {
    Bytes record(size, 0);
    if (size >= 4) {
        record[0] = type;
        putLe16(record, 2, id);
    }
    return record;
}

void seal(Bytes& frameOrRecord, std::uint8_t following) {
    if (frameOrRecord.size() < 2) {
        return;
    }
    frameOrRecord[followingIndex(frameOrRecord.size())] = following;
    calcCRC(frameOrRecord, frameOrRecord.size() - 1);
}

Bytes buildIdentityFrame(std::uint8_t command) {
    Bytes frame = makeFrame(command, 16);
    putLe16(frame, 4, identity::kProductId);
    putAscii(frame, 8, identity::kMasterSerial);
    seal(frame, 0);
    return frame;
}

Bytes buildCommandWordFrame(std::uint8_t command, std::string_view word) {
    Bytes frame = makeFrame(command, 16);
    putAscii(frame, 4, word.substr(0, 4));
    putAscii(frame, 8, identity::kMasterSerial);
    seal(frame, 0);
    return frame;
}

} // namespace zanst::bus
