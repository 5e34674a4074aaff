#pragma once
// The one owner of the service log's writes: a QObject meant to live on a thread of its own
// (never the bus engine's). Every member below runs on that thread: call it queued, e.g.
//     app::post(owner, [s](ServiceLogOwner& o) { o.takeSnapshot(s); });
// The owner keeps the current visit, so callers only say what happened.
//
// Failures: the first write or open that fails closes the log, emits statusChanged(Unavailable,
// message) once, with a one-line message for the status bar, and every later write is dropped
// (counted) until open() succeeds again. The tool goes on working without it.
// Replaying a capture: setWritesEnabled(false); nothing is written until it is set again.

#include "servicelog/service_log.hpp"

#include <QObject>
#include <QString>

namespace zanst::servicelog {

enum class LogState {
    Closed,      // never opened, or closed
    Ready,       // open; writes go to the database
    Paused,      // open, but writes are off (a capture is replayed)
    Unavailable, // it failed; writes are dropped
};

class ServiceLogOwner : public QObject {
    Q_OBJECT
  public:
    explicit ServiceLogOwner(QObject* parent = nullptr);
    // Ends an open visit ("tool quit") and closes the log; destroy it on its own thread.
    ~ServiceLogOwner() override;

    void open(const Location& location);
    // Ends an open visit as "tool quit", then closes.
    void close();
    void setWritesEnabled(bool enabled);

    // A port was opened on a bank. Ends a visit still open ("port closed") first.
    void beginVisit(const VisitStart& start);
    void setVisitDetails(const QString& site, const QString& technician);
    void setVisitNotes(const QString& notes);
    // The notes of any visit, the current one or an earlier one (typed for its report).
    void setNotesOf(const QString& visit, const QString& notes);
    void takeSnapshot(const SnapshotRecord& snapshot);
    // The balancers as last enumerated, where that is newer than the last snapshot.
    void recordBalancers(const std::vector<BalancerRecord>& balancers);
    void recordCalibration(const CalibrationRecord& record);
    void recordParameters(const ParametersRecord& record);
    void recordFirmware(const FirmwareRecord& record);
    void recordMetrics(const MetricsRecord& record);
    void recordRecording(const RecordingRecord& record);
    void recordFault(const FaultRecord& record);
    // The port was closed (or the tool quits). Nothing without an open visit.
    void endVisit(EndReason reason, const QDateTime& endedAt = {});
    // Visits exported on another machine, merged by id. A file that cannot be taken changes
    // nothing and leaves the log as it was; a database failure makes it unavailable.
    ImportResult importVisits(const QByteArray& document);

    LogState state() const { return state_; }
    const QString& currentVisit() const { return visit_; }
    int droppedWrites() const { return dropped_; }
    // The owner's connection, for queries on its thread (the history, the report).
    ServiceLog& log() { return log_; }

  signals:
    // The state changed; `message` is for the status bar (no password in it).
    void statusChanged(zanst::servicelog::LogState state, const QString& message);
    void visitBegan(const QString& id);
    void visitEnded(const QString& id);
    // A snapshot was written as number `seq` of the visit.
    void snapshotWritten(const QString& visit, int seq);

  private:
    // Whether a write may go to the database now; counts a dropped one.
    bool writable();
    // The write's result: on failure the log goes unavailable.
    void check(bool ok);
    void setState(LogState state, const QString& message);

    ServiceLog log_;
    LogState state_ = LogState::Closed;
    bool writesEnabled_ = true;
    QString visit_;
    int dropped_ = 0;
};

} // namespace zanst::servicelog

Q_DECLARE_METATYPE(zanst::servicelog::LogState)
