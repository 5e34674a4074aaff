// One byte stream, four receivers: the master side, the sniffer, the emulator responder and the
// simulator. Each row says what every receiver's framer reports, so the rules they share are
// checked once and the places where they differ stand side by side.

#include "bus/framer.hpp"
#include "bus/frames.hpp"
#include "bus/master_receiver.hpp"
#include "emulator/responder.hpp"
#include "metrics/answer.hpp"
#include "sim/frame_receiver.hpp"
#include "sniffer/sniffer_parser.hpp"
#include "support/fake_port.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <string>

namespace zanst {
namespace {

using bus::Bytes;
using test::concat;
using test::dataBlock;
using test::frame;

// Writes what a framer reports as a line: F<size> a frame, R<size> a record, AF<n> and AR<n> a
// frame or a record run abandoned at n bytes, S<size> a frame too large for the buffer, passed
// over by its size, D the simulator dropping a message on its own rules; then "." when the
// receiver hunts for a start byte at the end, "skip" and the bytes of an oversized frame still to
// pass, else "open" and the frame size it expects, or "openR" inside the records.
class Log final : public bus::FrameObserver {
  public:
    std::string line;

    void frameComplete(std::span<const std::uint8_t> f, bus::FrameKind) override { add("F", f.size()); }
    void recordComplete(std::span<const std::uint8_t> r) override { add("R", r.size()); }
    void frameAbandoned(std::span<const std::uint8_t> b) override { add("AF", b.size()); }
    void recordAbandoned(std::span<const std::uint8_t> b) override { add("AR", b.size()); }
    void frameOversized(std::span<const std::uint8_t>, std::size_t size) override { add("S", size); }
    void add(const char* what, std::size_t n = 0) {
        line += std::string(line.empty() ? "" : " ") + what + (n > 0 ? std::to_string(n) : "");
    }
    void end(const bus::Framer& framer) {
        if (framer.hunting()) {
            add(".");
        } else if (framer.state().skipRemaining > 0) {
            add("skip", static_cast<std::size_t>(framer.state().skipRemaining));
        } else if (framer.inRecords()) {
            add("openR");
        } else {
            add("open", static_cast<std::size_t>(framer.state().cmdSize));
        }
    }
};

enum Receiver { Master, Sniffer, Responder, Simulator };
constexpr std::array<const char*, 4> kNames{"master", "sniffer", "responder", "simulator"};

// Hands the stream to `rx` through `feed` and returns what its framer reported.
template <typename Rx, typename Feed> std::string drive(Rx& rx, Feed feed, const Bytes& stream) {
    Log log;
    rx.setFrameTap(&log);
    for (auto b : stream) {
        if (!feed(b)) {
            log.add("D");
        }
    }
    log.end(rx.framer());
    return log.line;
}

// Feeds a stream to a fresh receiver of the kind and returns its line.
std::string run(Receiver which, const Bytes& stream) {
    bus::BusState state;
    test::FakePort port;
    switch (which) {
    case Master: {
        bus::MasterReceiver rx(state);
        return drive(
            rx, [&](std::uint8_t b) { return rx.feed(b), true; }, stream);
    }
    case Sniffer: {
        sniffer::SnifferParser rx(state);
        return drive(
            rx, [&](std::uint8_t b) { return rx.serialSnifferDataParser(b), true; }, stream);
    }
    case Responder: {
        emulator::BmsResponder rx(state, port);
        return drive(
            rx, [&](std::uint8_t b) { return rx.receive(std::span(&b, 1)), true; }, stream);
    }
    case Simulator: {
        sim::FrameReceiver rx;
        return drive(
            rx,
            [&](std::uint8_t b) {
                return rx.feed(b, sim::TimePoint{}) != sim::FrameReceiver::Result::Dropped;
            },
            stream);
    }
    }
    return {};
}

struct Row {
    const char* name;
    Bytes stream;
    std::array<std::string, 4> lines; // master, sniffer, responder, simulator
};

Row agreed(const char* name, Bytes stream, const std::string& line) {
    return {name, std::move(stream), {line, line, line, line}};
}

// A frame of `size` bytes with a fixed size whatever its length byte says (0x21, 0x22, 0x80).
Bytes fixedFrame(std::uint8_t command) {
    Bytes f(16, 0x55);
    f[0] = 0xAA;
    f[1] = command;
    f[3] = 0x40;
    return f;
}

Bytes infoRecords(int count) {
    Bytes out;
    for (int i = 1; i <= count; ++i) {
        test::InfoFields f;
        f.id = static_cast<std::uint16_t>(i);
        f.following = i < count ? 1 : 0;
        out = concat({out, test::infoRecord(f)});
    }
    return out;
}

Bytes first(const Bytes& b, std::size_t n) {
    return Bytes(b.begin(), b.begin() + static_cast<long>(n));
}

// A metrics answer with no 0xAA after its start byte, so that a receiver hunting inside it finds
// no false start.
Bytes metricsAnswer() {
    metrics::MetricsMetadata m;
    m.instanceNumber = 1;
    m.secsLifeSpan = 1000;
    return metrics::buildMetricsAnswer(m);
}

// The answer changed at `at` and sealed again.
Bytes metricsAnswerWith(std::size_t at, std::uint8_t value, Bytes f = metricsAnswer()) {
    f[at] = value;
    bus::seal(f, f[f.size() - 2]);
    return f;
}

// An answer whose payload holds what a receiver hunting inside it would take for info requests
// (AA 01 ...), one in its first 100 bytes and one behind them.
Bytes metricsAnswerWithFalseStarts() {
    metrics::MetricsMetadata m;
    m.layoutVersion = metrics::kLayoutVersion;
    m.instanceNumber = 2;
    m.secsLifeSpan = 0x000D01AA;        // frame bytes 8..11: AA 01 0D 00
    m.timeMatrix[1][0][0] = 0x001601AA; // frame bytes 122..125: AA 01 16 00
    m.storeChecksum = metrics::storeChecksum(m);
    return metrics::buildMetricsAnswer(m);
}

// The same answer with its length field damaged to `length`.
Bytes metricsAnswerWithLength(std::uint16_t length) {
    Bytes f = metricsAnswerWithFalseStarts();
    f[4] = static_cast<std::uint8_t>(length >> 8);
    return metricsAnswerWith(5, static_cast<std::uint8_t>(length & 0xFF), f);
}

// A firmware block whose data holds an info request's start.
Bytes dataBlockWithFalseStart() {
    Bytes f = dataBlock(2058, 2064, 0x00);
    f[500] = bus::kStartByte;
    f[501] = bus::cmd::kInfo;
    f[503] = 0x02;
    return f;
}

std::vector<Row> rows() {
    const Bytes testMode = frame(0x10, Bytes(16, 0x00), 0); // 22 bytes, no 0xAA anywhere
    const Bytes metricsRequest = metrics::buildMetricsRequest(1);
    const Bytes answer = metricsAnswer();
    const Bytes measurementPoll =
        concat({frame(0x02, Bytes(20, 0xAA), 2), test::measurementRecord(0xAAAA, 0xAA, 0, 0, 2),
                test::measurementRecord(2, 0, 0, 0, 0)});
    return {
        agreed("0x21, 0x22 and 0x80 are 16 bytes whatever their length byte says",
               concat({fixedFrame(0x21), fixedFrame(0x22), fixedFrame(0x80)}), "F16 F16 F16 ."),
        agreed("18 bytes are assumed until the length byte arrives", first(testMode, 3), "open18"),
        agreed("the length byte gives the size: byte 3 + 6", first(testMode, 4), "open22"),
        agreed("a frame without payload is 6 bytes", frame(0x14, {}, 0), "F6 ."),
        {"the longest frame, 260 bytes, is past the sniffer's buffer and passed over by its size",
         frame(0x02, Bytes(254, 0), 0),
         {"F260 .", "S260 .", "F260 .", "F260 ."}},
        agreed("0x23 takes its length at byte 12, not before", dataBlock(2058, 12), "open18"),
        {"0x23: big-endian length + 6, known at byte 12",
         dataBlock(2058, 13),
         {"open2064", "S2064 skip2051", "open2064", "open2064"}},
        {"a 2064-byte firmware block", dataBlock(2058, 2064), {"F2064 .", "S2064 .", "F2064 .", "F2064 ."}},
        {"a firmware block's data is no frame, not even past the sniffer's buffer",
         concat({dataBlockWithFalseStart(), testMode}),
         {"F2064 F22 .", "S2064 F22 .", "F2064 F22 .", "F2064 F22 ."}},
        agreed("0x23 announcing fewer bytes than arrived ends at once", dataBlock(0, 13), "F6 ."),
        {"0x31 is 22 bytes on the master side, byte 3 + 6 elsewhere",
         frame(0x31, Bytes(40, 0x00), 0),
         {"F22 .", "F46 .", "F46 .", "F46 ."}},
        agreed("junk before a start byte is ignored", concat({Bytes{0x00, 0x13, 0x55, 0xFF}, testMode}),
               "F22 ."),
        agreed("measurement records follow their frame; 0xAA inside frame and records is data",
               measurementPoll, "F26 R12 R12 ."),
        agreed("calibration records are 12 bytes",
               concat({frame(0x08, Bytes(12, 0), 8), test::calibrationRecord(1, 0x80, 1, 2, 3, 8),
                       test::calibrationRecord(2, 0x80, 1, 2, 3, 0)}),
               "F18 R12 R12 ."),
        {"info records are 32 bytes; the responder does not delimit them",
         concat({frame(0x01, Bytes(16, 0), 1), infoRecords(3)}),
         {"F22 R32 R32 R32 .", "F22 R32 R32 R32 .", "F22 openR", "F22 R32 R32 R32 ."}},
        agreed("a record whose following flag is set keeps the burst open",
               concat({frame(0x02, Bytes(20, 0), 2), test::measurementRecord(1, 0, 0, 0, 2)}),
               "F26 R12 openR"),
        {"an unknown record type runs to the buffer limit; the simulator drops it at once",
         concat({frame(0x02, Bytes(20, 0), 5), Bytes(3000, 0x05), testMode}),
         {"F26 AR3000 F22 .", "F26 AR100 F22 .", "F26 AR3000 F22 .", "F26 D F22 ."}},
        {"an info record ends a burst, except at the responder, where it runs on to the limit",
         concat({frame(0x01, Bytes(16, 0), 1), Bytes{0x01}, Bytes(2999, 0x00), testMode}),
         {"F22 R32 F22 .", "F22 R32 F22 .", "F22 AR3000 F22 .", "F22 R32 F22 ."}},
        {"a frame larger than the buffer is passed over by its size, never hunted through; the "
         "simulator drops it as soon as the size is known",
         concat({dataBlock(0xFFFF, 3000), testMode}),
         {"S65541 skip62519", "S65541 skip62519", "S65541 skip62519", "S65541 D skip62519"}},
        {"after its last byte the receivers hunt again",
         concat({dataBlock(0xFFFF, 65541, 0xAA), testMode}),
         {"S65541 F22 .", "S65541 F22 .", "S65541 F22 .", "S65541 D F22 ."}},
        agreed("a metrics request (0x50) is byte 3 + 6", metricsRequest, "F19 ."),
        agreed("0x50 with 0xFF in byte 3 takes its length at byte 5, not before", first(answer, 5), "open18"),
        {"a metrics answer: 448 bytes, known at byte 5",
         first(answer, 6),
         {"open448", "S448 skip442", "open448", "open448"}},
        {"a metrics answer behind its request; the sniffer passes over its 448 bytes",
         concat({metricsRequest, answer}),
         {"F19 F448 .", "F19 S448 .", "F19 F448 .", "F19 F448 ."}},
        {"nothing follows a metrics answer, whatever its following byte says",
         concat({metricsAnswerWith(446, bus::rec::kMeasurement), testMode}),
         {"F448 F22 .", "S448 F22 .", "F448 F22 .", "F448 F22 ."}},
        {"a metrics answer's payload is never hunted through",
         concat({metricsRequest, metricsAnswerWithFalseStarts(), testMode}),
         {"F19 F448 F22 .", "F19 S448 F22 .", "F19 F448 F22 .", "F19 F448 F22 ."}},
        {"a metrics answer whose length field says 0 does not end at byte 5",
         concat({Bytes{0xAA, 0x50, 0x01, 0xFF, 0x00, 0x00}, testMode}),
         {"open448", "S448 skip420", "open448", "open448"}},
        {"a metrics answer with its length field damaged to 0 is still 448 bytes",
         concat({metricsAnswerWithLength(0), testMode}),
         {"F448 F22 .", "S448 F22 .", "F448 F22 .", "F448 F22 ."}},
        {"a metrics answer with its length field damaged to 441 is still 448 bytes",
         concat({metricsAnswerWithLength(441), testMode}),
         {"F448 F22 .", "S448 F22 .", "F448 F22 .", "F448 F22 ."}},
        {"a metrics answer with its length field damaged to 443 is still 448 bytes",
         concat({metricsAnswerWithLength(443), testMode}),
         {"F448 F22 .", "S448 F22 .", "F448 F22 .", "F448 F22 ."}},
        {"a metrics answer with its length field damaged to 0xFFFF is still 448 bytes",
         concat({metricsAnswerWithLength(0xFFFF), testMode}),
         {"F448 F22 .", "S448 F22 .", "F448 F22 .", "F448 F22 ."}},
    };
}

TEST(FramerContract, EveryReceiverCutsTheSameStreams) {
    const Bytes answer = metricsAnswer();
    ASSERT_EQ(std::count(answer.begin() + 1, answer.end(), bus::kStartByte), 0);
    for (const Row& row : rows()) {
        for (Receiver rx : {Master, Sniffer, Responder, Simulator}) {
            EXPECT_EQ(run(rx, row.stream), row.lines[rx]) << kNames[rx] << ": " << row.name;
        }
    }
}

TEST(FramerContract, BytesInsideAFrameNeverEmptyTheTable) {
    // A false info request inside a payload would set numCells to 0; the responder would answer it.
    const std::pair<const char*, Bytes> streams[] = {
        {"a metrics answer behind its request",
         concat({metrics::buildMetricsRequest(2), metricsAnswerWithFalseStarts()})},
        {"length field 0", metricsAnswerWithLength(0)},
        {"length field 0xFFFF", metricsAnswerWithLength(0xFFFF)},
        {"a firmware block", dataBlockWithFalseStart()},
    };
    for (const auto& [name, stream] : streams) {
        for (Receiver which : {Master, Sniffer, Responder}) {
            SCOPED_TRACE(std::string(kNames[which]) + ": " + name);
            bus::BusState state;
            state.numCells = 7;
            test::FakePort port;
            if (which == Master) {
                bus::MasterReceiver rx(state);
                for (auto b : stream) {
                    rx.feed(b);
                }
            } else if (which == Sniffer) {
                sniffer::SnifferParser rx(state);
                rx.receive(stream);
            } else {
                emulator::BmsResponder rx(state, port);
                rx.receive(stream);
            }
            EXPECT_EQ(state.numCells, 7);
            // The responder echoes the frames of the stream whole and answers nothing else.
            for (const Bytes& w : port.writes) {
                if (w != Bytes(10, 0x00)) {
                    EXPECT_TRUE(w.size() == 19 || w.size() == 448 || w.size() == 2064) << w.size();
                }
            }
        }
    }
}

TEST(FramerContract, TheCommandSenderEndsTheMasterSidesPassOverAnOversizedFrame) {
    bus::BusState state;
    bus::MasterReceiver rx(state);
    Log log;
    rx.setFrameTap(&log);
    for (auto b : first(dataBlock(0xFFFF, 3000), 100)) {
        rx.feed(b);
    }
    EXPECT_EQ(log.line, "S65541");
    state.frameReceiving = false; // a command frame went out
    for (auto b : frame(0x10, Bytes(16, 0x00), 0)) {
        rx.feed(b);
    }
    log.end(rx.framer());
    EXPECT_EQ(log.line, "S65541 F22 .");
}

TEST(FramerContract, ByteStreamsCutTheSameInOneOrManyPasses) {
    // The sniffer and the responder get bytes in receive passes of any length.
    const Bytes stream =
        concat({Bytes{0x13}, frame(0x02, Bytes(20, 0), 2), test::measurementRecord(1, 0, 0, 0, 0)});
    const auto compare = [&](auto& whole, auto& single, const char* name) {
        Log a;
        Log b;
        whole.setFrameTap(&a);
        single.setFrameTap(&b);
        whole.receive(stream);
        for (auto x : stream) {
            single.receive(Bytes{x});
        }
        EXPECT_EQ(a.line, "F26 R12") << name;
        EXPECT_EQ(b.line, a.line) << name;
    };
    bus::BusState s1;
    bus::BusState s2;
    test::FakePort port;
    sniffer::SnifferParser snifferWhole(s1);
    sniffer::SnifferParser snifferSingle(s2);
    compare(snifferWhole, snifferSingle, "sniffer");
    emulator::BmsResponder responderWhole(s1, port);
    emulator::BmsResponder responderSingle(s2, port);
    compare(responderWhole, responderSingle, "responder");
}

} // namespace
} // namespace zanst
