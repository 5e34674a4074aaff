#pragma once
// What a visit leaves in the service log, as value types: filled from what the engine already
// emits (bank snapshots, bank values, ring health, metrics records) and from what the window
// knows (site, technician, files). Times are UTC; a null time is stamped when the record is
// written.

#include "bank/bank_snapshot.hpp"
#include "bank/bank_values.hpp"
#include "bus/health.hpp"
#include "metrics/record.hpp"
#include "service/calibration.hpp"
#include "tester/bank_computation.hpp"

#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace zanst::servicelog {

// A visit's id: a UUID in its text form without braces. It names the visit on every machine, so
// an import merges by it.
QString newVisitId();

// Which visit a write belongs to; the owner keeps the current one.
struct VisitStart {
    QString id;          // empty: a fresh UUID is made
    QDateTime startedAt; // null: now
    QString site;        // optional
    QString technician;  // optional
    QString adapter;     // the serial adapter as the system reports it (description, maker)
    QString port;        // the port's name as opened
    QString toolVersion; // the tool that recorded the visit
};

enum class EndReason { Closed, Quit, Lost, Unknown };

// The totals of the ring's health; per-balancer counts travel in the snapshot's readings.
struct RingHealth {
    std::uint64_t framesSent = 0;
    std::uint64_t framesReceived = 0;
    std::uint64_t validReceived = 0;
    std::uint64_t crcErrors = 0;
    std::uint64_t unansweredPolls = 0;
    int noAnswerAfter = -1;         // the ring answers only up to this balancer; -1: no break seen
    std::int64_t msSinceValid = -1; // -1: nothing valid seen yet

    friend bool operator==(const RingHealth&, const RingHealth&) = default;
};

RingHealth ringHealth(const bus::BusHealth& health);

enum class SnapshotKind { Start, End, Manual };

// One look at the bank: every balancer's reading (voltage, current, temperature, identity,
// calibration values, its own CRC and missed counts), the bank values, the ring's health.
struct SnapshotRecord {
    SnapshotKind kind = SnapshotKind::Manual;
    QDateTime takenAt;
    bank::BankSnapshot bank;
    bank::BankValues values;
    RingHealth health;
    int seq = 0; // given by the log when written (1, 2, ... within the visit)
};

// What a balancer holds of its calibration (the calibration entry).
struct CalibrationValues {
    std::uint16_t vGain = 0;
    std::uint16_t iGain = 0;
    std::uint16_t iOffset = 0;

    friend bool operator==(const CalibrationValues&, const CalibrationValues&) = default;
};

enum class Outcome { Succeeded, Failed, Unknown };

// A calibration step on one balancer, or a gain step on a whole battery (addressed by serial).
enum class CalibrationStep {
    Voltage,     // "calibrate voltage": input in mV
    CurrentGain, // "calibrate gain": input in 0.1 A
    CurrentOffset,
    Save,        // "save calibration"
    ZeroCurrent, // the "Gain" group, on a battery
    DefaultGain,
    IncreaseGain,
    DecreaseGain,
};

CalibrationStep calibrationStep(service::CalibrationKind kind);
CalibrationStep calibrationStep(service::GainOperation operation);

struct CalibrationRecord {
    QDateTime at;
    CalibrationStep step = CalibrationStep::Voltage;
    int balancer = 0; // the bus address; 0 for a battery-wide gain step
    QString serial;   // the balancer's (or the battery's) serial
    int input = 0;    // what was sent: mV for Voltage, 0.1 A for CurrentGain, else 0
    std::optional<CalibrationValues> before;
    std::optional<CalibrationValues> after; // as the next calibration poll returned them
    Outcome outcome = Outcome::Unknown;
};

// "set battery parameters": written to every balancer on the bus.
struct ParametersRecord {
    QDateTime at;
    QString serial;
    int capacity = 0; // Ah
    std::uint16_t productId = 0;
    std::vector<int> balancers;           // the balancers on the bus when it was sent
    std::vector<QString> previousSerials; // their serials before, one per battery
    Outcome outcome = Outcome::Unknown;   // Succeeded once the balancers report the new serial
};

struct FirmwareBalancerResult {
    int balancer = 0;
    QString serial;
    std::uint32_t fromVersion = 0;
    std::optional<std::uint32_t> toVersion; // as enumerated after the update; empty: not seen
    Outcome outcome = Outcome::Unknown;
};

// One firmware update of every balancer on the bus.
struct FirmwareRecord {
    QDateTime at;
    QString file;
    std::uint32_t imageVersion = 0;
    bool forced = false;
    QString detail; // "Updater Timeout" and the like
    std::vector<FirmwareBalancerResult> balancers;
};

// The per-balancer results of an update: the versions before and after it, success where the
// balancer came back with the image's version.
std::vector<FirmwareBalancerResult> firmwareResults(const bank::BankSnapshot& before,
                                                    const bank::BankSnapshot& after,
                                                    std::uint32_t imageVersion);

// One instance of "Get All Metrics": the file it was stored in and the whole record.
struct MetricsRecord {
    QDateTime at;
    QString file;
    QString serial; // the battery the instance belongs to (instance n: the n-th battery)
    metrics::MetricsMetadata metrics;
};

// The serial of the battery an instance number names, from a snapshot; empty when unknown.
QString batterySerialOfInstance(const bank::BankSnapshot& bank, int instance);

enum class RecordingKind { Tester, Sniffer };

struct RecordingRecord {
    QDateTime at;
    RecordingKind kind = RecordingKind::Tester;
    QString path; // the .txt recording, or the .csv beside it
};

enum class FaultKind { CrcErrors, LostConnection, SelfEcho, Other };

struct FaultRecord {
    QDateTime at;
    FaultKind kind = FaultKind::Other;
    std::uint64_t count = 0; // CRC errors: how many since the last fault of this kind
    int balancer = 0;        // 0: the bus as a whole
    QString detail;
};

// Any one action of a visit, in the order it happened.
enum class ActionKind { Calibration, Parameters, Firmware, Metrics, Recording, Fault };

struct ActionRecord {
    ActionKind kind = ActionKind::Fault;
    int seq = 0;
    QDateTime at;
    std::optional<CalibrationRecord> calibration;
    std::optional<ParametersRecord> parameters;
    std::optional<FirmwareRecord> firmware;
    std::optional<MetricsRecord> metrics;
    std::optional<RecordingRecord> recording;
    std::optional<FaultRecord> fault;
};

// A balancer found during the visit, as last enumerated.
struct BalancerRecord {
    int balancer = 0;
    int battery = 0; // 0-based, in id order
    QString serial;
    std::uint16_t productId = 0;
    std::uint16_t capacity = 0;
    std::uint32_t fwVersion = 0;
    std::uint32_t blVersion = 0;
    int hwRevision = 0;
    std::uint8_t infoFlags = 0;

    friend bool operator==(const BalancerRecord&, const BalancerRecord&) = default;
};

std::vector<BalancerRecord> balancersOf(const bank::BankSnapshot& bank);

// Everything the log holds of one visit.
struct VisitRecord {
    QString id;
    QDateTime startedAt;
    QDateTime endedAt; // null while the visit is open
    EndReason endReason = EndReason::Unknown;
    QString site;
    QString technician;
    QString adapter;
    QString port;
    QString toolVersion;
    QString notes;
    std::vector<BalancerRecord> balancers;
    std::vector<SnapshotRecord> snapshots; // in seq order
    std::vector<ActionRecord> actions;     // in seq order
};

// Texts used in the database and in the JSON files; never translated.
QString kindText(SnapshotKind kind);
QString kindText(ActionKind kind);
QString stepText(CalibrationStep step);
QString outcomeText(Outcome outcome);
QString faultText(FaultKind kind);
QString recordingText(RecordingKind kind);
QString endReasonText(EndReason reason);
std::optional<SnapshotKind> snapshotKindFrom(const QString& text);
std::optional<ActionKind> actionKindFrom(const QString& text);
std::optional<CalibrationStep> stepFrom(const QString& text);
std::optional<Outcome> outcomeFrom(const QString& text);
std::optional<FaultKind> faultFrom(const QString& text);
std::optional<RecordingKind> recordingFrom(const QString& text);
EndReason endReasonFrom(const QString& text);

// ISO 8601 in UTC with milliseconds ("2025-03-07T14:05:09.123Z"); sorts as text does.
QString timeText(const QDateTime& time);
QDateTime timeFrom(const QString& text);

} // namespace zanst::servicelog

Q_DECLARE_METATYPE(zanst::servicelog::VisitStart)
Q_DECLARE_METATYPE(zanst::servicelog::SnapshotRecord)
Q_DECLARE_METATYPE(zanst::servicelog::CalibrationRecord)
Q_DECLARE_METATYPE(zanst::servicelog::ParametersRecord)
Q_DECLARE_METATYPE(zanst::servicelog::FirmwareRecord)
Q_DECLARE_METATYPE(zanst::servicelog::MetricsRecord)
Q_DECLARE_METATYPE(zanst::servicelog::RecordingRecord)
Q_DECLARE_METATYPE(zanst::servicelog::FaultRecord)
