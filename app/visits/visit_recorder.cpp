#include "visits/visit_recorder.hpp"

#include "adapter/identity.hpp"

#include <QElapsedTimer>

#include <algorithm>
#include <memory>

namespace zanst::app {

namespace {

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

QDateTime wallNow() {
    return QDateTime::currentDateTimeUtc();
}

bool hasBalancers(const bank::BankSnapshot& s) {
    return std::any_of(s.balancers.begin(), s.balancers.end(), [](const auto& b) { return b.id != 0; });
}

// Every balancer has sent its info and a measurement.
bool wholeBank(const bank::BankSnapshot& s) {
    return !s.balancers.empty() && std::all_of(s.balancers.begin(), s.balancers.end(), [](const auto& b) {
        return b.id != 0 && b.millivolts.has_value();
    });
}

// The first `count` balancers answer again, none of them in its boot loader.
bool backFromBootLoaders(const bank::BankSnapshot& s, std::size_t count) {
    return count > 0 && s.balancers.size() >= count &&
           std::all_of(s.balancers.begin(), s.balancers.begin() + static_cast<long>(count),
                       [](const auto& b) { return b.id != 0 && b.bootMode == 0; });
}

// Balancer `number` (1-based) of the bank, where its info arrived.
const bank::BalancerReading* balancerOf(const std::optional<bank::BankSnapshot>& bank, int number) {
    if (!bank || number < 1 || number > static_cast<int>(bank->balancers.size())) {
        return nullptr;
    }
    const bank::BalancerReading& b = bank->balancers[static_cast<std::size_t>(number - 1)];
    return b.id != 0 ? &b : nullptr;
}

const bank::BalancerReading* balancerOf(const bank::BankSnapshot& bank, int number) {
    if (number < 1 || number > static_cast<int>(bank.balancers.size())) {
        return nullptr;
    }
    const bank::BalancerReading& b = bank.balancers[static_cast<std::size_t>(number - 1)];
    return b.id != 0 ? &b : nullptr;
}

servicelog::CalibrationValues calibrationOf(const bank::BalancerReading& b) {
    return {b.vGain, b.iGain, b.iOffset};
}

QString hex4(unsigned value) {
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

constexpr char kUpdatedLine[] = "Firmware updated to ";
constexpr char kTimeoutLine[] = "Updater Timeout";
constexpr char kFileLine[] = "File:";

} // namespace

servicelog::RingHealth ringHealthOf(const HealthReport& report) {
    servicelog::RingHealth h;
    h.framesSent = report.framesSent;
    h.framesReceived = report.framesReceived;
    h.validReceived = report.validReceived;
    h.crcErrors = report.crcErrors;
    h.unansweredPolls = report.unansweredPolls;
    h.noAnswerAfter = report.noAnswerAfter;
    h.msSinceValid = report.msSinceValid;
    return h;
}

QString adapterText(const adapter::AdapterIdentity& id) {
    switch (id.kind) {
    case adapter::PortKind::PseudoTerminal:
        return QStringLiteral("pseudo-terminal");
    case adapter::PortKind::BuiltInUart:
        return QStringLiteral("serial port of the computer (driver %1)").arg(fromStd(id.driver));
    case adapter::PortKind::NotSerial:
        return QStringLiteral("unknown");
    case adapter::PortKind::UsbAdapter:
        break;
    }
    QString text = fromStd(id.chipName()); // the driver's name where the chip is not one it knows
    if (id.usb) {
        text += QStringLiteral(", USB id %1:%2").arg(hex4(id.usb->vendorId), hex4(id.usb->productId));
        const QString strings = QStringList{fromStd(id.usb->manufacturer), fromStd(id.usb->product)}
                                    .join(QLatin1Char(' '))
                                    .trimmed();
        if (!strings.isEmpty()) {
            text += QStringLiteral(", \"%1\"").arg(strings);
        }
        if (!id.usb->serial.empty()) {
            text += QStringLiteral(", serial %1").arg(fromStd(id.usb->serial));
        }
    }
    return text;
}

QString describeAdapter(const QString& portName) {
    // The port list shows "ttyUSB0" for the system's ports and whole paths for the extra ones.
    const QString path =
        portName.startsWith(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
    return adapterText(adapter::identify(path.toStdString(), adapter::sysfsRoot()));
}

QString firmwareFileOf(const service::HexReadResult& result) {
    for (const std::string& line : result.log) {
        if (line.starts_with(kFileLine)) {
            return fromStd(line.substr(sizeof kFileLine - 1));
        }
    }
    return {};
}

VisitRecorder::VisitRecorder(VisitLog& log, QObject* parent)
    : QObject(parent), log_(log), describe_(&describeAdapter) {
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    nowMs_ = [clock] { return clock->elapsed(); };
}

void VisitRecorder::counted() {
    ++actions_;
    emit visitChanged();
}

void VisitRecorder::setDetails(const QString& site, const QString& technician) {
    if (site == site_ && technician == technician_) {
        return;
    }
    site_ = site;
    technician_ = technician;
    if (open_) {
        log_.setVisitDetails(site_, technician_);
    }
}

void VisitRecorder::setNotes(const QString& notes) {
    if (notes == notes_) {
        return;
    }
    notes_ = notes;
    if (open_) {
        log_.setVisitNotes(notes_);
    }
}

void VisitRecorder::setReplaying(bool replaying) {
    if (replaying == replaying_) {
        return;
    }
    replaying_ = replaying;
    log_.setWritesEnabled(!replaying);
}

void VisitRecorder::portStatus(PortStatus status, const QString& name, const QString& detail) {
    switch (status) {
    case PortStatus::Opening:
        // Opening another port (or the same one again) closes the one in use first.
        if (open_) {
            finish(servicelog::EndReason::Closed);
        }
        break;
    case PortStatus::Open:
        if (open_) {
            finish(servicelog::EndReason::Closed);
        }
        if (!replaying_) {
            begin(name);
        }
        break;
    case PortStatus::Idle:
        if (open_) {
            finish(servicelog::EndReason::Closed);
        }
        break;
    case PortStatus::Lost:
        if (open_) {
            servicelog::FaultRecord fault;
            fault.at = wallNow();
            fault.kind = servicelog::FaultKind::LostConnection;
            fault.detail = detail.isEmpty() ? QStringLiteral("The port %1 went away").arg(name)
                                            : QStringLiteral("The port %1 went away: %2").arg(name, detail);
            log_.recordFault(fault);
            ++actions_;
            finish(servicelog::EndReason::Lost);
        }
        break;
    case PortStatus::Failed:
        break;
    }
}

void VisitRecorder::begin(const QString& port) {
    open_ = true;
    startedAt_ = wallNow();
    port_ = port;
    startTaken_ = false;
    snapshotsWithBalancers_ = 0;
    snapshots_ = 0;
    actions_ = 0;
    lastBank_.reset();
    lastBankAt_ = {};
    lastWhole_.reset();
    lastWholeAt_ = {};
    calibrations_.clear();
    parameters_.reset();
    update_.reset();
    selfEchoSeen_ = false;
    // Only the CRC errors of the visit count, not those the mode counted before the port opened.
    crcMode_ = health_.mode;
    crcCounted_ = health_.crcErrors;
    crcPending_ = 0;
    crcWrittenAt_.reset();

    servicelog::VisitStart start;
    start.startedAt = startedAt_;
    start.site = site_;
    start.technician = technician_;
    start.adapter = describe_ ? describe_(port) : QString();
    start.port = port;
    start.toolVersion = toolVersion_;
    log_.beginVisit(start);
    if (!notes_.isEmpty()) {
        log_.setVisitNotes(notes_); // typed before the port was opened
    }
    emit visitChanged();
}

void VisitRecorder::finish(servicelog::EndReason reason) {
    // What is still waiting for a later poll is written with what is known now.
    for (PendingCalibration& pending : calibrations_) {
        writeCalibration(pending);
    }
    calibrations_.clear();
    if (parameters_) {
        log_.recordParameters(parameters_->record);
        ++actions_;
        parameters_.reset();
    }
    if (update_) {
        writeUpdate(lastBank_.value_or(bank::BankSnapshot{}),
                    update_->endedAt ? update_->record.detail
                                     : QStringLiteral("The visit ended before the update did"));
    }
    flushCrcErrors(true);
    if (lastBank_) {
        endSnapshot();
    }
    log_.endVisit(reason);
    open_ = false;
    notes_.clear();
    lastBank_.reset();
    lastWhole_.reset();
    emit visitChanged();
}

void VisitRecorder::quit() {
    if (open_) {
        finish(servicelog::EndReason::Quit);
    }
}

void VisitRecorder::snapshot(servicelog::SnapshotKind kind) {
    servicelog::SnapshotRecord record;
    record.kind = kind;
    record.takenAt = lastBankAt_.isValid() ? lastBankAt_ : wallNow();
    record.bank = *lastBank_;
    record.values = values_;
    record.health = ringHealthOf(health_);
    log_.takeSnapshot(record);
    ++snapshots_;
}

void VisitRecorder::endSnapshot() {
    const bool sameBatteries =
        lastWhole_ && lastWhole_->balancers.size() == lastBank_->balancers.size() &&
        std::equal(lastWhole_->balancers.begin(), lastWhole_->balancers.end(), lastBank_->balancers.begin(),
                   [](const auto& a, const auto& b) { return a.serial == b.serial; });
    if (wholeBank(*lastBank_) || !sameBatteries) {
        snapshot(servicelog::SnapshotKind::End);
        return;
    }
    // The cells' figures of the last whole look, and the balancers as they were enumerated since.
    servicelog::SnapshotRecord record;
    record.kind = servicelog::SnapshotKind::End;
    record.takenAt = lastWholeAt_;
    record.bank = *lastWhole_;
    record.values = lastWholeValues_;
    record.health = ringHealthOf(health_);
    log_.takeSnapshot(record);
    log_.recordBalancers(servicelog::balancersOf(*lastBank_));
    ++snapshots_;
}

bool VisitRecorder::takeSnapshot() {
    if (!canTakeSnapshot()) {
        return false;
    }
    snapshot(servicelog::SnapshotKind::Manual);
    emit visitChanged();
    return true;
}

void VisitRecorder::bankValues(const bank::BankValues& values) {
    values_ = values;
}

void VisitRecorder::bankSnapshot(const bank::BankSnapshot& s) {
    if (!open_) {
        return;
    }
    settleParameters(&s);
    settleUpdate(&s);
    if (!hasBalancers(s)) {
        return; // the bus fell silent, or the boot loaders were started: keep the last bank
    }
    lastBank_ = s;
    lastBankAt_ = wallNow();
    if (wholeBank(s)) {
        lastWhole_ = s;
        lastWholeAt_ = lastBankAt_;
        lastWholeValues_ = values_;
    }
    if (!startTaken_) {
        ++snapshotsWithBalancers_;
        if (wholeBank(s) || snapshotsWithBalancers_ >= kStartSnapshotPatience) {
            startTaken_ = true;
            snapshot(servicelog::SnapshotKind::Start);
        }
        emit visitChanged();
    }
}

void VisitRecorder::health(const HealthReport& report) {
    health_ = report;
    if (!open_) {
        return;
    }
    // Each mode counts from its start.
    if (report.mode != crcMode_ || report.crcErrors < crcCounted_) {
        crcMode_ = report.mode;
        crcCounted_ = 0;
    }
    crcPending_ += report.crcErrors - crcCounted_;
    crcCounted_ = report.crcErrors;
    flushCrcErrors(false);
    // Time-outs run on the health reports too, which come whatever the mode.
    settleCalibrations(nullptr);
    settleParameters(nullptr);
    settleUpdate(nullptr);
}

void VisitRecorder::flushCrcErrors(bool force) {
    if (crcPending_ == 0 || (!force && crcWrittenAt_ && now() - *crcWrittenAt_ < kCrcFaultPeriodMs)) {
        return;
    }
    servicelog::FaultRecord fault;
    fault.at = wallNow();
    fault.kind = servicelog::FaultKind::CrcErrors;
    fault.count = crcPending_;
    fault.detail = QStringLiteral("%1 frames or records failed their CRC-8").arg(crcPending_);
    log_.recordFault(fault);
    crcPending_ = 0;
    crcWrittenAt_ = now();
    counted();
}

void VisitRecorder::responderReport(const emulator::ResponderReport& report) {
    if (!open_ || !report.ownAnswersReturning) {
        return;
    }
    if (!*report.ownAnswersReturning) {
        selfEchoSeen_ = false; // a real BMS answered again; a later echo is a fault of its own
        return;
    }
    if (selfEchoSeen_) {
        return;
    }
    selfEchoSeen_ = true;
    servicelog::FaultRecord fault;
    fault.at = wallNow();
    fault.kind = servicelog::FaultKind::SelfEcho;
    fault.detail = QStringLiteral("The bus returns the tool's own answers: it is wired into a ring, "
                                  "not to a BMS");
    log_.recordFault(fault);
    counted();
}

// Calibration

void VisitRecorder::calibrationRequested(int row, service::CalibrationKind kind, quint16 value) {
    if (!open_ || !service::balancerAddress(row)) {
        return;
    }
    PendingCalibration p;
    p.record.at = wallNow();
    p.record.step = servicelog::calibrationStep(kind);
    p.record.balancer = row + 1;
    p.record.input = kind == service::CalibrationKind::CurrentOffset ? 0 : value;
    p.watched = row + 1;
    if (const bank::BalancerReading* b = balancerOf(lastBank_, p.watched)) {
        p.record.serial = fromStd(b->serial);
        p.record.before = calibrationOf(*b);
    }
    p.since = now();
    calibrations_.push_back(p);
}

void VisitRecorder::saveCalibrationRequested(int row) {
    if (!open_ || !service::balancerAddress(row)) {
        return;
    }
    PendingCalibration p;
    p.record.at = wallNow();
    p.record.step = servicelog::CalibrationStep::Save;
    p.record.balancer = row + 1;
    p.watched = row + 1;
    if (const bank::BalancerReading* b = balancerOf(lastBank_, p.watched)) {
        p.record.serial = fromStd(b->serial);
        p.record.before = calibrationOf(*b);
    }
    p.since = now();
    calibrations_.push_back(p);
}

void VisitRecorder::gainRequested(int row, service::GainOperation operation) {
    const bank::BalancerReading* target = open_ ? balancerOf(lastBank_, row + 1) : nullptr;
    if (target == nullptr) {
        return; // the buttons send nothing without a balancer in that row
    }
    PendingCalibration p;
    p.record.at = wallNow();
    p.record.step = servicelog::calibrationStep(operation);
    p.record.balancer = 0; // the battery, by its serial
    p.record.serial = fromStd(target->serial);
    // The battery's current is measured by one of its balancers: its values tell the outcome.
    p.watched = row + 1;
    for (std::size_t i = 0; i < lastBank_->balancers.size(); ++i) {
        const bank::BalancerReading& b = lastBank_->balancers[i];
        if (b.id != 0 && b.battery == target->battery && b.measuresCurrent()) {
            p.watched = static_cast<int>(i) + 1;
            break;
        }
    }
    if (const bank::BalancerReading* b = balancerOf(lastBank_, p.watched)) {
        p.record.before = calibrationOf(*b);
    }
    p.since = now();
    calibrations_.push_back(p);
}

void VisitRecorder::tick(const tester::TickReport& report) {
    if (open_) {
        settleCalibrations(&report);
    }
}

void VisitRecorder::settleCalibrations(const tester::TickReport* report) {
    for (auto it = calibrations_.begin(); it != calibrations_.end();) {
        PendingCalibration& p = *it;
        bool done = false;
        if (report != nullptr && report->polled && p.calibrationPolls >= kCalibrationPolls) {
            // This tick's snapshot holds the answer to a calibration poll sent after the request.
            if (const bank::BalancerReading* b = balancerOf(report->snapshot, p.watched)) {
                p.record.after = calibrationOf(*b);
            }
            done = true;
        } else if (report != nullptr && report->sent == tester::PollRequest::CalibrationData) {
            ++p.calibrationPolls;
        }
        if (done || now() - p.since > kCalibrationWaitMs) {
            writeCalibration(p);
            it = calibrations_.erase(it);
        } else {
            ++it;
        }
    }
}

void VisitRecorder::writeCalibration(PendingCalibration& p) {
    servicelog::CalibrationRecord& r = p.record;
    // A changed value shows the step took effect; an unchanged one (or a save) cannot tell.
    r.outcome = r.before && r.after && *r.before != *r.after ? servicelog::Outcome::Succeeded
                                                             : servicelog::Outcome::Unknown;
    log_.recordCalibration(r);
    counted();
}

// Battery parameters

void VisitRecorder::parametersRequested(const service::BatteryParameters& parameters) {
    if (!open_) {
        return;
    }
    if (parameters_) {
        log_.recordParameters(parameters_->record); // overtaken before the balancers answered
        counted();
    }
    PendingParameters p;
    p.record.at = wallNow();
    p.record.serial = fromStd(parameters.serial);
    p.record.capacity = parameters.capacity;
    p.record.productId = parameters.productId;
    if (lastBank_) {
        int battery = -1;
        for (std::size_t i = 0; i < lastBank_->balancers.size(); ++i) {
            const bank::BalancerReading& b = lastBank_->balancers[i];
            if (b.id == 0) {
                continue;
            }
            p.record.balancers.push_back(static_cast<int>(i) + 1);
            if (b.battery != battery) {
                battery = b.battery;
                p.record.previousSerials.push_back(fromStd(b.serial));
            }
        }
    }
    p.since = now();
    parameters_ = p;
}

void VisitRecorder::settleParameters(const bank::BankSnapshot* s) {
    if (!parameters_) {
        return;
    }
    servicelog::ParametersRecord& r = parameters_->record;
    if (s != nullptr && wholeBank(*s) &&
        std::all_of(s->balancers.begin(), s->balancers.end(),
                    [&r](const auto& b) { return fromStd(b.serial) == r.serial; })) {
        r.outcome = servicelog::Outcome::Succeeded;
    } else if (now() - parameters_->since > kParametersWaitMs) {
        r.outcome = servicelog::Outcome::Failed;
    } else {
        return;
    }
    log_.recordParameters(r);
    parameters_.reset();
    counted();
}

// Firmware

void VisitRecorder::firmwareRead(const service::HexReadResult& result, bool forced) {
    if (!open_ || !result.image) {
        return; // an invalid file starts nothing; the updater's log says why
    }
    if (update_) {
        writeUpdate(lastBank_.value_or(bank::BankSnapshot{}),
                    QStringLiteral("Another image was dropped before this update ended"));
    }
    PendingUpdate u;
    u.record.at = wallNow();
    u.record.file = firmwareFileOf(result);
    u.record.imageVersion = result.image->version();
    u.record.forced = forced;
    u.before = lastBank_.value_or(bank::BankSnapshot{});
    update_ = u;
}

void VisitRecorder::updaterReport(const service::UpdaterReport& report) {
    if (!open_ || !update_ || update_->endedAt) {
        return;
    }
    for (const service::UpdaterLogLine& line : report.log) {
        if (line.text.starts_with(kUpdatedLine) || line.text == kTimeoutLine) {
            update_->endedAt = now();
            update_->record.detail =
                line.text == kTimeoutLine ? QString::fromLatin1(kTimeoutLine) : QString();
            break;
        }
    }
    if (update_->endedAt && update_->before.balancers.empty()) {
        writeUpdate({}, update_->record.detail); // nothing to wait for
    }
}

void VisitRecorder::settleUpdate(const bank::BankSnapshot* s) {
    if (!update_ || !update_->endedAt) {
        return;
    }
    if (s != nullptr && backFromBootLoaders(*s, update_->before.balancers.size())) {
        writeUpdate(*s, update_->record.detail);
    } else if (now() - *update_->endedAt > kReEnumerationWaitMs) {
        const QString late =
            QStringLiteral("Not every balancer came back within %1 s").arg(kReEnumerationWaitMs / 1000);
        writeUpdate(lastBank_.value_or(bank::BankSnapshot{}),
                    update_->record.detail.isEmpty() ? late
                                                     : update_->record.detail + QStringLiteral("; ") + late);
    }
}

void VisitRecorder::writeUpdate(const bank::BankSnapshot& after, const QString& detail) {
    servicelog::FirmwareRecord r = update_->record;
    r.detail = detail;
    r.balancers = servicelog::firmwareResults(update_->before, after, r.imageVersion);
    update_.reset();
    log_.recordFirmware(r);
    counted();
}

// Metrics, recordings

void VisitRecorder::metricsFetched(const metrics::FetchReport& report, const QString& file) {
    if (!open_) {
        return;
    }
    for (const metrics::MetricsMetadata& m : report.recordsReceived) {
        servicelog::MetricsRecord r;
        r.at = wallNow();
        r.file = file;
        r.serial = lastBank_ ? servicelog::batterySerialOfInstance(*lastBank_, m.instanceNumber) : QString();
        r.metrics = m;
        log_.recordMetrics(r);
        counted();
    }
}

void VisitRecorder::recordingStarted(servicelog::RecordingKind kind, const QString& path) {
    if (!open_ || path.isEmpty()) {
        return;
    }
    servicelog::RecordingRecord r;
    r.at = wallNow();
    r.kind = kind;
    r.path = path;
    log_.recordRecording(r);
    counted();
}

} // namespace zanst::app
