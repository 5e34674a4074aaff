#include "visits/service_log_host.hpp"

namespace zanst::app {

using servicelog::ServiceLogOwner;

ServiceLogHost::ServiceLogHost(QObject* parent) : QObject(parent) {
    thread_.setObjectName(QStringLiteral("service log"));
    owner_ = new ServiceLogOwner;
    owner_->moveToThread(&thread_);
    // Destroyed on its own thread, once the thread's loop has ended.
    connect(&thread_, &QThread::finished, owner_, &QObject::deleteLater);
    thread_.start();
}

ServiceLogHost::~ServiceLogHost() {
    // Queued after every write posted so far, so those are written first.
    ServiceLogOwner* o = owner_;
    QMetaObject::invokeMethod(
        owner_, [o] { o->close(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void ServiceLogHost::open(const servicelog::Location& location) {
    post(owner_, [location](ServiceLogOwner& o) { o.open(location); });
}

void ServiceLogHost::Poster::beginVisit(const servicelog::VisitStart& start) {
    post(owner_, [start](ServiceLogOwner& o) { o.beginVisit(start); });
}

void ServiceLogHost::Poster::setVisitDetails(const QString& site, const QString& technician) {
    post(owner_, [site, technician](ServiceLogOwner& o) { o.setVisitDetails(site, technician); });
}

void ServiceLogHost::Poster::setVisitNotes(const QString& notes) {
    post(owner_, [notes](ServiceLogOwner& o) { o.setVisitNotes(notes); });
}

void ServiceLogHost::Poster::takeSnapshot(const servicelog::SnapshotRecord& snapshot) {
    post(owner_, [snapshot](ServiceLogOwner& o) { o.takeSnapshot(snapshot); });
}

void ServiceLogHost::Poster::recordBalancers(const std::vector<servicelog::BalancerRecord>& balancers) {
    post(owner_, [balancers](ServiceLogOwner& o) { o.recordBalancers(balancers); });
}

void ServiceLogHost::Poster::recordCalibration(const servicelog::CalibrationRecord& record) {
    post(owner_, [record](ServiceLogOwner& o) { o.recordCalibration(record); });
}

void ServiceLogHost::Poster::recordParameters(const servicelog::ParametersRecord& record) {
    post(owner_, [record](ServiceLogOwner& o) { o.recordParameters(record); });
}

void ServiceLogHost::Poster::recordFirmware(const servicelog::FirmwareRecord& record) {
    post(owner_, [record](ServiceLogOwner& o) { o.recordFirmware(record); });
}

void ServiceLogHost::Poster::recordMetrics(const servicelog::MetricsRecord& record) {
    post(owner_, [record](ServiceLogOwner& o) { o.recordMetrics(record); });
}

void ServiceLogHost::Poster::recordRecording(const servicelog::RecordingRecord& record) {
    post(owner_, [record](ServiceLogOwner& o) { o.recordRecording(record); });
}

void ServiceLogHost::Poster::recordFault(const servicelog::FaultRecord& record) {
    post(owner_, [record](ServiceLogOwner& o) { o.recordFault(record); });
}

void ServiceLogHost::Poster::endVisit(servicelog::EndReason reason) {
    // Stamped now, not when the owner gets to it.
    const QDateTime at = QDateTime::currentDateTimeUtc();
    post(owner_, [reason, at](ServiceLogOwner& o) { o.endVisit(reason, at); });
}

void ServiceLogHost::Poster::setWritesEnabled(bool enabled) {
    post(owner_, [enabled](ServiceLogOwner& o) { o.setWritesEnabled(enabled); });
}

} // namespace zanst::app
