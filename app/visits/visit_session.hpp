#pragma once
// The service visits of one window: the service log's owner on its thread, the recorder that
// turns what the engine and the window report into visit records, and what the window shows of
// them (the log's state, the current or last visit, the site and technician remembered). Qt
// Core only; the window's wiring connects its signals and slots to the engine and the widgets.

#include "servicelog/location.hpp"
#include "servicelog/owner.hpp"
#include "visits/service_log_host.hpp"
#include "visits/visit_recorder.hpp"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace zanst::app {

class VisitSession : public QObject {
    Q_OBJECT
  public:
    explicit VisitSession(QObject* parent = nullptr);
    // An open visit ends as "tool quit"; the log's writes are waited for.
    ~VisitSession() override;

    // Opens the log named by `option` (--service-db), else ZANST_SERVICE_DB, else the SQLite file
    // in the tool's data folder. A location that cannot be read is reported as unavailable.
    void openLog(const QString& option);
    void openLog(const servicelog::Location& location);

    ServiceLogHost& host() { return host_; }
    VisitRecorder& recorder() { return recorder_; }
    // The location opened last; empty before, or when it could not be read.
    const std::optional<servicelog::Location>& location() const { return location_; }
    servicelog::LogState logState() const { return state_; }
    const QString& logMessage() const { return message_; }
    // The visit being recorded; empty when none is.
    const QString& currentVisit() const { return current_; }
    // The visit of this session that began last, open or ended; empty before the first.
    const QString& lastVisit() const { return last_; }
    // The current or last visit of this session, else the newest in the log; empty when the log
    // has none. `done` runs on this object's thread unless `context` is gone.
    void findReportVisit(QObject* context, std::function<void(QString)> done);

  signals:
    void logStatusChanged(zanst::servicelog::LogState state, const QString& message);
    // The site and technician typed last, read once the log is open.
    void rememberedRead(const QString& site, const QString& technician);
    void visitBegan(const QString& id);
    void visitEnded(const QString& id);
    void snapshotWritten(const QString& visit, int seq);

  private:
    void onStatus(servicelog::LogState state, const QString& message);

    ServiceLogHost host_;
    VisitRecorder recorder_{host_.visitLog()};
    std::optional<servicelog::Location> location_;
    servicelog::LogState state_ = servicelog::LogState::Closed;
    QString message_;
    QString current_;
    QString last_;
    bool rememberedAsked_ = false;
};

} // namespace zanst::app
