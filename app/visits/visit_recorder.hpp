#pragma once
// Turns what the engine and the window report into the records of a service visit. A visit
// begins when a port opens and ends when it is closed, lost, or the tool quits; in between the
// recorder takes the start snapshot once the balancers are found, the end snapshot from the last
// bank seen (the last one measured whole, where the bank seen since is the same batteries only
// enumerated again, as after an update left on a page that does not poll), and every action with
// its outcome, which for some actions only a later poll tells:
//   - a calibration step: the balancer's calibration values after the second calibration poll
//     sent after the request (the first may already have been on its way);
//   - battery parameters: succeeded once every balancer reports the new serial;
//   - a firmware update: the versions once the balancers are enumerated again out of their boot
//     loaders, compared with the image's.
// It runs on the window's thread and hands each record to a VisitLog, which never runs here.
// Time-outs are measured with a clock of its own, looked at whenever a report comes in.

#include "engine/health_report.hpp"
#include "engine/metatypes.hpp"
#include "service/battery_parameters.hpp"
#include "service/calibration.hpp"
#include "service/hex_image.hpp"
#include "servicelog/records.hpp"
#include "visits/visit_log.hpp"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace zanst::adapter {
struct AdapterIdentity;
} // namespace zanst::adapter

namespace zanst::app {

// The ring's totals as the status bar last showed them.
servicelog::RingHealth ringHealthOf(const HealthReport& report);

// The adapter behind a port in a technician's words, for the visit: "FTDI, USB id 0403:6001,
// "FTDI FT232R USB UART", serial A10K3"; a pseudo-terminal or a built-in port says so.
QString adapterText(const adapter::AdapterIdentity& identity);
// The same for a port name as the port list shows it ("ttyUSB0" or a path), read from sysfs.
QString describeAdapter(const QString& portName);

// The file of a firmware image as the updater's log names it ("File:<path>"); empty without one.
QString firmwareFileOf(const service::HexReadResult& result);

class VisitRecorder : public QObject {
    Q_OBJECT
  public:
    // The start snapshot waits for every balancer's info and measurement, but no longer than
    // this many snapshots with balancers in them.
    static constexpr int kStartSnapshotPatience = 5;
    static constexpr int kCalibrationPolls = 2;
    static constexpr qint64 kCalibrationWaitMs = 15000;
    static constexpr qint64 kParametersWaitMs = 20000;
    // After the update ended, how long the balancers have to come back out of their boot loaders.
    static constexpr qint64 kReEnumerationWaitMs = 60000;
    // CRC errors are written at most once in this time, with their count since the last write.
    static constexpr qint64 kCrcFaultPeriodMs = 60000;

    explicit VisitRecorder(VisitLog& log, QObject* parent = nullptr);

    // The monotonic clock (ms) of the time-outs; tests set their own.
    void setClock(std::function<qint64()> nowMs) { nowMs_ = std::move(nowMs); }
    // How a port's adapter is described at the start of a visit; tests set their own.
    void setAdapterDescriber(std::function<QString(const QString&)> describe) {
        describe_ = std::move(describe);
    }
    void setToolVersion(const QString& version) { toolVersion_ = version; }

    // What the technician typed; the details and notes of the open visit follow them.
    void setDetails(const QString& site, const QString& technician);
    void setNotes(const QString& notes);

    // What the engine reports, on the window's thread.
    void portStatus(zanst::app::PortStatus status, const QString& name, const QString& detail);
    void setReplaying(bool replaying);
    void bankSnapshot(const zanst::bank::BankSnapshot& snapshot);
    void bankValues(const zanst::bank::BankValues& values);
    void tick(const zanst::tester::TickReport& report);
    void health(const zanst::app::HealthReport& report);
    void updaterReport(const zanst::service::UpdaterReport& report);
    // `file`: where the window stored the fetch's records.
    void metricsFetched(const zanst::metrics::FetchReport& report, const QString& file);
    void responderReport(const zanst::emulator::ResponderReport& report);

    // What the technician asked the bus for; `row` is the table row (balancer row + 1).
    void calibrationRequested(int row, zanst::service::CalibrationKind kind, quint16 value);
    void saveCalibrationRequested(int row);
    void gainRequested(int row, zanst::service::GainOperation operation);
    void parametersRequested(const zanst::service::BatteryParameters& parameters);
    void firmwareRead(const zanst::service::HexReadResult& result, bool forced);
    void recordingStarted(zanst::servicelog::RecordingKind kind, const QString& path);

    // "Take snapshot": false without an open visit or a bank seen in it.
    bool takeSnapshot();
    // The tool quits: what is pending is written, then the end snapshot and the end.
    void quit();

    bool visitOpen() const { return open_; }
    bool canTakeSnapshot() const { return open_ && lastBank_.has_value(); }
    const QDateTime& visitStartedAt() const { return startedAt_; }
    const QString& visitPort() const { return port_; }
    int snapshotsTaken() const { return snapshots_; }
    int actionsRecorded() const { return actions_; }

  signals:
    // A visit began or ended, a snapshot or an action was handed to the log.
    void visitChanged();

  private:
    struct PendingCalibration {
        servicelog::CalibrationRecord record;
        int watched = 0; // the balancer whose values tell the outcome
        qint64 since = 0;
        int calibrationPolls = 0;
    };
    struct PendingParameters {
        servicelog::ParametersRecord record;
        qint64 since = 0;
    };
    struct PendingUpdate {
        servicelog::FirmwareRecord record;
        bank::BankSnapshot before;
        std::optional<qint64> endedAt; // the updater said it is done (or gave up)
    };

    qint64 now() const { return nowMs_(); }
    void begin(const QString& port);
    void finish(servicelog::EndReason reason);
    void snapshot(servicelog::SnapshotKind kind);
    void endSnapshot();
    void settleCalibrations(const tester::TickReport* report);
    void settleParameters(const bank::BankSnapshot* snapshot);
    void settleUpdate(const bank::BankSnapshot* snapshot);
    void writeCalibration(PendingCalibration& pending);
    void writeUpdate(const bank::BankSnapshot& after, const QString& detail);
    void flushCrcErrors(bool force);
    void counted();

    VisitLog& log_;
    std::function<qint64()> nowMs_;
    std::function<QString(const QString&)> describe_;
    QString toolVersion_;
    QString site_;
    QString technician_;
    QString notes_;
    bool replaying_ = false;

    // The open visit.
    bool open_ = false;
    QDateTime startedAt_;
    QString port_;
    bool startTaken_ = false;
    int snapshotsWithBalancers_ = 0;
    int snapshots_ = 0;
    int actions_ = 0;
    std::optional<bank::BankSnapshot> lastBank_; // the last one with balancers in this visit
    QDateTime lastBankAt_;
    std::optional<bank::BankSnapshot> lastWhole_; // the last one with every balancer measured
    QDateTime lastWholeAt_;
    bank::BankValues lastWholeValues_;
    bank::BankValues values_;
    HealthReport health_;
    std::vector<PendingCalibration> calibrations_;
    std::optional<PendingParameters> parameters_;
    std::optional<PendingUpdate> update_;
    bool selfEchoSeen_ = false;
    bus::Mode crcMode_ = bus::Mode::Connection;
    std::uint64_t crcCounted_ = 0; // of the mode's count, already taken
    std::uint64_t crcPending_ = 0;
    std::optional<qint64> crcWrittenAt_;
};

} // namespace zanst::app
