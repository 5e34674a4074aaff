#pragma once
// Where the visit recorder sends what a visit found and did: the writes of the service log's
// owner, without saying which thread runs them. The window's log posts each call to the owner on
// its own thread; tests keep the calls to look at them.

#include "servicelog/records.hpp"

#include <QString>

#include <vector>

namespace zanst::app {

class VisitLog {
  public:
    virtual ~VisitLog() = default;

    virtual void beginVisit(const servicelog::VisitStart& start) = 0;
    virtual void setVisitDetails(const QString& site, const QString& technician) = 0;
    virtual void setVisitNotes(const QString& notes) = 0;
    virtual void takeSnapshot(const servicelog::SnapshotRecord& snapshot) = 0;
    virtual void recordBalancers(const std::vector<servicelog::BalancerRecord>& balancers) = 0;
    virtual void recordCalibration(const servicelog::CalibrationRecord& record) = 0;
    virtual void recordParameters(const servicelog::ParametersRecord& record) = 0;
    virtual void recordFirmware(const servicelog::FirmwareRecord& record) = 0;
    virtual void recordMetrics(const servicelog::MetricsRecord& record) = 0;
    virtual void recordRecording(const servicelog::RecordingRecord& record) = 0;
    virtual void recordFault(const servicelog::FaultRecord& record) = 0;
    virtual void endVisit(servicelog::EndReason reason) = 0;
    virtual void setWritesEnabled(bool enabled) = 0;
};

} // namespace zanst::app
