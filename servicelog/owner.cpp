#include "servicelog/owner.hpp"

namespace zanst::servicelog {

ServiceLogOwner::ServiceLogOwner(QObject* parent) : QObject(parent) {
    qRegisterMetaType<LogState>();
}

ServiceLogOwner::~ServiceLogOwner() {
    if (log_.isOpen() && !visit_.isEmpty() && writesEnabled_) {
        log_.endVisit(visit_, {}, EndReason::Quit);
    }
    log_.close();
}

void ServiceLogOwner::setState(LogState state, const QString& message) {
    state_ = state;
    emit statusChanged(state, message);
}

void ServiceLogOwner::open(const Location& location) {
    dropped_ = 0;
    if (!log_.open(location)) {
        setState(LogState::Unavailable,
                 log_.lastError().message + QStringLiteral("; the tool goes on without the service log"));
        return;
    }
    const QString name = location.displayName();
    setState(writesEnabled_ ? LogState::Ready : LogState::Paused,
             writesEnabled_ ? QStringLiteral("Service log: %1").arg(name)
                            : QStringLiteral("Service log paused while a capture is replayed"));
}

void ServiceLogOwner::close() {
    endVisit(EndReason::Quit);
    log_.close();
    visit_.clear();
    setState(LogState::Closed, QStringLiteral("Service log closed"));
}

void ServiceLogOwner::setWritesEnabled(bool enabled) {
    if (enabled == writesEnabled_) {
        return;
    }
    writesEnabled_ = enabled;
    if (state_ == LogState::Ready && !enabled) {
        setState(LogState::Paused, QStringLiteral("Service log paused while a capture is replayed"));
    } else if (state_ == LogState::Paused && enabled) {
        setState(LogState::Ready, QStringLiteral("Service log: %1").arg(log_.location().displayName()));
    }
}

bool ServiceLogOwner::writable() {
    if (state_ == LogState::Ready) {
        return true;
    }
    if (state_ == LogState::Unavailable) {
        ++dropped_;
    }
    return false;
}

void ServiceLogOwner::check(bool ok) {
    if (ok) {
        return;
    }
    ++dropped_;
    const QString message = log_.lastError().message;
    log_.close();
    setState(LogState::Unavailable, message + QStringLiteral("; the tool goes on without the service log"));
}

void ServiceLogOwner::beginVisit(const VisitStart& start) {
    if (!visit_.isEmpty()) {
        endVisit(EndReason::Closed);
    }
    if (!writable()) {
        return;
    }
    QString id;
    const bool ok = log_.beginVisit(start, &id);
    check(ok);
    if (ok) {
        visit_ = id;
        emit visitBegan(id);
    }
}

void ServiceLogOwner::setVisitDetails(const QString& site, const QString& technician) {
    if (visit_.isEmpty() || !writable()) {
        return;
    }
    check(log_.setVisitDetails(visit_, site, technician));
}

void ServiceLogOwner::setVisitNotes(const QString& notes) {
    if (visit_.isEmpty() || !writable()) {
        return;
    }
    check(log_.setVisitNotes(visit_, notes));
}

void ServiceLogOwner::setNotesOf(const QString& visit, const QString& notes) {
    if (visit.isEmpty() || !writable()) {
        return;
    }
    check(log_.setVisitNotes(visit, notes));
}

ImportResult ServiceLogOwner::importVisits(const QByteArray& document) {
    if (!writable()) {
        ImportResult refused;
        refused.error = state_ == LogState::Paused
                            ? QStringLiteral("The service log takes nothing while a capture is replayed")
                            : QStringLiteral("The service log is not available");
        return refused;
    }
    ImportResult result = log_.importVisits(document);
    // A file the database refuses is the file's fault; only a database that cannot be used any
    // more ends the writes.
    const ErrorKind kind = log_.lastError().kind;
    if (!result.ok &&
        (kind == ErrorKind::Locked || kind == ErrorKind::ReadOnly || kind == ErrorKind::Corrupt ||
         kind == ErrorKind::Unreachable || kind == ErrorKind::Refused)) {
        check(false);
    }
    return result;
}

void ServiceLogOwner::takeSnapshot(const SnapshotRecord& snapshot) {
    if (visit_.isEmpty() || !writable()) {
        return;
    }
    const int seq = log_.recordSnapshot(visit_, snapshot);
    check(seq > 0);
    if (seq > 0) {
        emit snapshotWritten(visit_, seq);
    }
}

void ServiceLogOwner::recordBalancers(const std::vector<BalancerRecord>& balancers) {
    if (!visit_.isEmpty() && writable()) {
        check(log_.recordBalancers(visit_, balancers));
    }
}

void ServiceLogOwner::recordCalibration(const CalibrationRecord& record) {
    if (!visit_.isEmpty() && writable()) {
        check(log_.recordCalibration(visit_, record) > 0);
    }
}

void ServiceLogOwner::recordParameters(const ParametersRecord& record) {
    if (!visit_.isEmpty() && writable()) {
        check(log_.recordParameters(visit_, record) > 0);
    }
}

void ServiceLogOwner::recordFirmware(const FirmwareRecord& record) {
    if (!visit_.isEmpty() && writable()) {
        check(log_.recordFirmware(visit_, record) > 0);
    }
}

void ServiceLogOwner::recordMetrics(const MetricsRecord& record) {
    if (!visit_.isEmpty() && writable()) {
        check(log_.recordMetrics(visit_, record) > 0);
    }
}

void ServiceLogOwner::recordRecording(const RecordingRecord& record) {
    if (!visit_.isEmpty() && writable()) {
        check(log_.recordRecording(visit_, record) > 0);
    }
}

void ServiceLogOwner::recordFault(const FaultRecord& record) {
    if (!visit_.isEmpty() && writable()) {
        check(log_.recordFault(visit_, record) > 0);
    }
}

void ServiceLogOwner::endVisit(EndReason reason, const QDateTime& endedAt) {
    if (visit_.isEmpty()) {
        return;
    }
    const QString id = visit_;
    visit_.clear();
    if (writable()) {
        check(log_.endVisit(id, endedAt, reason));
    }
    emit visitEnded(id);
}

} // namespace zanst::servicelog
