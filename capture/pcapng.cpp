#include "capture/pcapng.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace zanst::capture {

namespace {

constexpr std::uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescriptionBlock = 0x00000001;
constexpr std::uint32_t kEnhancedPacketBlock = 0x00000006;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr std::uint16_t kOptEnd = 0;
constexpr std::uint16_t kOptShbUserAppl = 4;
constexpr std::uint16_t kOptIfName = 2;
constexpr std::uint16_t kOptIfSpeed = 8;
constexpr std::uint16_t kOptIfTsresol = 9;
constexpr std::uint16_t kOptEpbFlags = 2;

constexpr std::uint32_t kFlagInbound = 0x1;
constexpr std::uint32_t kFlagOutbound = 0x2;

class Block {
  public:
    explicit Block(std::uint32_t type) { put32(type), put32(0); }

    void put8(std::uint8_t v) { b_.push_back(v); }
    void put16(std::uint16_t v) {
        for (int i = 0; i < 2; ++i) {
            b_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void put32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            b_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void put64(std::uint64_t v) {
        put32(static_cast<std::uint32_t>(v));
        put32(static_cast<std::uint32_t>(v >> 32));
    }
    void bytes(std::span<const std::uint8_t> v) { b_.insert(b_.end(), v.begin(), v.end()); }
    void pad() {
        while (b_.size() % 4 != 0) {
            b_.push_back(0);
        }
    }
    void option(std::uint16_t code, std::span<const std::uint8_t> value) {
        put16(code);
        put16(static_cast<std::uint16_t>(value.size()));
        bytes(value);
        pad();
    }
    void option(std::uint16_t code, std::string_view text) {
        // An option's length field is 16 bits; longer texts are cut rather than overflow it.
        text = text.substr(0, 0xFFFC);
        option(code, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    void endOptions() { put16(kOptEnd), put16(0); }

    // Writes the total length at both ends and appends the block to `out`.
    void finishInto(std::vector<std::uint8_t>& out) {
        const auto total = static_cast<std::uint32_t>(b_.size() + 4);
        put32(total);
        for (int i = 0; i < 4; ++i) {
            b_[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(total >> (8 * i));
        }
        out.insert(out.end(), b_.begin(), b_.end());
    }

  private:
    std::vector<std::uint8_t> b_;
};

void appendRows(std::vector<Packet>& packets, std::vector<TrafficRow>& rows) {
    for (TrafficRow& row : rows) {
        packets.push_back(Packet{false, std::move(row)});
    }
    rows.clear();
}

} // namespace

std::vector<Packet> packetsOf(const Capture& capture) {
    std::vector<Packet> packets;
    TrafficDecoder decoder;
    std::vector<TrafficRow> rows;
    for (const Record& r : capture.records) {
        const auto bytes = capture.bytes(r);
        if (r.kind == RecordKind::Mode) {
            Packet p;
            p.mode = true;
            p.row.timeUs = r.timeUs;
            p.row.bytes.assign(bytes.begin(), bytes.end());
            packets.push_back(std::move(p));
            continue;
        }
        const Direction d = r.kind == RecordKind::Sent ? Direction::Sent : Direction::Received;
        decoder.feed(d, r.timeUs, bytes, rows);
        decoder.flushLineBytes(rows);
        appendRows(packets, rows);
    }
    decoder.finish(rows);
    appendRows(packets, rows);
    // A frame is listed when its last byte arrives; it is placed by its first.
    std::stable_sort(packets.begin(), packets.end(),
                     [](const Packet& a, const Packet& b) { return a.row.timeUs < b.row.timeUs; });
    return packets;
}

PacketDirection packetDirection(const Packet& packet) {
    if (packet.mode) {
        return PacketDirection::None;
    }
    return packet.row.direction == Direction::Sent ? PacketDirection::Sent : PacketDirection::Received;
}

PacketKind packetKind(const Packet& packet) {
    if (packet.mode) {
        return PacketKind::Mode;
    }
    switch (packet.row.kind) {
    case RowKind::Frame:
        return PacketKind::Frame;
    case RowKind::Record:
        return PacketKind::Record;
    case RowKind::CutOff:
        return PacketKind::CutOff;
    case RowKind::LineBytes:
        return PacketKind::LineBytes;
    }
    return PacketKind::LineBytes;
}

PacketVerdict packetVerdict(const Packet& packet) {
    if (packet.mode) {
        return PacketVerdict::NotChecked;
    }
    switch (packet.row.crc) {
    case CrcVerdict::Good:
        return PacketVerdict::Good;
    case CrcVerdict::Bad:
        return PacketVerdict::Bad;
    case CrcVerdict::None:
        return PacketVerdict::NotChecked;
    }
    return PacketVerdict::NotChecked;
}

std::vector<std::uint8_t> encodePcapng(const Capture& capture, std::span<const Packet> packets,
                                       const PcapngOptions& options) {
    std::vector<std::uint8_t> out;

    Block shb(kSectionHeaderBlock);
    shb.put32(kByteOrderMagic);
    shb.put16(1); // version 1.0
    shb.put16(0);
    shb.put64(~std::uint64_t{0}); // section length not given
    if (!options.application.empty()) {
        shb.option(kOptShbUserAppl, options.application);
    }
    shb.endOptions();
    shb.finishInto(out);

    Block idb(kInterfaceDescriptionBlock);
    idb.put16(kLinkTypeUser0);
    idb.put16(0);
    idb.put32(0); // no snapshot limit
    idb.option(kOptIfName, std::string_view("zanst bus"));
    std::uint8_t speed[8];
    const std::uint64_t bitsPerSecond = capture.header.lineRate;
    for (int i = 0; i < 8; ++i) {
        speed[i] = static_cast<std::uint8_t>(bitsPerSecond >> (8 * i));
    }
    idb.option(kOptIfSpeed, speed);
    const std::uint8_t resolution = kTimeResolutionMicroseconds;
    idb.option(kOptIfTsresol, std::span(&resolution, 1));
    idb.endOptions();
    idb.finishInto(out);

    // Before 1970 cannot be told in pcapng's unsigned time: such a start counts as 1970.
    const std::uint64_t startUs =
        capture.header.startUnixMs > 0 ? static_cast<std::uint64_t>(capture.header.startUnixMs) * 1000 : 0;
    for (const Packet& p : packets) {
        Block epb(kEnhancedPacketBlock);
        const std::uint64_t t = startUs + p.row.timeUs;
        epb.put32(0); // interface 0
        epb.put32(static_cast<std::uint32_t>(t >> 32));
        epb.put32(static_cast<std::uint32_t>(t));
        const auto length = static_cast<std::uint32_t>(kPseudoHeaderSize + p.row.bytes.size());
        epb.put32(length);
        epb.put32(length);
        const PacketDirection direction = packetDirection(p);
        epb.put8(kPseudoHeaderVersion);
        epb.put8(static_cast<std::uint8_t>(direction));
        epb.put8(static_cast<std::uint8_t>(packetKind(p)));
        epb.put8(static_cast<std::uint8_t>(packetVerdict(p)));
        epb.bytes(p.row.bytes);
        epb.pad();
        const std::uint32_t flags = direction == PacketDirection::Received ? kFlagInbound
                                    : direction == PacketDirection::Sent   ? kFlagOutbound
                                                                           : 0;
        const std::uint8_t flagBytes[4] = {static_cast<std::uint8_t>(flags), 0, 0, 0};
        epb.option(kOptEpbFlags, flagBytes);
        epb.endOptions();
        epb.finishInto(out);
    }
    return out;
}

ExportResult exportPcapng(const std::string& capturePath, const std::string& pcapngPath,
                          const PcapngOptions& options) {
    ExportResult result;
    std::error_code ec;
    if (std::filesystem::equivalent(capturePath, pcapngPath, ec)) {
        result.message = "Not writing " + pcapngPath + ": it is the capture itself";
        return result;
    }
    const Capture capture = readCaptureFile(capturePath);
    result.message = capture.message;
    if (capture.status == ReadStatus::NotACapture || capture.status == ReadStatus::UnsupportedVersion) {
        return result;
    }
    result.captureComplete = capture.status == ReadStatus::Ok;
    if (capture.records.empty()) {
        if (result.message.empty()) {
            result.message = "The capture holds no record";
        }
        return result;
    }
    const std::vector<Packet> packets = packetsOf(capture);
    const std::vector<std::uint8_t> file = encodePcapng(capture, packets, options);

    std::ofstream out(pcapngPath, std::ios::binary | std::ios::trunc);
    if (!out) {
        result.message = "Cannot write " + pcapngPath + ": " + std::strerror(errno);
        result.outputFailed = true;
        return result;
    }
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
        result.message = "Cannot write " + pcapngPath + ": " + std::strerror(errno);
        result.outputFailed = true;
        std::remove(pcapngPath.c_str()); // no half file that a reader would take for a whole one
        return result;
    }
    result.written = true;
    result.packets = packets.size();
    return result;
}

} // namespace zanst::capture
