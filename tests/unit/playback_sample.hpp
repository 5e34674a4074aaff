#pragma once
// A small recorded bank for the playback tests: its values at every step, and captures of it as
// the tool makes them in "Battery tester", "Data Sniffer" and "BMS tester" mode, built from the
// capture writer, the tool's own request builders, independent record builders and (for the
// BMS tester) the emulator's responder itself.

#include "capture/capture_file.hpp"
#include "emulator/played_bank.hpp"
#include "emulator/responder.hpp"
#include "support/fake_port.hpp"
#include "support/records.hpp"
#include "tester/requests.hpp"

#include "bus/bytes.hpp"
#include "bus/identity.hpp"
#include "bus/state.hpp"

#include <cstdint>
#include <string>

namespace zanst::test {

// Batteries of 4 cells with the emulator's serials and sensors, so that every mode describes
// the same bank. Cell i (0-based over the bank) at step s.
struct SampleBank {
    int batteries = 2;
    int cells = 4;
    int steps = 3;

    int count() const { return batteries * cells; }
    std::string serial(int battery) const {
        return "HQ2200A602" + std::string(1, static_cast<char>('1' + battery));
    }
    static int mv(int s, int i) { return 3300 + 7 * s + 10 * i; }
    static int tenths(int s, int i) { return 200 + s + 3 * i; }
    static int ma(int s) { return -15000 + 1000 * s; } // every sensor reads the bank current
    static std::uint8_t flags(int i) { return i % 4 == 0 ? 0x01 : (i % 4 == 2 ? 0x03 : 0x00); }

    bus::Bytes infoRecords() const {
        bus::Bytes out;
        for (int i = 0; i < count(); ++i) {
            InfoFields f;
            f.id = static_cast<std::uint16_t>(i + 1);
            f.flags = flags(i);
            f.serial = serial(i / cells);
            f.following = i + 1 < count() ? 1 : 0;
            const bus::Bytes r = infoRecord(f);
            out.insert(out.end(), r.begin(), r.end());
        }
        return out;
    }
    // The records of step s as the balancers fill them in.
    bus::Bytes measurementRecords(int s) const {
        bus::Bytes out;
        for (int i = 0; i < count(); ++i) {
            const bus::Bytes r =
                measurementRecord(static_cast<std::uint16_t>(i + 1), 0x40, measurementWord(mv(s, i), ma(s)),
                                  static_cast<std::int16_t>(tenths(s, i) << 5), i + 1 < count() ? 2 : 0);
            out.insert(out.end(), r.begin(), r.end());
        }
        return out;
    }
    emulator::PlayedBank played(int s) const {
        emulator::PlayedBank bank;
        bank.batteries = batteries;
        for (int i = 0; i < count(); ++i) {
            const auto b = static_cast<std::size_t>(i / cells);
            const auto c = static_cast<std::size_t>(i % cells);
            bank.voltageMv[b][c] = mv(s, i);
            bank.tempTenths[b][c] = tenths(s, i);
        }
        bank.currentMa = ma(s);
        return bank;
    }
};

// Step s is complete at this capture time (µs).
inline std::uint64_t sampleStepUs(int s) {
    return 2'000'000 + 1'000'000 * static_cast<std::uint64_t>(s);
}

class CaptureMaker {
  public:
    static constexpr std::int64_t kStartUnixMs = 1765000000000;

    CaptureMaker() {
        capture::Header h;
        h.startUnixMs = kStartUnixMs;
        file = capture::encodeHeader(h);
    }
    void mode(std::uint64_t us, bus::Mode tab) {
        capture::encodeRecord(file, us, capture::RecordKind::Mode,
                              bus::Bytes{static_cast<std::uint8_t>(tab)});
    }
    void received(std::uint64_t us, const bus::Bytes& bytes) {
        capture::encodeRecord(file, us, capture::RecordKind::Received, bytes);
    }
    void sent(std::uint64_t us, const bus::Bytes& bytes) {
        capture::encodeRecord(file, us, capture::RecordKind::Sent, bytes);
    }
    capture::Capture read() const { return capture::readCapture(file); }

    bus::Bytes file;
};

inline bus::Bytes withFollowing(bus::Bytes frame, std::uint8_t following) {
    frame[frame.size() - 2] = following;
    sealLast(frame);
    return frame;
}

// The battery tester polls the bank: requests sent, the ring's answers received (each answer
// in two receive passes, as a port hands them over).
inline CaptureMaker batteryTesterCapture(const SampleBank& bank) {
    CaptureMaker c;
    c.mode(0, bus::Mode::BatteryTester);
    const bus::Bytes wakeup(10, 0x00);
    const bus::Bytes info = tester::buildInfoRequest();
    c.sent(500'000, wakeup);
    c.sent(500'000, info);
    c.received(510'000, concat({withFollowing(info, 1), bank.infoRecords()}));
    for (int s = 0; s < bank.steps; ++s) {
        const bus::Bytes request = tester::buildMeasurementRequest(3400, 13200);
        c.sent(sampleStepUs(s) - 20'000, wakeup);
        c.sent(sampleStepUs(s) - 20'000, request);
        const bus::Bytes answer = concat({request, bank.measurementRecords(s)});
        c.received(sampleStepUs(s) - 5'000, bus::Bytes(answer.begin(), answer.begin() + 40));
        c.received(sampleStepUs(s), bus::Bytes(answer.begin() + 40, answer.end()));
    }
    return c;
}

// The BMS's own requests, as a sniffer sees them.
inline bus::Bytes bmsInfoRequest(std::uint8_t following) {
    bus::Bytes payload(16, 0);
    bus::putLe16(payload, 0, 0xB75C);
    bus::putAscii(payload, 4, "ZBMS2400001");
    return frame(0x01, payload, following);
}
inline bus::Bytes bmsMeasurementRequest() {
    bus::Bytes payload(20, 0);
    bus::putLe16(payload, 0, 3400);
    bus::putLe16(payload, 2, static_cast<std::uint16_t>(-150));
    bus::putLe16(payload, 4, 132);
    return frame(0x02, payload, 2);
}

// The tool in the ring: everything received (the BMS's frames and the balancers' records) and
// repeated (sent).
inline CaptureMaker snifferCapture(const SampleBank& bank) {
    CaptureMaker c;
    c.mode(0, bus::Mode::Sniffer);
    const auto pass = [&](std::uint64_t us, const bus::Bytes& bytes) {
        c.received(us, bytes);
        c.sent(us, bytes);
    };
    pass(510'000, concat({bmsInfoRequest(1), bank.infoRecords()}));
    for (int s = 0; s < bank.steps; ++s) {
        pass(sampleStepUs(s),
             concat({bus::Bytes(10, 0x00), bmsMeasurementRequest(), bank.measurementRecords(s)}));
    }
    return c;
}

// The tool as the bank: the BMS's requests received, the emulator's answers (every write of
// its own) sent.
inline CaptureMaker bmsTesterCapture(const SampleBank& bank) {
    CaptureMaker c;
    c.mode(0, bus::Mode::BmsTester);
    bus::BusState state;
    FakePort port;
    emulator::BmsResponder responder(state, port);
    responder.setPreset(emulator::bankPresetForListIndex(0));
    emulator::BankSettings settings;
    settings.fwVersionIndex = 2;
    responder.setSettings(settings);
    responder.setPlayedBank(bank.played(0));
    const auto exchange = [&](std::uint64_t us, const bus::Bytes& request) {
        port.writes.clear();
        c.received(us, request);
        responder.receive(request);
        for (const bus::Bytes& w : port.writes) {
            c.sent(us, w);
        }
    };
    exchange(510'000, bmsInfoRequest(0));
    for (int s = 0; s < bank.steps; ++s) {
        responder.setPlayedBank(bank.played(s));
        bus::Bytes request = bmsMeasurementRequest();
        for (int i = 0; i < bank.count(); ++i) {
            const bus::Bytes r = measurementRecord(static_cast<std::uint16_t>(i + 1), 0x00, 0, 0,
                                                   i + 1 < bank.count() ? 2 : 0);
            request.insert(request.end(), r.begin(), r.end());
        }
        exchange(sampleStepUs(s), request);
    }
    return c;
}

} // namespace zanst::test
