#include "servicelog/records.hpp"

#include <QUuid>

#include <array>
#include <utility>

namespace zanst::servicelog {

QString newVisitId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

RingHealth ringHealth(const bus::BusHealth& health) {
    RingHealth r;
    r.framesSent = health.framesSent;
    r.framesReceived = health.framesReceived;
    r.validReceived = health.validReceived;
    r.crcErrors = health.crcErrors;
    r.unansweredPolls = health.unansweredPolls;
    r.noAnswerAfter = health.noAnswerAfter;
    return r;
}

CalibrationStep calibrationStep(service::CalibrationKind kind) {
    switch (kind) {
    case service::CalibrationKind::Voltage:
        return CalibrationStep::Voltage;
    case service::CalibrationKind::CurrentGain:
        return CalibrationStep::CurrentGain;
    case service::CalibrationKind::CurrentOffset:
        return CalibrationStep::CurrentOffset;
    }
    return CalibrationStep::Voltage;
}

CalibrationStep calibrationStep(service::GainOperation operation) {
    switch (operation) {
    case service::GainOperation::ZeroCurrent:
        return CalibrationStep::ZeroCurrent;
    case service::GainOperation::DefaultGain:
        return CalibrationStep::DefaultGain;
    case service::GainOperation::IncreaseGain:
        return CalibrationStep::IncreaseGain;
    case service::GainOperation::DecreaseGain:
        return CalibrationStep::DecreaseGain;
    }
    return CalibrationStep::DefaultGain;
}

std::vector<FirmwareBalancerResult> firmwareResults(const bank::BankSnapshot& before,
                                                    const bank::BankSnapshot& after,
                                                    std::uint32_t imageVersion) {
    std::vector<FirmwareBalancerResult> results;
    results.reserve(before.balancers.size());
    for (std::size_t i = 0; i < before.balancers.size(); ++i) {
        const bank::BalancerReading& b = before.balancers[i];
        FirmwareBalancerResult r;
        r.balancer = static_cast<int>(i) + 1;
        r.serial = QString::fromStdString(b.serial);
        r.fromVersion = b.fwVersion;
        // A balancer is matched by its place and serial: one that left the ring, or another one
        // in its place, has no version after the update.
        if (i < after.balancers.size() && after.balancers[i].id != 0 &&
            after.balancers[i].serial == b.serial) {
            r.toVersion = after.balancers[i].fwVersion;
            r.outcome = *r.toVersion == imageVersion ? Outcome::Succeeded : Outcome::Failed;
        } else {
            r.outcome = Outcome::Failed;
        }
        results.push_back(r);
    }
    return results;
}

QString batterySerialOfInstance(const bank::BankSnapshot& bank, int instance) {
    for (const bank::BalancerReading& b : bank.balancers) {
        if (b.battery == instance - 1) {
            return QString::fromStdString(b.serial);
        }
    }
    return {};
}

std::vector<BalancerRecord> balancersOf(const bank::BankSnapshot& bank) {
    std::vector<BalancerRecord> list;
    list.reserve(bank.balancers.size());
    for (std::size_t i = 0; i < bank.balancers.size(); ++i) {
        const bank::BalancerReading& b = bank.balancers[i];
        if (b.id == 0) {
            continue; // no info arrived for it
        }
        BalancerRecord r;
        r.balancer = static_cast<int>(i) + 1;
        r.battery = b.battery;
        r.serial = QString::fromStdString(b.serial);
        r.productId = b.productId;
        r.capacity = b.capacity;
        r.fwVersion = b.fwVersion;
        r.blVersion = b.blVersion;
        r.hwRevision = b.hwRevision;
        r.infoFlags = b.infoFlags;
        list.push_back(r);
    }
    return list;
}

namespace {

template <typename E, std::size_t N>
QString textOf(const std::array<std::pair<E, const char*>, N>& table, E value) {
    for (const auto& [e, text] : table) {
        if (e == value) {
            return QString::fromLatin1(text);
        }
    }
    return {};
}

template <typename E, std::size_t N>
std::optional<E> valueOf(const std::array<std::pair<E, const char*>, N>& table, const QString& text) {
    for (const auto& [e, t] : table) {
        if (text == QLatin1String(t)) {
            return e;
        }
    }
    return std::nullopt;
}

constexpr std::array<std::pair<SnapshotKind, const char*>, 3> kSnapshotKinds{{
    {SnapshotKind::Start, "start"},
    {SnapshotKind::End, "end"},
    {SnapshotKind::Manual, "manual"},
}};

constexpr std::array<std::pair<ActionKind, const char*>, 6> kActionKinds{{
    {ActionKind::Calibration, "calibration"},
    {ActionKind::Parameters, "parameters"},
    {ActionKind::Firmware, "firmware"},
    {ActionKind::Metrics, "metrics"},
    {ActionKind::Recording, "recording"},
    {ActionKind::Fault, "fault"},
}};

constexpr std::array<std::pair<CalibrationStep, const char*>, 8> kSteps{{
    {CalibrationStep::Voltage, "voltage"},
    {CalibrationStep::CurrentGain, "current gain"},
    {CalibrationStep::CurrentOffset, "current offset"},
    {CalibrationStep::Save, "save"},
    {CalibrationStep::ZeroCurrent, "zero current"},
    {CalibrationStep::DefaultGain, "default gain"},
    {CalibrationStep::IncreaseGain, "increase gain"},
    {CalibrationStep::DecreaseGain, "decrease gain"},
}};

constexpr std::array<std::pair<Outcome, const char*>, 3> kOutcomes{{
    {Outcome::Succeeded, "succeeded"},
    {Outcome::Failed, "failed"},
    {Outcome::Unknown, "unknown"},
}};

constexpr std::array<std::pair<FaultKind, const char*>, 4> kFaults{{
    {FaultKind::CrcErrors, "crc errors"},
    {FaultKind::LostConnection, "lost connection"},
    {FaultKind::SelfEcho, "self-echo"},
    {FaultKind::Other, "other"},
}};

constexpr std::array<std::pair<RecordingKind, const char*>, 2> kRecordings{{
    {RecordingKind::Tester, "battery tester"},
    {RecordingKind::Sniffer, "data sniffer"},
}};

constexpr std::array<std::pair<EndReason, const char*>, 4> kEndReasons{{
    {EndReason::Closed, "port closed"},
    {EndReason::Quit, "tool quit"},
    {EndReason::Lost, "connection lost"},
    {EndReason::Unknown, ""},
}};

} // namespace

QString kindText(SnapshotKind kind) {
    return textOf(kSnapshotKinds, kind);
}
QString kindText(ActionKind kind) {
    return textOf(kActionKinds, kind);
}
QString stepText(CalibrationStep step) {
    return textOf(kSteps, step);
}
QString outcomeText(Outcome outcome) {
    return textOf(kOutcomes, outcome);
}
QString faultText(FaultKind kind) {
    return textOf(kFaults, kind);
}
QString recordingText(RecordingKind kind) {
    return textOf(kRecordings, kind);
}
QString endReasonText(EndReason reason) {
    return textOf(kEndReasons, reason);
}
std::optional<SnapshotKind> snapshotKindFrom(const QString& text) {
    return valueOf(kSnapshotKinds, text);
}
std::optional<ActionKind> actionKindFrom(const QString& text) {
    return valueOf(kActionKinds, text);
}
std::optional<CalibrationStep> stepFrom(const QString& text) {
    return valueOf(kSteps, text);
}
std::optional<Outcome> outcomeFrom(const QString& text) {
    return valueOf(kOutcomes, text);
}
std::optional<FaultKind> faultFrom(const QString& text) {
    return valueOf(kFaults, text);
}
std::optional<RecordingKind> recordingFrom(const QString& text) {
    return valueOf(kRecordings, text);
}
EndReason endReasonFrom(const QString& text) {
    return valueOf(kEndReasons, text).value_or(EndReason::Unknown);
}

QString timeText(const QDateTime& time) {
    if (!time.isValid()) {
        return {};
    }
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime timeFrom(const QString& text) {
    if (text.isEmpty()) {
        return {};
    }
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid()) {
        t = QDateTime::fromString(text, Qt::ISODate);
    }
    return t.toUTC();
}

} // namespace zanst::servicelog
