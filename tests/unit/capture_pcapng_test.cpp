// pcapng export: the blocks of a small capture byte for byte, the cutting of a session into
// packets (every byte in exactly one packet, in time order), and damaged captures.

#include "capture/pcapng.hpp"
#include "support/records.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace zanst::capture {
namespace {

using bus::Bytes;

Bytes hex(std::string_view text) {
    Bytes out;
    int nibbles = 0;
    unsigned value = 0;
    for (const char c : text) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0) {
            continue;
        }
        value = value * 16 + static_cast<unsigned>(digit);
        if (++nibbles == 2) {
            out.push_back(static_cast<std::uint8_t>(value));
            nibbles = 0;
            value = 0;
        }
    }
    return out;
}

// For a readable failure: one line of hex per 16 bytes.
std::string dump(const Bytes& bytes) {
    std::string out;
    char text[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(text, sizeof text, "%02X", bytes[i]);
        out += text;
        out += (i % 16 == 15) ? '\n' : ' ';
    }
    return out;
}

Capture capture(std::int64_t startUnixMs,
                const std::vector<std::tuple<std::uint64_t, RecordKind, Bytes>>& recs) {
    Header h;
    h.startUnixMs = startUnixMs;
    Bytes file = encodeHeader(h);
    for (const auto& [t, kind, bytes] : recs) {
        encodeRecord(file, t, kind, bytes);
    }
    Capture c = readCapture(file);
    EXPECT_EQ(c.status, ReadStatus::Ok) << c.message;
    return c;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(Pcapng, SmallCaptureBlockByBlock) {
    const Capture c = capture(1000, {{0, RecordKind::Mode, {3}},
                                     {7, RecordKind::Sent, {0x00, 0x00}},
                                     {9, RecordKind::Received, test::frame(0x14, {}, 0)}});
    const auto packets = packetsOf(c);
    const Bytes file = encodePcapng(c, packets, PcapngOptions{"zt"});

    const Bytes expected = test::concat({
        // Section header: byte-order magic, version 1.0, no section length, shb_userappl "zt".
        hex("0A0D0D0A 28000000 4D3C2B1A 0100 0000 FFFFFFFFFFFFFFFF 0400 0200 7A740000 00000000 28000000"),
        // Interface: USER0, no snapshot limit, if_name, if_speed 250000, if_tsresol 6.
        hex("01000000 3C000000 9300 0000 00000000 0200 0900 7A616E7374206275730000 00 "
            "0800 0800 90D0030000000000 0900 0100 06000000 00000000 3C000000"),
        // Mode 3 at 1 s: pseudo-header 01, no direction, kind mode, not checked; flags 0.
        hex("06000000 34000000 00000000 00000000 40420F00 05000000 05000000 01020402 03000000 "
            "0200 0400 00000000 00000000 34000000"),
        // Two wake-up zeros the tool sent, outbound.
        hex("06000000 34000000 00000000 00000000 47420F00 06000000 06000000 01010302 00000000 "
            "0200 0400 02000000 00000000 34000000"),
        // A 6-byte frame received with a good CRC, inbound.
        hex("06000000 38000000 00000000 00000000 49420F00 0A000000 0A000000 01000000 AA140100 007A0000 "
            "0200 0400 01000000 00000000 38000000"),
    });
    EXPECT_EQ(dump(file), dump(expected));
}

TEST(Pcapng, TimestampsCarryTheWallClock) {
    const Capture c = capture(1765000000123, {{250, RecordKind::Received, {0x00}}});
    const Bytes file = encodePcapng(c, packetsOf(c));
    // The packet block follows the section header (48 bytes with "zanst-cli") and the interface.
    const std::size_t epb = 48 + 60;
    ASSERT_GT(file.size(), epb + 20);
    std::uint64_t t = 0;
    for (int i = 0; i < 4; ++i) {
        t |= std::uint64_t{file[epb + 12 + static_cast<std::size_t>(i)]} << (32 + 8 * i);
        t |= std::uint64_t{file[epb + 16 + static_cast<std::size_t>(i)]} << (8 * i);
    }
    EXPECT_EQ(t, 1765000000123000u + 250u);
}

TEST(Pcapng, EveryByteLandsInOnePacketInTimeOrder) {
    Bytes answer = test::frame(0x02, Bytes(20, 0x00), 0x02);
    const Bytes good = test::measurementRecord(7, 0x40, test::measurementWord(3312, -1250), 250 << 5, 0x02);
    Bytes bad = test::measurementRecord(8, 0x40, test::measurementWord(3300, 0), 200 << 5, 0);
    bad.back() ^= 0xFF;
    answer = test::concat({answer, good, bad});
    const Bytes oversized = test::dataBlock(4000, 3100); // runs past the 3000-byte buffer
    const Bytes openAtEnd = Bytes{0xAA, 0x01, 0x01, 0x10, 0x00};

    const Capture c = capture(0, {
                                     {0, RecordKind::Mode, {5}},
                                     {100, RecordKind::Sent, Bytes(10, 0x00)},
                                     {110, RecordKind::Sent, test::frame(0x02, Bytes(20, 0x00), 0)},
                                     {200, RecordKind::Received, Bytes(answer.begin(), answer.begin() + 30)},
                                     {250, RecordKind::Sent, Bytes{0x55}},
                                     {300, RecordKind::Received, Bytes(answer.begin() + 30, answer.end())},
                                     {400, RecordKind::Received, Bytes{0x13, 0x37}},
                                     {500, RecordKind::Received, oversized},
                                     {600, RecordKind::Sent, openAtEnd},
                                 });
    const auto packets = packetsOf(c);

    struct Expect {
        std::uint64_t timeUs;
        PacketDirection direction;
        PacketKind kind;
        PacketVerdict verdict;
        std::size_t length;
    };
    using D = PacketDirection;
    using K = PacketKind;
    using V = PacketVerdict;
    const std::vector<Expect> expected = {
        {0, D::None, K::Mode, V::NotChecked, 1},
        {100, D::Sent, K::LineBytes, V::NotChecked, 10},
        {110, D::Sent, K::Frame, V::Good, 26},
        {200, D::Received, K::Frame, V::Good, 26},
        {200, D::Received, K::Record, V::Good, 12}, // begun in the first pass, placed there
        {250, D::Sent, K::LineBytes, V::NotChecked, 1},
        {300, D::Received, K::Record, V::Bad, 12},
        {400, D::Received, K::LineBytes, V::NotChecked, 2},
        {500, D::Received, K::CutOff, V::NotChecked, 3100}, // too large to hold: passed over whole
        {600, D::Sent, K::CutOff, V::NotChecked, openAtEnd.size()},
    };
    ASSERT_EQ(packets.size(), expected.size());
    std::map<PacketDirection, std::size_t> bytesOut;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE(i);
        const Packet& p = packets[i];
        EXPECT_EQ(p.row.timeUs, expected[i].timeUs);
        EXPECT_EQ(packetDirection(p), expected[i].direction);
        EXPECT_EQ(packetKind(p), expected[i].kind);
        EXPECT_EQ(packetVerdict(p), expected[i].verdict);
        EXPECT_EQ(p.row.bytes.size(), expected[i].length);
        bytesOut[packetDirection(p)] += p.row.bytes.size();
    }
    std::map<PacketDirection, std::size_t> bytesIn;
    for (const Record& r : c.records) {
        const D d = r.kind == RecordKind::Mode ? D::None : r.kind == RecordKind::Sent ? D::Sent : D::Received;
        bytesIn[d] += r.length;
    }
    EXPECT_EQ(bytesOut, bytesIn);
}

TEST(Pcapng, DamagedAndUnreadableCaptures) {
    test::TempDir dir;
    Header h;
    Bytes whole = encodeHeader(h);
    encodeRecord(whole, 0, RecordKind::Mode, Bytes{3});
    encodeRecord(whole, 5, RecordKind::Received, test::frame(0x14, {}, 0));
    encodeRecord(whole, 9, RecordKind::Received, test::frame(0x14, {}, 0));
    Bytes cut(whole.begin(), whole.end() - 3);
    Bytes badKind = whole;
    badKind[whole.size() - kRecordHeaderSize - 6 + 8] = 9;
    Bytes noRecords = encodeHeader(h);

    struct Case {
        const char* name;
        Bytes file;
        bool written;
        bool complete;
        std::size_t packets;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"whole", whole, true, true, 3, ""},
        {"cut short", cut, true, false, 2, "Capture cut short at byte 53 (2 records before it kept)"},
        {"damaged", badKind, true, false, 2, "Capture damaged at byte 53: unknown record kind 9"},
        {"not a capture", Bytes(30, 'x'), false, true, 0, "Not a capture file"},
        {"no records", noRecords, false, true, 0, "The capture holds no record"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = dir / (std::string(c.name) + ".zcap");
        const std::string out = dir / (std::string(c.name) + ".pcapng");
        writeFile(in, c.file);
        const ExportResult r = exportPcapng(in, out);
        EXPECT_EQ(r.written, c.written);
        EXPECT_EQ(r.captureComplete, c.complete);
        EXPECT_EQ(r.packets, c.packets);
        EXPECT_NE(r.message.find(c.message), std::string::npos) << r.message;
        const std::string written = test::readFile(out);
        if (c.written) {
            const Capture valid = readCapture(c.file);
            EXPECT_EQ(written.size(), encodePcapng(valid, packetsOf(valid)).size());
        } else {
            EXPECT_TRUE(written.empty());
        }
    }

    const ExportResult missing = exportPcapng(dir / "none.zcap", dir / "none.pcapng");
    EXPECT_FALSE(missing.written);
    EXPECT_NE(missing.message.find("Cannot open"), std::string::npos) << missing.message;
    writeFile(dir / "w.zcap", whole);
    const ExportResult unwritable = exportPcapng(dir / "w.zcap", dir / "no/such/folder/w.pcapng");
    EXPECT_FALSE(unwritable.written);
    EXPECT_NE(unwritable.message.find("Cannot write"), std::string::npos) << unwritable.message;
    EXPECT_TRUE(unwritable.outputFailed);
    const ExportResult ontoItself = exportPcapng(dir / "w.zcap", dir / "./w.zcap");
    EXPECT_FALSE(ontoItself.written);
    EXPECT_FALSE(ontoItself.outputFailed);
    EXPECT_NE(ontoItself.message.find("it is the capture itself"), std::string::npos) << ontoItself.message;
    EXPECT_EQ(readCaptureFile(dir / "w.zcap").records.size(), 3u) << "the capture is kept";
}

} // namespace
} // namespace zanst::capture
