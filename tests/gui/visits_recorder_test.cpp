// The visit recorder: when a visit begins and ends, when its start and end snapshots are taken,
// and what each action is recorded with once the later polls have told its outcome. The log is a
// list of the calls, so every case reads as what would be written, in order.

#include "visits/visit_recorder.hpp"

#include "adapter/identity.hpp"
#include "sample_bank.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zanst::test {
namespace {

using app::PortStatus;
using servicelog::CalibrationStep;
using servicelog::EndReason;
using servicelog::FaultKind;
using servicelog::Outcome;
using servicelog::SnapshotKind;

class KeptLog : public app::VisitLog {
  public:
    void beginVisit(const servicelog::VisitStart& s) override {
        calls.push_back("begin " + s.port.toStdString());
        starts.push_back(s);
    }
    void setVisitDetails(const QString& site, const QString& technician) override {
        calls.push_back("details " + site.toStdString() + "/" + technician.toStdString());
    }
    void setVisitNotes(const QString& n) override { calls.push_back("notes " + n.toStdString()); }
    void takeSnapshot(const servicelog::SnapshotRecord& s) override {
        calls.push_back("snapshot " + servicelog::kindText(s.kind).toStdString());
        snapshots.push_back(s);
    }
    void recordBalancers(const std::vector<servicelog::BalancerRecord>& list) override {
        calls.push_back("balancers");
        balancers = list;
    }
    void recordCalibration(const servicelog::CalibrationRecord& r) override {
        calls.push_back("calibration");
        calibrations.push_back(r);
    }
    void recordParameters(const servicelog::ParametersRecord& r) override {
        calls.push_back("parameters");
        parameters.push_back(r);
    }
    void recordFirmware(const servicelog::FirmwareRecord& r) override {
        calls.push_back("firmware");
        firmware.push_back(r);
    }
    void recordMetrics(const servicelog::MetricsRecord& r) override {
        calls.push_back("metrics");
        metrics.push_back(r);
    }
    void recordRecording(const servicelog::RecordingRecord& r) override {
        calls.push_back("recording");
        recordings.push_back(r);
    }
    void recordFault(const servicelog::FaultRecord& r) override {
        calls.push_back("fault " + servicelog::faultText(r.kind).toStdString());
        faults.push_back(r);
    }
    void endVisit(EndReason reason) override {
        calls.push_back("end " + servicelog::endReasonText(reason).toStdString());
    }
    void setWritesEnabled(bool enabled) override { calls.push_back(enabled ? "writes on" : "writes off"); }

    std::vector<std::string> calls;
    std::vector<servicelog::VisitStart> starts;
    std::vector<servicelog::SnapshotRecord> snapshots;
    std::vector<servicelog::BalancerRecord> balancers;
    std::vector<servicelog::CalibrationRecord> calibrations;
    std::vector<servicelog::ParametersRecord> parameters;
    std::vector<servicelog::FirmwareRecord> firmware;
    std::vector<servicelog::MetricsRecord> metrics;
    std::vector<servicelog::RecordingRecord> recordings;
    std::vector<servicelog::FaultRecord> faults;
};

class VisitRecorderTest : public testing::Test {
  protected:
    VisitRecorderTest() {
        rec.setClock([this] { return nowMs; });
        rec.setAdapterDescriber([](const QString& port) { return QStringLiteral("adapter of ") + port; });
    }
    void open(const QString& port = QStringLiteral("/dev/ttyUSB0")) {
        rec.portStatus(PortStatus::Opening, port, {});
        rec.portStatus(PortStatus::Open, port, {});
    }
    // A polled tick whose snapshot is `bank`, that sent `sent`.
    void tick(const bank::BankSnapshot& bank, tester::PollRequest sent = tester::PollRequest::Measurement) {
        tester::TickReport r;
        r.polled = true;
        r.sent = sent;
        r.snapshot = bank;
        rec.tick(r);
        rec.bankSnapshot(bank);
    }
    void health(bus::Mode mode, std::uint64_t crc) {
        app::HealthReport h;
        h.mode = mode;
        h.crcErrors = crc;
        rec.health(h);
    }
    void updaterLine(const std::string& text) {
        service::UpdaterReport r;
        r.log.push_back({text, true});
        rec.updaterReport(r);
    }
    std::vector<std::string> callsFrom(std::size_t first) const {
        return {log.calls.begin() + static_cast<long>(first), log.calls.end()};
    }

    qint64 nowMs = 0;
    KeptLog log;
    app::VisitRecorder rec{log};
    bank::BankSnapshot bank4 = sampleBank(1, 4);
};

TEST_F(VisitRecorderTest, PortEventsBeginAndEndVisits) {
    struct Step {
        PortStatus status;
        const char* port;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> calls;
    } cases[] = {
        {"opened and closed",
         {{PortStatus::Opening, "p"}, {PortStatus::Open, "p"}, {PortStatus::Idle, ""}},
         {"begin p", "end port closed"}},
        {"lost",
         {{PortStatus::Open, "p"}, {PortStatus::Lost, "p"}},
         {"begin p", "fault lost connection", "end connection lost"}},
        {"another port chosen",
         {{PortStatus::Open, "a"}, {PortStatus::Opening, "b"}, {PortStatus::Open, "b"}},
         {"begin a", "end port closed", "begin b"}},
        {"a port that cannot be opened", {{PortStatus::Opening, "x"}, {PortStatus::Failed, "x"}}, {}},
        {"closed without a visit", {{PortStatus::Idle, ""}, {PortStatus::Lost, "p"}}, {}},
    };
    for (const auto& c : cases) {
        KeptLog kept;
        app::VisitRecorder r(kept);
        r.setAdapterDescriber([](const QString&) { return QString(); });
        for (const Step& s : c.steps) {
            r.portStatus(s.status, QString::fromLatin1(s.port), QStringLiteral("gone"));
        }
        EXPECT_EQ(kept.calls, c.calls) << c.name;
    }
}

TEST_F(VisitRecorderTest, AVisitStartsWithTheDetailsTypedAndTheAdapterAndEndsWithItsNotes) {
    rec.setToolVersion(QStringLiteral("9.9"));
    rec.setDetails(QStringLiteral("Harbour 3"), QStringLiteral("Ana"));
    rec.setNotes(QStringLiteral("fan noisy")); // before the port: kept for the visit
    EXPECT_TRUE(log.calls.empty());
    open();
    ASSERT_EQ(log.starts.size(), 1U);
    EXPECT_EQ(log.starts[0].site, "Harbour 3");
    EXPECT_EQ(log.starts[0].technician, "Ana");
    EXPECT_EQ(log.starts[0].adapter, "adapter of /dev/ttyUSB0");
    EXPECT_EQ(log.starts[0].toolVersion, "9.9");
    rec.setDetails(QStringLiteral("Harbour 4"), QStringLiteral("Ana"));
    rec.setNotes(QStringLiteral("fan replaced"));
    rec.quit();
    EXPECT_EQ(log.calls,
              (std::vector<std::string>{"begin /dev/ttyUSB0", "notes fan noisy", "details Harbour 4/Ana",
                                        "notes fan replaced", "end tool quit"}));
    // The next visit has no notes of its own yet.
    open();
    EXPECT_EQ(log.calls.back(), "begin /dev/ttyUSB0");
}

TEST_F(VisitRecorderTest, StartSnapshotWaitsForTheWholeBankOrItsPatience) {
    open();
    bank::BankSnapshot partial = bank4;
    partial.balancers[2].millivolts.reset(); // its measurement has not come yet
    partial.balancers[3].id = 0;             // nor its info
    rec.bankSnapshot(bank::BankSnapshot{});  // nothing found yet
    rec.bankSnapshot(partial);
    EXPECT_TRUE(log.snapshots.empty());
    rec.bankSnapshot(bank4);
    ASSERT_EQ(log.snapshots.size(), 1U);
    EXPECT_EQ(log.snapshots[0].kind, SnapshotKind::Start);
    EXPECT_EQ(log.snapshots[0].bank.balancers.size(), 4U);
    rec.bankSnapshot(bank4);
    EXPECT_EQ(log.snapshots.size(), 1U) << "one start snapshot";

    // A balancer that never measures: the start snapshot comes after five looks anyway.
    rec.portStatus(PortStatus::Idle, {}, {});
    open();
    const std::size_t before = log.snapshots.size();
    for (int i = 1; i < app::VisitRecorder::kStartSnapshotPatience; ++i) {
        rec.bankSnapshot(partial);
    }
    EXPECT_EQ(log.snapshots.size(), before);
    rec.bankSnapshot(partial);
    ASSERT_EQ(log.snapshots.size(), before + 1);
    EXPECT_EQ(log.snapshots.back().kind, SnapshotKind::Start);
}

TEST_F(VisitRecorderTest, EndAndManualSnapshotsTakeTheLastBankWithItsValuesAndHealth) {
    open();
    EXPECT_FALSE(rec.takeSnapshot()) << "no bank yet";
    rec.bankSnapshot(bank4);
    bank::BankValues values{3400, 13300, -2500};
    rec.bankValues(values);
    app::HealthReport h;
    h.framesSent = 40;
    h.framesReceived = 39;
    h.validReceived = 195;
    h.msSinceValid = 300;
    rec.health(h);
    EXPECT_TRUE(rec.takeSnapshot());
    // The bus falls silent: its empty tables do not replace the bank.
    rec.bankSnapshot(bank::BankSnapshot{});
    rec.portStatus(PortStatus::Idle, {}, {});
    EXPECT_EQ(log.calls, (std::vector<std::string>{"begin /dev/ttyUSB0", "snapshot start", "snapshot manual",
                                                   "snapshot end", "end port closed"}));
    const servicelog::SnapshotRecord& end = log.snapshots.back();
    EXPECT_EQ(end.bank.balancers.size(), 4U);
    EXPECT_EQ(end.values.batCurrent, -2500);
    EXPECT_EQ(end.health.framesReceived, 39U);
    EXPECT_EQ(end.health.validReceived, 195U);
    EXPECT_EQ(end.health.msSinceValid, 300);
    EXPECT_FALSE(rec.takeSnapshot()) << "no visit";
}

TEST_F(VisitRecorderTest, EndSnapshotKeepsTheLastMeasuredCellsOfTheSameBatteriesEnumeratedAgain) {
    bank::BankSnapshot enumerated = bank4; // after an update: info again, no measurement yet
    for (auto& b : enumerated.balancers) {
        b.millivolts.reset();
        b.fwVersion = 0x000203FF;
    }
    bank::BankSnapshot renamed = enumerated; // new battery parameters: other batteries
    for (auto& b : renamed.balancers) {
        b.serial = "ZNEWSERIAL7";
    }
    const struct {
        const char* name;
        bank::BankSnapshot last;
        bool measured; // the end snapshot has every cell's voltage
        bool balancersAfter;
    } cases[] = {
        {"measured again", bank4, true, false},
        {"only enumerated again", enumerated, true, true},
        {"other serials", renamed, false, false},
    };
    for (const auto& c : cases) {
        KeptLog kept;
        app::VisitRecorder r(kept);
        r.setAdapterDescriber([](const QString&) { return QString(); });
        r.portStatus(PortStatus::Open, QStringLiteral("p"), {});
        r.bankSnapshot(bank4);
        r.bankSnapshot(c.last);
        r.portStatus(PortStatus::Idle, {}, {});
        ASSERT_EQ(kept.snapshots.size(), 2U) << c.name;
        const auto& end = kept.snapshots[1].bank.balancers;
        EXPECT_EQ(std::all_of(end.begin(), end.end(), [](const auto& b) { return b.millivolts.has_value(); }),
                  c.measured)
            << c.name;
        EXPECT_EQ(end.front().serial, c.last.balancers.front().serial) << c.name;
        // The balancers as last enumerated go in after the snapshot, so that they are what stays.
        ASSERT_EQ(!kept.balancers.empty(), c.balancersAfter) << c.name;
        if (c.balancersAfter) {
            EXPECT_EQ(kept.calls[kept.calls.size() - 2], "balancers");
            EXPECT_EQ(kept.balancers.front().fwVersion, 0x000203FFU);
        }
    }
}

TEST_F(VisitRecorderTest, CalibrationAfterValuesComeFromThePollAfterTheSecondCalibrationPoll) {
    using tester::PollRequest;
    open();
    tick(bank4);
    rec.calibrationRequested(1, service::CalibrationKind::Voltage, 3321);
    bank::BankSnapshot changed = bank4;
    changed.balancers[1].vGain = 32100;
    // A calibration poll that may have left before the command, the one after it, then its answer.
    tick(bank4, PollRequest::CalibrationData);
    tick(bank4, PollRequest::Measurement);
    EXPECT_TRUE(log.calibrations.empty());
    tick(bank4, PollRequest::CalibrationData);
    EXPECT_TRUE(log.calibrations.empty());
    tick(changed, PollRequest::Measurement);
    ASSERT_EQ(log.calibrations.size(), 1U);
    const servicelog::CalibrationRecord& r = log.calibrations[0];
    EXPECT_EQ(r.step, CalibrationStep::Voltage);
    EXPECT_EQ(r.balancer, 2);
    EXPECT_EQ(r.serial, QString::fromStdString(sampleSerial(1)));
    EXPECT_EQ(r.input, 3321);
    ASSERT_TRUE(r.before && r.after);
    EXPECT_EQ(r.before->vGain, bank4.balancers[1].vGain);
    EXPECT_EQ(r.after->vGain, 32100);
    EXPECT_EQ(r.after->iGain, bank4.balancers[1].iGain);
    EXPECT_EQ(r.outcome, Outcome::Succeeded);
}

TEST_F(VisitRecorderTest, CalibrationOutcomesAndTimeOuts) {
    using tester::PollRequest;
    const struct {
        const char* name;
        bool polled;       // the calibration polls come
        bool valuesChange; // and the balancer's values differ after them
        bool save;         // "save calibration" instead of "calibrate offset"
        Outcome outcome;
        bool after;
    } cases[] = {
        {"changed", true, true, false, Outcome::Succeeded, true},
        {"unchanged", true, false, false, Outcome::Unknown, true},
        {"saved", true, false, true, Outcome::Unknown, true},
        {"no poll within the wait", false, false, false, Outcome::Unknown, false},
    };
    for (const auto& c : cases) {
        KeptLog kept;
        app::VisitRecorder r(kept);
        qint64 now = 0;
        r.setClock([&now] { return now; });
        r.setAdapterDescriber([](const QString&) { return QString(); });
        r.portStatus(PortStatus::Open, QStringLiteral("p"), {});
        r.bankSnapshot(bank4);
        if (c.save) {
            r.saveCalibrationRequested(0);
        } else {
            r.calibrationRequested(0, service::CalibrationKind::CurrentOffset, 77);
        }
        bank::BankSnapshot after = bank4;
        if (c.valuesChange) {
            after.balancers[0].iOffset = 9;
        }
        tester::TickReport t;
        t.polled = true;
        t.snapshot = after;
        for (int i = 0; i < 3 && c.polled; ++i) {
            t.sent = i < 2 ? PollRequest::CalibrationData : PollRequest::Measurement;
            r.tick(t);
        }
        if (!c.polled) {
            now = app::VisitRecorder::kCalibrationWaitMs + 1;
            r.health(app::HealthReport{}); // the time-out runs on the health reports
        }
        ASSERT_EQ(kept.calibrations.size(), 1U) << c.name;
        EXPECT_EQ(kept.calibrations[0].outcome, c.outcome) << c.name;
        EXPECT_EQ(kept.calibrations[0].after.has_value(), c.after) << c.name;
        EXPECT_EQ(kept.calibrations[0].input, 0) << c.name << ": the offset is taken at no current";
        EXPECT_EQ(kept.calibrations[0].step, c.save ? CalibrationStep::Save : CalibrationStep::CurrentOffset);
    }
}

TEST_F(VisitRecorderTest, GainStepsNameTheBatteryAndWatchItsCurrentBalancer) {
    open();
    const bank::BankSnapshot two = sampleBank(2, 4, 7);
    tick(two);
    // Row 6 is the third cell of the second battery; its first cell measures the current.
    rec.gainRequested(6, service::GainOperation::IncreaseGain);
    bank::BankSnapshot after = two;
    after.balancers[4].iGain = 17000;
    tick(two, tester::PollRequest::CalibrationData);
    tick(two, tester::PollRequest::CalibrationData);
    tick(after);
    ASSERT_EQ(log.calibrations.size(), 1U);
    const servicelog::CalibrationRecord& r = log.calibrations[0];
    EXPECT_EQ(r.step, CalibrationStep::IncreaseGain);
    EXPECT_EQ(r.balancer, 0);
    EXPECT_EQ(r.serial, QString::fromStdString(sampleSerial(8)));
    EXPECT_EQ(r.before->iGain, two.balancers[4].iGain);
    EXPECT_EQ(r.after->iGain, 17000);
    rec.gainRequested(40, service::GainOperation::ZeroCurrent); // no balancer there: nothing was sent
    rec.quit();
    EXPECT_EQ(log.calibrations.size(), 1U);
}

TEST_F(VisitRecorderTest, BatteryParametersSucceedOnceEveryBalancerReportsTheNewSerial) {
    const bank::BankSnapshot two = sampleBank(2, 4, 3);
    bank::BankSnapshot renamed = two;
    bank::BankSnapshot half = two;
    for (std::size_t i = 0; i < renamed.balancers.size(); ++i) {
        renamed.balancers[i].serial = "ZNEWSERIAL7";
        if (i < 4) {
            half.balancers[i].serial = "ZNEWSERIAL7";
        }
    }
    const struct {
        const char* name;
        std::vector<bank::BankSnapshot> after;
        qint64 waitedMs;
        Outcome outcome;
    } cases[] = {
        {"all renamed", {bank::BankSnapshot{}, two, renamed}, 0, Outcome::Succeeded},
        {"half renamed", {half, half}, app::VisitRecorder::kParametersWaitMs + 1, Outcome::Failed},
        {"the visit ended first", {half}, 0, Outcome::Unknown},
    };
    for (const auto& c : cases) {
        KeptLog kept;
        app::VisitRecorder r(kept);
        qint64 now = 0;
        r.setClock([&now] { return now; });
        r.setAdapterDescriber([](const QString&) { return QString(); });
        r.portStatus(PortStatus::Open, QStringLiteral("p"), {});
        r.bankSnapshot(two);
        r.parametersRequested({"ZNEWSERIAL7", 150, 0xA0C8});
        for (const auto& s : c.after) {
            r.bankSnapshot(s);
        }
        now = c.waitedMs;
        r.health(app::HealthReport{});
        r.quit();
        ASSERT_EQ(kept.parameters.size(), 1U) << c.name;
        const servicelog::ParametersRecord& p = kept.parameters[0];
        EXPECT_EQ(p.outcome, c.outcome) << c.name;
        EXPECT_EQ(p.serial, "ZNEWSERIAL7");
        EXPECT_EQ(p.capacity, 150);
        EXPECT_EQ(p.productId, 0xA0C8);
        EXPECT_EQ(p.balancers, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_EQ(p.previousSerials, (std::vector<QString>{QString::fromStdString(sampleSerial(3)),
                                                           QString::fromStdString(sampleSerial(4))}))
            << c.name;
    }
}

service::HexReadResult imageOf(std::uint32_t version) {
    std::vector<std::uint8_t> bytes(2048, 0xFF);
    for (int i = 0; i < 4; ++i) {
        bytes[service::kImageVersionOffset + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(version >> (8 * i));
    }
    service::HexReadResult r;
    r.log = {"", std::string(service::kUpdaterHeader), "File:/tmp/fw/balancer.hex", "Image size: 2048 bytes"};
    r.image.emplace();
    r.image->append(bytes);
    return r;
}

TEST_F(VisitRecorderTest, FirmwareUpdateComparesTheVersionsOnceTheBalancersLeaveTheirBootLoaders) {
    constexpr std::uint32_t kNew = 0x000203FF;
    bank::BankSnapshot inBootLoader = bank4;
    for (auto& b : inBootLoader.balancers) {
        b.bootMode = 1;
    }
    bank::BankSnapshot updated = bank4;
    for (auto& b : updated.balancers) {
        b.fwVersion = kNew;
    }
    bank::BankSnapshot oneBehind = updated;
    oneBehind.balancers[2].fwVersion = bank4.balancers[2].fwVersion;
    bank::BankSnapshot oneGone = updated;
    oneGone.balancers.pop_back();

    const struct {
        const char* name;
        std::string endLine;
        std::vector<bank::BankSnapshot> after;
        qint64 waitedMs;
        std::vector<Outcome> outcomes;
        std::string detail;
    } cases[] = {
        {"all updated",
         "Firmware updated to v02.03",
         {bank::BankSnapshot{}, inBootLoader, updated},
         0,
         {Outcome::Succeeded, Outcome::Succeeded, Outcome::Succeeded, Outcome::Succeeded},
         ""},
        {"one kept its version",
         "Firmware updated to v02.03",
         {oneBehind},
         0,
         {Outcome::Succeeded, Outcome::Succeeded, Outcome::Failed, Outcome::Succeeded},
         ""},
        {"one never came back",
         "Firmware updated to v02.03",
         {oneGone},
         app::VisitRecorder::kReEnumerationWaitMs + 1,
         {Outcome::Succeeded, Outcome::Succeeded, Outcome::Succeeded, Outcome::Failed},
         "Not every balancer came back within 60 s"},
        {"the updater gave up",
         "Updater Timeout",
         {bank4},
         0,
         {Outcome::Failed, Outcome::Failed, Outcome::Failed, Outcome::Failed},
         "Updater Timeout"},
    };
    for (const auto& c : cases) {
        KeptLog kept;
        app::VisitRecorder r(kept);
        qint64 now = 0;
        r.setClock([&now] { return now; });
        r.setAdapterDescriber([](const QString&) { return QString(); });
        r.portStatus(PortStatus::Open, QStringLiteral("p"), {});
        r.bankSnapshot(bank4);
        r.firmwareRead(imageOf(kNew), true);
        r.bankSnapshot(bank::BankSnapshot{}); // the boot loaders were started
        service::UpdaterReport end;
        end.log = {{"Start Update...100%", false}, {"Update Ready", true}, {c.endLine, true}};
        r.updaterReport(end);
        for (const auto& s : c.after) {
            r.bankSnapshot(s);
        }
        now = c.waitedMs;
        r.health(app::HealthReport{});
        ASSERT_EQ(kept.firmware.size(), 1U) << c.name;
        const servicelog::FirmwareRecord& f = kept.firmware[0];
        EXPECT_EQ(f.file, "/tmp/fw/balancer.hex");
        EXPECT_EQ(f.imageVersion, kNew);
        EXPECT_TRUE(f.forced);
        EXPECT_EQ(f.detail.toStdString(), c.detail) << c.name;
        ASSERT_EQ(f.balancers.size(), 4U) << c.name;
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(f.balancers[i].fromVersion, bank4.balancers[i].fwVersion);
            EXPECT_EQ(f.balancers[i].outcome, c.outcomes[i]) << c.name << " balancer " << i + 1;
        }
    }
}

TEST_F(VisitRecorderTest, AnUpdateStillRunningAtTheEndOfTheVisitIsRecordedAsSuch) {
    open();
    rec.bankSnapshot(bank4);
    rec.firmwareRead(service::HexReadResult{}, false); // an invalid file starts nothing
    rec.firmwareRead(imageOf(0x000203FF), false);
    updaterLine("Start BootLoaders");
    rec.portStatus(PortStatus::Idle, {}, {});
    ASSERT_EQ(log.firmware.size(), 1U);
    EXPECT_EQ(log.firmware[0].detail, "The visit ended before the update did");
    EXPECT_EQ(callsFrom(log.calls.size() - 3),
              (std::vector<std::string>{"firmware", "snapshot end", "end port closed"}));
}

TEST_F(VisitRecorderTest, MetricsNameTheirFileAndTheBatteryOfTheirInstance) {
    open();
    rec.bankSnapshot(sampleBank(3, 4, 20));
    metrics::FetchReport report;
    report.recordsReceived = {sampleMetricsRecord(1, 3000, 100), sampleMetricsRecord(3, 2900, 200),
                              sampleMetricsRecord(4, 2800, 300)};
    rec.metricsFetched(report, QStringLiteral("/data/Metrics/metrics_7.txt"));
    ASSERT_EQ(log.metrics.size(), 3U);
    EXPECT_EQ(log.metrics[0].serial, QString::fromStdString(sampleSerial(20)));
    EXPECT_EQ(log.metrics[1].serial, QString::fromStdString(sampleSerial(22)));
    EXPECT_EQ(log.metrics[2].serial, "") << "a fourth battery is not in the bank";
    EXPECT_EQ(log.metrics[1].file, "/data/Metrics/metrics_7.txt");
    EXPECT_EQ(log.metrics[1].metrics.cyclesBeforeEOL, 2900);
}

TEST_F(VisitRecorderTest, CrcErrorsAreCountedPerModeAndWrittenAtMostOncePerPeriod) {
    health(bus::Mode::BatteryTester, 5); // before the port opened: not the visit's
    open();
    health(bus::Mode::BatteryTester, 7);
    ASSERT_EQ(log.faults.size(), 1U);
    EXPECT_EQ(log.faults[0].count, 2U);
    nowMs = 1000;
    health(bus::Mode::BatteryTester, 10);
    health(bus::Mode::Calibration, 4); // the new mode counts from zero
    EXPECT_EQ(log.faults.size(), 1U) << "within the period";
    nowMs = app::VisitRecorder::kCrcFaultPeriodMs + 1;
    health(bus::Mode::Calibration, 4);
    ASSERT_EQ(log.faults.size(), 2U);
    EXPECT_EQ(log.faults[1].count, 7U);
    health(bus::Mode::Calibration, 6);
    rec.quit(); // the rest is written at the end
    ASSERT_EQ(log.faults.size(), 3U);
    EXPECT_EQ(log.faults[2].count, 2U);
    EXPECT_EQ(log.faults[2].kind, FaultKind::CrcErrors);
}

TEST_F(VisitRecorderTest, SelfEchoIsOneFaultUntilARealBmsAnswersAgain) {
    open();
    emulator::ResponderReport echo;
    echo.ownAnswersReturning = true;
    emulator::ResponderReport real;
    real.ownAnswersReturning = false;
    for (const auto& r : {echo, echo, emulator::ResponderReport{}, real, echo}) {
        rec.responderReport(r);
    }
    EXPECT_EQ(log.calls,
              (std::vector<std::string>{"begin /dev/ttyUSB0", "fault self-echo", "fault self-echo"}));
}

TEST_F(VisitRecorderTest, ReplayTurnsWritesOffAndNoVisitBeginsMeanwhile) {
    open();
    rec.portStatus(PortStatus::Idle, {}, {}); // the replay closes the port
    rec.setReplaying(true);
    rec.portStatus(PortStatus::Open, QStringLiteral("p"), {});
    rec.bankSnapshot(bank4);
    rec.setReplaying(false);
    rec.recordingStarted(servicelog::RecordingKind::Tester, QStringLiteral("/r/BatteryTester_1.txt"));
    EXPECT_EQ(log.calls,
              (std::vector<std::string>{"begin /dev/ttyUSB0", "end port closed", "writes off", "writes on"}));
    open();
    rec.recordingStarted(servicelog::RecordingKind::Sniffer, QStringLiteral("/r/DataMonitor_2.txt"));
    rec.recordingStarted(servicelog::RecordingKind::Sniffer, QString()); // no CSV beside it
    ASSERT_EQ(log.recordings.size(), 1U);
    EXPECT_EQ(log.recordings[0].path, "/r/DataMonitor_2.txt");
    EXPECT_EQ(log.recordings[0].kind, servicelog::RecordingKind::Sniffer);
}

TEST(VisitAdapterText, NamesTheChipTheUsbIdentityOrWhatThePortIs) {
    adapter::AdapterIdentity usb;
    usb.kind = adapter::PortKind::UsbAdapter;
    usb.driver = "ftdi_sio";
    usb.usb = adapter::UsbIdentity{0x0403, 0x6001, "FTDI", "FT232R USB UART", "A10K3", "1-1.2"};
    adapter::AdapterIdentity bare = usb;
    bare.driver = "usb-serial-x";
    bare.usb = adapter::UsbIdentity{0x1a86, 0x7523, "", "", "", "1-2"};
    adapter::AdapterIdentity pty;
    pty.kind = adapter::PortKind::PseudoTerminal;
    adapter::AdapterIdentity uart;
    uart.kind = adapter::PortKind::BuiltInUart;
    uart.driver = "serial8250";
    const struct {
        adapter::AdapterIdentity id;
        const char* text;
    } cases[] = {
        {usb, "FTDI, USB id 0403:6001, \"FTDI FT232R USB UART\", serial A10K3"},
        {bare, "usb-serial-x, USB id 1A86:7523"},
        {pty, "pseudo-terminal"},
        {uart, "serial port of the computer (driver serial8250)"},
        {adapter::AdapterIdentity{}, "unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app::adapterText(c.id).toStdString(), c.text);
    }
}

TEST(VisitFirmwareFile, IsTheUpdatersFileLine) {
    service::HexReadResult r;
    EXPECT_EQ(app::firmwareFileOf(r), "");
    r.log = {"", "header", "File:/home/t/fw v2.hex", "Version: v02.03"};
    EXPECT_EQ(app::firmwareFileOf(r), "/home/t/fw v2.hex");
}

} // namespace
} // namespace zanst::test
