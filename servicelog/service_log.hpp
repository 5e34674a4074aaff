#pragma once
// The service log: one connection to the database (SQLite or PostgreSQL), the writes of a
// visit, each in a transaction of its own, and the history queries. Used from one thread only
// (the thread that opened it): Qt's SQL connections belong to their thread. The window's writes
// go through ServiceLogOwner on a thread of its own; a reader (the history window, the command
// line) may open a second ServiceLog on its own thread.

#include "servicelog/location.hpp"
#include "servicelog/records.hpp"

#include <QByteArray>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace zanst::servicelog {

// Why the log cannot be used, for the message and for callers that react to it.
enum class ErrorKind { None, Locked, ReadOnly, Corrupt, Unreachable, Refused, NotFound, BadInput, Other };

struct LogError {
    ErrorKind kind = ErrorKind::None;
    QString message; // one line, no password, for the status bar or a console
};

struct VisitFilter {
    QString site;       // part of the site's name, any case; empty: every site
    QString technician; // likewise
    QDateTime from;     // started at or after; null: no bound
    QDateTime to;       // started before; null: no bound
    QString serial;     // visits that found a battery of this serial
    int limit = 0;      // 0: all
};

struct VisitSummary {
    QString id;
    QDateTime startedAt;
    QDateTime endedAt;
    QString site;
    QString technician;
    QString adapter;
    int balancers = 0;
    QStringList serials; // the batteries found, in bank order
    int snapshots = 0;
    int actions = 0;
};

// One visit in the life of one battery: from its last snapshot in that visit, and the metrics
// fetched for it then.
struct BatteryTrendPoint {
    QString visitId;
    QDateTime startedAt;
    QString site;
    int cells = 0;
    std::optional<int> minMv;
    int minCell = 0; // 1-based place within the battery
    std::optional<int> maxMv;
    int maxCell = 0;
    std::optional<int> spreadMv;
    std::optional<int> avgMv;
    std::optional<int> minTenthsC;
    std::optional<int> maxTenthsC;
    std::vector<std::uint32_t> fwVersions; // of its balancers, ascending
    std::optional<std::uint32_t> cyclesBeforeEOL;
    std::optional<std::uint32_t> secsLifeSpan;
};

// A cell of two visits side by side, matched by battery serial and place within the battery
// (by balancer number where no serial is known).
struct CellDifference {
    QString serial;
    int place = 0;     // 1-based within the battery
    int balancerA = 0; // 0: not in visit A
    int balancerB = 0;
    std::optional<int> mvA;
    std::optional<int> mvB;
    std::optional<int> tenthsCA;
    std::optional<int> tenthsCB;
    std::optional<int> diffMv() const { return mvA && mvB ? std::optional<int>(*mvB - *mvA) : std::nullopt; }
};

struct VisitComparison {
    VisitSummary a;
    VisitSummary b;
    int seqA = 0; // the snapshots compared (the end snapshot, else the last one); 0: none
    int seqB = 0;
    std::vector<CellDifference> cells;
};

struct RememberedDetails {
    QString site;
    QString technician;
};

struct ImportResult {
    bool ok = false;
    int visitsAdded = 0;  // new visit ids
    int visitsMerged = 0; // ids already here that gained snapshots or actions
    int visitsUnchanged = 0;
    int snapshotsAdded = 0;
    int actionsAdded = 0;
    QString error;
};

class ServiceLog {
  public:
    ServiceLog();
    ~ServiceLog();
    ServiceLog(const ServiceLog&) = delete;
    ServiceLog& operator=(const ServiceLog&) = delete;

    // Opens (an SQLite file is created with its folder) and migrates to the current schema.
    bool open(const Location& location);
    void close();
    bool isOpen() const { return open_; }
    const Location& location() const { return location_; }
    const LogError& lastError() const { return error_; }
    int schemaVersionFound() const { return versionFound_; } // before migrating

    // Writes. Each is one transaction; on failure nothing of it is kept and lastError() tells why.
    bool beginVisit(const VisitStart& start, QString* id = nullptr);
    bool setVisitDetails(const QString& visit, const QString& site, const QString& technician);
    bool setVisitNotes(const QString& visit, const QString& notes);
    // Upserts the balancers found (by balancer number); earlier ones that are not in `list` stay.
    bool recordBalancers(const QString& visit, const std::vector<BalancerRecord>& list);
    // Also records the balancers it holds. Returns the snapshot's seq, 0 on failure.
    int recordSnapshot(const QString& visit, const SnapshotRecord& snapshot);
    // Returns the action's seq, 0 on failure.
    int recordAction(const QString& visit, const ActionRecord& action);
    int recordCalibration(const QString& visit, const CalibrationRecord& r);
    int recordParameters(const QString& visit, const ParametersRecord& r);
    int recordFirmware(const QString& visit, const FirmwareRecord& r);
    int recordMetrics(const QString& visit, const MetricsRecord& r);
    int recordRecording(const QString& visit, const RecordingRecord& r);
    int recordFault(const QString& visit, const FaultRecord& r);
    bool endVisit(const QString& visit, const QDateTime& endedAt, EndReason reason);

    // Queries. Empty (and lastError() set) on failure; NotFound for an unknown visit.
    std::optional<VisitRecord> visit(const QString& id);
    std::optional<std::vector<VisitSummary>> visits(const VisitFilter& filter = {});
    std::optional<std::vector<BatteryTrendPoint>> batteryTrend(const QString& serial);
    std::optional<VisitComparison> compareVisits(const QString& a, const QString& b);
    // The latest visit before `id` that found one of its batteries; empty string when none.
    std::optional<QString> previousVisit(const QString& id);
    std::optional<RememberedDetails> remembered();

    // Export of the given visits (all when empty) as an export document; import merging by id.
    std::optional<QByteArray> exportVisits(const QStringList& ids = {});
    ImportResult importVisits(const QByteArray& document);

    // Test hook: called inside a snapshot's transaction after each chunk of cells is written.
    void setChunkWrittenHook(std::function<void(int cellsWritten)> hook) { chunkHook_ = std::move(hook); }

  private:
    bool fail(ErrorKind kind, const QString& what, const QString& detail = {});
    bool failSql(const QString& what, const QSqlError& error);
    bool prepare(QSqlDatabase& db);
    bool transaction(const QString& what, const std::function<bool()>& body);
    bool insertSnapshot(const QString& visit, const SnapshotRecord& snapshot, int seq);
    bool insertAction(const QString& visit, const ActionRecord& action, int seq);
    bool upsertBalancers(const QString& visit, const std::vector<BalancerRecord>& list);
    bool refreshSerials(const QString& visit);
    std::optional<int> nextSeq(const char* table, const QString& visit);
    bool visitExists(const QString& id, bool* exists);

    Location location_;
    QString connection_;
    bool open_ = false;
    int versionFound_ = 0;
    LogError error_;
    std::function<void(int)> chunkHook_;
};

// The message for a database error, classified; `what` says what was being done.
LogError describeError(Backend backend, const QString& location, const QString& what, const QSqlError& error);

} // namespace zanst::servicelog
