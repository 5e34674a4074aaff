#include "report_sample.hpp"

#include "sample_bank.hpp"

namespace zanst::test {

using namespace servicelog;

namespace {

ActionRecord action(ActionKind kind, int seq, const QDateTime& at) {
    ActionRecord a;
    a.kind = kind;
    a.seq = seq;
    a.at = at;
    return a;
}

} // namespace

VisitRecord sampleReportVisit() {
    VisitRecord v;
    v.id = QStringLiteral("0b6f1c52-93a4-4f8e-9a57-3c2d1e0f4a11");
    v.startedAt = sampleTime(30);
    v.endedAt = sampleTime(30, 5400);
    v.endReason = EndReason::Closed;
    v.site = QStringLiteral("Harbour depot, hall 3");
    v.technician = QStringLiteral("Mira Okafor");
    v.adapter = QStringLiteral("FT232R USB UART (FTDI)");
    v.port = QStringLiteral("/dev/ttyUSB0");
    v.toolVersion = QStringLiteral("1.0.0");
    v.notes =
        QStringLiteral("Battery 4 cell 7 runs low; balancing load checked.\nFirmware of battery 2 to be "
                       "retried at the next visit.");
    auto before = sampleBank(10, 16, 1, 0, 3);
    auto after = before;
    after.balancers[53].millivolts = 3668;  // battery 4, cell 6: above 3.65 V
    after.balancers[54].millivolts = 2690;  // battery 4, cell 7: below 2.70 V
    after.balancers[40].millivolts.reset(); // no measurement
    for (auto& b : after.balancers) {
        b.fwVersion = 0x00010400;
    }
    after.balancers[20].fwVersion = 0x00010203; // battery 2, cells 5 and 6 kept the old version
    after.balancers[21].fwVersion = 0x00010203;
    v.snapshots.push_back(sampleSnapshot(before, SnapshotKind::Start, sampleTime(30, 60)));
    v.snapshots.back().seq = 1;
    v.snapshots.push_back(sampleSnapshot(after, SnapshotKind::End, sampleTime(30, 5300)));
    v.snapshots.back().seq = 2;
    for (const auto& b : balancersOf(after)) {
        v.balancers.push_back(b);
    }

    int seq = 0;
    ActionRecord fw = action(ActionKind::Firmware, ++seq, sampleTime(30, 600));
    FirmwareRecord f;
    f.at = fw.at;
    f.file = QStringLiteral("/home/tech/firmware/balancer_v1.04.hex");
    f.imageVersion = 0x00010400;
    f.balancers = firmwareResults(before, after, 0x00010400);
    fw.firmware = f;
    v.actions.push_back(fw);

    const struct {
        CalibrationStep step;
        int balancer;
        int input;
        CalibrationValues before;
        CalibrationValues after;
        Outcome outcome;
    } cals[] = {
        {CalibrationStep::Voltage, 3, 3301, {32003, 16003, 3}, {32117, 16003, 3}, Outcome::Succeeded},
        {CalibrationStep::CurrentOffset, 1, 0, {32001, 16001, 1}, {32001, 16001, 12}, Outcome::Succeeded},
        {CalibrationStep::CurrentGain, 1, 255, {32001, 16001, 12}, {32001, 16412, 12}, Outcome::Succeeded},
        {CalibrationStep::Save, 1, 0, {32001, 16412, 12}, {32001, 16412, 12}, Outcome::Unknown},
        {CalibrationStep::Voltage, 55, 2690, {32055, 16055, 55}, {32055, 16055, 55}, Outcome::Failed},
    };
    for (const auto& c : cals) {
        ++seq;
        ActionRecord a = action(ActionKind::Calibration, seq, sampleTime(30, 900 + seq * 30));
        CalibrationRecord r;
        r.at = a.at;
        r.step = c.step;
        r.balancer = c.balancer;
        r.serial = QString::fromStdString(sampleSerial((c.balancer - 1) / 16 + 1));
        r.input = c.input;
        r.before = c.before;
        r.after = c.after;
        r.outcome = c.outcome;
        a.calibration = r;
        v.actions.push_back(a);
    }
    ActionRecord par = action(ActionKind::Parameters, ++seq, sampleTime(30, 1500));
    ParametersRecord p;
    p.at = par.at;
    p.serial = QString::fromStdString(sampleSerial(1));
    p.capacity = 100;
    p.productId = 0xA0C8;
    for (int i = 1; i <= 16; ++i) {
        p.balancers.push_back(i);
    }
    p.previousSerials = {QStringLiteral("HQ2200A0C81")};
    p.outcome = Outcome::Succeeded;
    par.parameters = p;
    v.actions.push_back(par);
    for (int battery = 1; battery <= 10; ++battery) {
        ActionRecord m = action(ActionKind::Metrics, ++seq, sampleTime(30, 2000 + battery));
        MetricsRecord r;
        r.at = m.at;
        r.file = QStringLiteral("/home/tech/.local/share/Metrics/metrics_06-04-2025_14;38;29.txt");
        r.serial = QString::fromStdString(sampleSerial(battery));
        r.metrics = sampleMetricsRecord(battery, static_cast<std::uint16_t>(2900 - battery * 7),
                                        31536000u + static_cast<std::uint32_t>(battery) * 86461u);
        m.metrics = r;
        v.actions.push_back(m);
    }
    ActionRecord rec = action(ActionKind::Recording, ++seq, sampleTime(30, 3000));
    rec.recording = RecordingRecord{rec.at, RecordingKind::Tester,
                                    QStringLiteral("/home/tech/Recordings/Recording_12.txt")};
    v.actions.push_back(rec);
    ActionRecord crc = action(ActionKind::Fault, ++seq, sampleTime(30, 3100));
    crc.fault = FaultRecord{crc.at, FaultKind::CrcErrors, 7, 54,
                            QStringLiteral("7 records of balancer 54 failed their CRC")};
    v.actions.push_back(crc);
    ActionRecord lost = action(ActionKind::Fault, ++seq, sampleTime(30, 3200));
    lost.fault = FaultRecord{lost.at, FaultKind::LostConnection, 0, 0,
                             QStringLiteral("Connection lost: /dev/ttyUSB0")};
    v.actions.push_back(lost);
    return v;
}

VisitRecord samplePreviousVisit() {
    VisitRecord v;
    v.id = QStringLiteral("5d2a7e10-1111-4c3b-8e0a-99aa00bb11cc");
    v.startedAt = sampleTime(0);
    v.endedAt = sampleTime(0, 3600);
    v.site = QStringLiteral("Harbour depot, hall 3");
    v.technician = QStringLiteral("J. Berg");
    const auto bank = sampleBank(10, 16, 1, 6, 11);
    v.snapshots.push_back(sampleSnapshot(bank, SnapshotKind::End, sampleTime(0, 3500)));
    v.snapshots.back().seq = 1;
    for (const auto& b : balancersOf(bank)) {
        v.balancers.push_back(b);
    }
    ActionRecord m;
    m.kind = ActionKind::Metrics;
    m.seq = 1;
    m.at = sampleTime(0, 100);
    MetricsRecord r;
    r.at = m.at;
    r.serial = QString::fromStdString(sampleSerial(4));
    r.metrics = sampleMetricsRecord(4, 2901, 30000000);
    m.metrics = r;
    v.actions.push_back(m);
    return v;
}

} // namespace zanst::test
