#include "sample_bank.hpp"

#include <QTimeZone>

#include <cstdio>

namespace zanst::test {

std::string sampleSerial(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "ZB%09d", n);
    return text;
}

bank::BankSnapshot sampleBank(int batteries, int cellsEach, int firstSerial, int offsetMv, unsigned seed) {
    bank::BankSnapshot bank;
    unsigned state = seed * 2654435761u + 1;
    for (int b = 0; b < batteries; ++b) {
        for (int c = 0; c < cellsEach; ++c) {
            state = state * 1103515245u + 12345u;
            bank::BalancerReading r;
            const int id = b * cellsEach + c + 1;
            r.id = id;
            r.cellId = id;
            r.millivolts = 3290 + offsetMv + static_cast<int>((state >> 16) % 21);
            r.milliamps = c == 0 ? 1250 : 0;
            r.infoFlags = c == 0 ? 0x01 : 0x00;
            r.tenthsCelsius = 215 + static_cast<int>((state >> 8) % 30);
            r.statusFlags = 0x40;
            r.serial = sampleSerial(firstSerial + b);
            r.productId = 0xA0C8;
            r.capacity = 100;
            r.fwVersion = 0x00010203;
            r.blVersion = 0x00020006;
            r.hwRevision = 3;
            r.vGain = static_cast<std::uint16_t>(32000 + id);
            r.iGain = static_cast<std::uint16_t>(16000 + id);
            r.iOffset = static_cast<std::uint16_t>(id);
            r.battery = b;
            r.crcErrors = static_cast<std::uint32_t>(c == 3 ? 2 : 0);
            bank.balancers.push_back(r);
        }
    }
    return bank;
}

servicelog::SnapshotRecord sampleSnapshot(const bank::BankSnapshot& bank, servicelog::SnapshotKind kind,
                                          const QDateTime& at) {
    servicelog::SnapshotRecord s;
    s.kind = kind;
    s.takenAt = at;
    s.bank = bank;
    s.values.balancerSetpoint = 3400;
    s.values.batVoltage = 52800;
    s.values.batCurrent = -1250;
    s.health.framesSent = 120;
    s.health.framesReceived = 118;
    s.health.validReceived = 118 * 17;
    s.health.crcErrors = 4;
    s.health.unansweredPolls = 2;
    s.health.noAnswerAfter = -1;
    s.health.msSinceValid = 120;
    return s;
}

metrics::MetricsMetadata sampleMetricsRecord(int instance, std::uint16_t cycles, std::uint32_t lifeSpan) {
    metrics::MetricsMetadata m;
    m.instanceNumber = static_cast<std::uint16_t>(instance);
    m.secsLifeSpan = lifeSpan;
    m.cyclesBeforeEOL = cycles;
    m.secsAtIRRange100_110perc = 11;
    m.secsAtIRAbove225perc = 65535;
    m.secsInUndervoltage = 120;
    m.secsInOvervoltage = 30;
    m.secsInSub01C = 4294967295u;
    std::uint32_t v = 0;
    for (auto& t : m.timeMatrix) {
        for (auto& c : t) {
            for (auto& seconds : c) {
                seconds = v++ * 100;
            }
        }
    }
    return m;
}

QDateTime sampleTime(int days, int seconds) {
    return QDateTime(QDate(2025, 3, 7), QTime(14, 5, 9), Qt::UTC).addDays(days).addSecs(seconds);
}

} // namespace zanst::test
