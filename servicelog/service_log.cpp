#include "servicelog/service_log.hpp"

#include "bank/bank_summary.hpp"
#include "servicelog/json.hpp"
#include "servicelog/schema.hpp"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <map>
#include <set>

namespace zanst::servicelog {

namespace {

constexpr int kCellsPerInsert = 40; // 23 values a row: 920 parameters, under SQLite's 999
constexpr int kConnectTimeoutSeconds = 5;
constexpr int kSqliteBusyMs = 3000;

QString nextConnectionName() {
    static std::atomic<int> counter{0};
    return QStringLiteral("zanst-servicelog-%1").arg(++counter);
}

// An empty text stays an empty text: Qt binds a null QString as NULL.
QString text(const QString& s) {
    return s.isNull() ? QStringLiteral("") : s;
}

QVariant nullInt() {
    return QVariant(QMetaType::fromType<int>());
}

QVariant optionalValue(const std::optional<int>& v) {
    return v ? QVariant(*v) : nullInt();
}

std::optional<int> optionalInt(const QVariant& v) {
    return v.isNull() ? std::nullopt : std::optional<int>(v.toInt());
}

QDateTime nowUtc() {
    return QDateTime::currentDateTimeUtc();
}

QDateTime stamped(const QDateTime& t) {
    return t.isValid() ? t.toUTC() : nowUtc();
}

QString oneLine(QString text) {
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text.simplified();
}

ErrorKind classify(Backend backend, const QSqlError& e) {
    const QString text = e.text().toLower();
    const QString code = e.nativeErrorCode();
    if (backend == Backend::Sqlite) {
        switch (code.toInt() & 0xFF) {
        case 5: // SQLITE_BUSY
        case 6: // SQLITE_LOCKED
            return ErrorKind::Locked;
        case 8: // SQLITE_READONLY
            return ErrorKind::ReadOnly;
        case 11: // SQLITE_CORRUPT
        case 26: // SQLITE_NOTADB
            return ErrorKind::Corrupt;
        case 14: // SQLITE_CANTOPEN
            return ErrorKind::Unreachable;
        default:
            break;
        }
        if (text.contains(QLatin1String("locked"))) {
            return ErrorKind::Locked;
        }
        if (text.contains(QLatin1String("readonly")) || text.contains(QLatin1String("read-only"))) {
            return ErrorKind::ReadOnly;
        }
        if (text.contains(QLatin1String("malformed")) || text.contains(QLatin1String("not a database"))) {
            return ErrorKind::Corrupt;
        }
        if (text.contains(QLatin1String("unable to open"))) {
            return ErrorKind::Unreachable;
        }
        return ErrorKind::Other;
    }
    if (code == QLatin1String("25006")) { // read_only_sql_transaction
        return ErrorKind::ReadOnly;
    }
    if (code == QLatin1String("55P03") || code == QLatin1String("40P01")) { // lock not available, deadlock
        return ErrorKind::Locked;
    }
    if (code.startsWith(QLatin1String("28")) || code == QLatin1String("3D000") ||
        text.contains(QLatin1String("authentication failed")) ||
        text.contains(QLatin1String("does not exist")) ||
        text.contains(QLatin1String("no password supplied"))) {
        return ErrorKind::Refused;
    }
    if (e.type() == QSqlError::ConnectionError || code.startsWith(QLatin1String("08")) ||
        code.startsWith(QLatin1String("57P")) || text.contains(QLatin1String("could not connect")) ||
        text.contains(QLatin1String("connection refused")) || text.contains(QLatin1String("server closed")) ||
        text.contains(QLatin1String("no connection")) || text.contains(QLatin1String("timeout expired")) ||
        text.contains(QLatin1String("could not translate host"))) {
        return ErrorKind::Unreachable;
    }
    return ErrorKind::Other;
}

QString phrase(Backend backend, ErrorKind kind) {
    switch (kind) {
    case ErrorKind::Locked:
        return QStringLiteral("is locked by another program");
    case ErrorKind::ReadOnly:
        return QStringLiteral("is read-only");
    case ErrorKind::Corrupt:
        return QStringLiteral("is damaged (not a readable database)");
    case ErrorKind::Unreachable:
        return backend == Backend::Sqlite ? QStringLiteral("cannot be opened")
                                          : QStringLiteral("cannot be reached");
    case ErrorKind::Refused:
        return QStringLiteral("refused the connection");
    case ErrorKind::NotFound:
        return QStringLiteral("does not hold it");
    case ErrorKind::BadInput:
        return QStringLiteral("was given bad input");
    case ErrorKind::Other:
    case ErrorKind::None:
        break;
    }
    return QStringLiteral("failed");
}

// The cells of one battery in a snapshot, for the per-battery rows.
struct BatteryFigures {
    int battery = 0;
    QString serial;
    int cells = 0;
    std::optional<int> minMv;
    int minCell = 0;
    std::optional<int> maxMv;
    int maxCell = 0;
    std::int64_t sumMv = 0;
    int measured = 0;
    std::optional<int> minTenthsC;
    std::optional<int> maxTenthsC;
    std::uint32_t fwVersion = 0;
};

std::vector<BatteryFigures> batteryFigures(const bank::BankSnapshot& bank) {
    std::vector<BatteryFigures> list;
    for (const bank::BalancerReading& r : bank.balancers) {
        if (list.empty() || list.back().battery != r.battery) {
            BatteryFigures f;
            f.battery = r.battery;
            f.serial = QString::fromStdString(r.serial);
            f.fwVersion = r.fwVersion;
            list.push_back(f);
        }
        BatteryFigures& f = list.back();
        ++f.cells;
        if (!r.millivolts) {
            continue;
        }
        const int mv = *r.millivolts;
        if (!f.minMv || mv < *f.minMv) {
            f.minMv = mv;
            f.minCell = f.cells;
        }
        if (!f.maxMv || mv > *f.maxMv) {
            f.maxMv = mv;
            f.maxCell = f.cells;
        }
        f.sumMv += mv;
        ++f.measured;
        f.minTenthsC = f.minTenthsC ? std::min(*f.minTenthsC, r.tenthsCelsius) : r.tenthsCelsius;
        f.maxTenthsC = f.maxTenthsC ? std::max(*f.maxTenthsC, r.tenthsCelsius) : r.tenthsCelsius;
    }
    return list;
}

// The snapshot a comparison or a report looks at: the end snapshot, else the last one.
const SnapshotRecord* closingSnapshot(const VisitRecord& v) {
    const SnapshotRecord* chosen = nullptr;
    for (const SnapshotRecord& s : v.snapshots) {
        if (s.kind == SnapshotKind::End) {
            chosen = &s;
        }
    }
    if (!chosen && !v.snapshots.empty()) {
        chosen = &v.snapshots.back();
    }
    return chosen;
}

VisitSummary summaryOf(const VisitRecord& v) {
    VisitSummary s;
    s.id = v.id;
    s.startedAt = v.startedAt;
    s.endedAt = v.endedAt;
    s.site = v.site;
    s.technician = v.technician;
    s.adapter = v.adapter;
    s.balancers = static_cast<int>(v.balancers.size());
    for (const BalancerRecord& b : v.balancers) {
        if (!s.serials.contains(b.serial)) {
            s.serials << b.serial;
        }
    }
    s.snapshots = static_cast<int>(v.snapshots.size());
    s.actions = static_cast<int>(v.actions.size());
    return s;
}

QString likePattern(const QString& part) {
    QString escaped = part.toLower();
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('%'), QStringLiteral("\\%"));
    escaped.replace(QLatin1Char('_'), QStringLiteral("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

} // namespace

LogError describeError(Backend backend, const QString& location, const QString& what,
                       const QSqlError& error) {
    LogError e;
    e.kind = classify(backend, error);
    QString detail = oneLine(error.text());
    e.message = QStringLiteral("Service log %1 %2: %3 failed").arg(location, phrase(backend, e.kind), what);
    if (!detail.isEmpty()) {
        e.message += QStringLiteral(" (%1)").arg(detail);
    }
    return e;
}

ServiceLog::ServiceLog() : connection_(nextConnectionName()) {}

ServiceLog::~ServiceLog() {
    close();
}

bool ServiceLog::fail(ErrorKind kind, const QString& what, const QString& detail) {
    error_.kind = kind;
    error_.message = QStringLiteral("Service log %1 %2: %3")
                         .arg(location_.displayName(), phrase(location_.backend, kind), what);
    if (!detail.isEmpty()) {
        error_.message += QStringLiteral(" (%1)").arg(oneLine(detail));
    }
    error_.message = location_.redact(error_.message);
    return false;
}

bool ServiceLog::failSql(const QString& what, const QSqlError& error) {
    error_ = describeError(location_.backend, location_.displayName(), what, error);
    error_.message = location_.redact(error_.message);
    return false;
}

bool ServiceLog::open(const Location& location) {
    close();
    location_ = location;
    error_ = {};
    versionFound_ = 0;
    const bool sqlite = location.backend == Backend::Sqlite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        return fail(ErrorKind::Unreachable, QStringLiteral("Qt's %1 driver is not installed").arg(driver),
                    sqlite ? QStringLiteral("Debian package libqt6sql6-sqlite")
                           : QStringLiteral("Debian package libqt6sql6-psql"));
    }
    if (sqlite) {
        const QFileInfo file(location.path);
        if (!QDir().mkpath(file.absolutePath())) {
            return fail(ErrorKind::Unreachable, QStringLiteral("its folder cannot be created"),
                        file.absolutePath());
        }
        if (file.isDir()) {
            return fail(ErrorKind::Unreachable, QStringLiteral("it is a folder, not a file"));
        }
    }
    bool ready = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, connection_);
        if (sqlite) {
            db.setDatabaseName(location.path);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kSqliteBusyMs));
        } else {
            db.setHostName(location.host);
            if (location.port > 0) {
                db.setPort(location.port);
            }
            db.setDatabaseName(location.database);
            db.setUserName(location.user);
            db.setPassword(location.password);
            QString options =
                QStringLiteral("connect_timeout=%1;application_name=zanst").arg(kConnectTimeoutSeconds);
            if (!location.connectOptions.isEmpty()) {
                options += QLatin1Char(';') + location.connectOptions;
            }
            db.setConnectOptions(options);
        }
        if (!db.open()) {
            const QSqlError e = db.lastError();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(connection_);
            failSql(QStringLiteral("opening it"), e);
            if (error_.kind == ErrorKind::Other) {
                error_.kind = ErrorKind::Unreachable;
            }
            return false;
        }
        open_ = true;
        ready = prepare(db);
    }
    if (!ready) {
        const LogError e = error_;
        close();
        error_ = e;
    }
    return ready;
}

bool ServiceLog::prepare(QSqlDatabase& db) {
    const bool sqlite = location_.backend == Backend::Sqlite;
    QSqlQuery q(db);
    const QStringList setup = sqlite ? QStringList{QStringLiteral("PRAGMA foreign_keys = ON"),
                                                   QStringLiteral("PRAGMA journal_mode = WAL"),
                                                   QStringLiteral("PRAGMA synchronous = FULL")}
                                     : QStringList{QStringLiteral("SET client_min_messages TO warning")};
    for (const QString& sql : setup) {
        if (!q.exec(sql)) {
            return failSql(QStringLiteral("opening it"), q.lastError());
        }
    }
    const MigrationResult migrated = migrate(db, location_.backend);
    versionFound_ = migrated.from;
    if (migrated.ok) {
        return true;
    }
    if (migrated.from > currentSchemaVersion()) {
        return fail(ErrorKind::Refused, QStringLiteral("opening it"), migrated.error);
    }
    if (migrated.sqlError.isValid()) {
        return failSql(QStringLiteral("preparing its tables"), migrated.sqlError);
    }
    return fail(ErrorKind::Other, QStringLiteral("preparing its tables"), migrated.error);
}

void ServiceLog::close() {
    if (QSqlDatabase::contains(connection_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            if (db.isOpen()) {
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(connection_);
    }
    open_ = false;
}

bool ServiceLog::transaction(const QString& what, const std::function<bool()>& body) {
    if (!open_) {
        return fail(ErrorKind::Unreachable, what + QStringLiteral(" failed: it is not open"));
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    // SQLite: take the write lock at the start, so that a lock held by another program is waited
    // for (up to the busy timeout) instead of failing when a read turns into a write.
    const bool sqlite = location_.backend == Backend::Sqlite;
    QSqlQuery control(db);
    if (!control.exec(sqlite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"))) {
        return failSql(what, control.lastError());
    }
    if (!body()) {
        control.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    if (!control.exec(QStringLiteral("COMMIT"))) {
        const QSqlError e = control.lastError();
        control.exec(QStringLiteral("ROLLBACK"));
        return failSql(what, e);
    }
    return true;
}

std::optional<int> ServiceLog::nextSeq(const char* table, const QString& visit) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT COALESCE(MAX(seq), 0) + 1 FROM %1 WHERE visit_id = ?")
                  .arg(QLatin1String(table)));
    q.addBindValue(visit);
    if (!q.exec() || !q.next()) {
        failSql(QStringLiteral("numbering a record"), q.lastError());
        return std::nullopt;
    }
    return q.value(0).toInt();
}

bool ServiceLog::visitExists(const QString& id, bool* exists) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT 1 FROM visits WHERE id = ?"));
    q.addBindValue(id);
    if (!q.exec()) {
        return failSql(QStringLiteral("looking up visit %1").arg(id), q.lastError());
    }
    *exists = q.next();
    return true;
}

bool ServiceLog::beginVisit(const VisitStart& start, QString* id) {
    const QString visitId = start.id.isEmpty() ? newVisitId() : start.id;
    const bool ok = transaction(QStringLiteral("starting a visit"), [&] {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        q.prepare(QStringLiteral(
            "INSERT INTO visits (id, started_at, site, technician, adapter, port, tool_version)"
            " VALUES (?, ?, ?, ?, ?, ?, ?)"));
        q.addBindValue(visitId);
        q.addBindValue(text(timeText(stamped(start.startedAt))));
        q.addBindValue(text(start.site));
        q.addBindValue(text(start.technician));
        q.addBindValue(text(start.adapter));
        q.addBindValue(text(start.port));
        q.addBindValue(text(start.toolVersion));
        return q.exec() || failSql(QStringLiteral("starting a visit"), q.lastError());
    });
    if (ok && id) {
        *id = visitId;
    }
    return ok;
}

bool ServiceLog::setVisitDetails(const QString& visit, const QString& site, const QString& technician) {
    return transaction(QStringLiteral("saving the site and technician"), [&] {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        q.prepare(QStringLiteral("UPDATE visits SET site = ?, technician = ? WHERE id = ?"));
        q.addBindValue(text(site));
        q.addBindValue(text(technician));
        q.addBindValue(visit);
        if (!q.exec()) {
            return failSql(QStringLiteral("saving the site and technician"), q.lastError());
        }
        return q.numRowsAffected() > 0 || fail(ErrorKind::NotFound, QStringLiteral("visit %1").arg(visit));
    });
}

bool ServiceLog::setVisitNotes(const QString& visit, const QString& notes) {
    return transaction(QStringLiteral("saving the notes"), [&] {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        q.prepare(QStringLiteral("UPDATE visits SET notes = ? WHERE id = ?"));
        q.addBindValue(text(notes));
        q.addBindValue(visit);
        if (!q.exec()) {
            return failSql(QStringLiteral("saving the notes"), q.lastError());
        }
        return q.numRowsAffected() > 0 || fail(ErrorKind::NotFound, QStringLiteral("visit %1").arg(visit));
    });
}

bool ServiceLog::upsertBalancers(const QString& visit, const std::vector<BalancerRecord>& list) {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral(
        "INSERT INTO visit_balancers (visit_id, balancer, battery, serial, product_id, capacity, fw_version,"
        " bl_version, hw_revision, info_flags) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
        " ON CONFLICT (visit_id, balancer) DO UPDATE SET battery = excluded.battery, serial = "
        "excluded.serial,"
        " product_id = excluded.product_id, capacity = excluded.capacity, fw_version = excluded.fw_version,"
        " bl_version = excluded.bl_version, hw_revision = excluded.hw_revision, info_flags = "
        "excluded.info_flags"));
    for (const BalancerRecord& b : list) {
        q.addBindValue(visit);
        q.addBindValue(b.balancer);
        q.addBindValue(b.battery);
        q.addBindValue(text(b.serial));
        q.addBindValue(static_cast<int>(b.productId));
        q.addBindValue(static_cast<int>(b.capacity));
        q.addBindValue(static_cast<qint64>(b.fwVersion));
        q.addBindValue(static_cast<qint64>(b.blVersion));
        q.addBindValue(b.hwRevision);
        q.addBindValue(static_cast<int>(b.infoFlags));
        if (!q.exec()) {
            return failSql(QStringLiteral("recording the balancers"), q.lastError());
        }
    }
    return true;
}

bool ServiceLog::refreshSerials(const QString& visit) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT serial, MIN(battery) AS first FROM visit_balancers WHERE visit_id = ?"
                             " GROUP BY serial ORDER BY first, serial"));
    q.addBindValue(visit);
    if (!q.exec()) {
        return failSql(QStringLiteral("recording the balancers"), q.lastError());
    }
    QJsonArray serials;
    while (q.next()) {
        serials.append(q.value(0).toString());
    }
    QSqlQuery u(db);
    u.prepare(QStringLiteral("UPDATE visits SET serials = ?, balancer_count ="
                             " (SELECT COUNT(*) FROM visit_balancers WHERE visit_id = ?) WHERE id = ?"));
    u.addBindValue(QString::fromUtf8(QJsonDocument(serials).toJson(QJsonDocument::Compact)));
    u.addBindValue(visit);
    u.addBindValue(visit);
    return u.exec() || failSql(QStringLiteral("recording the balancers"), u.lastError());
}

bool ServiceLog::recordBalancers(const QString& visit, const std::vector<BalancerRecord>& list) {
    return transaction(QStringLiteral("recording the balancers"), [&] {
        bool exists = false;
        if (!visitExists(visit, &exists)) {
            return false;
        }
        if (!exists) {
            return fail(ErrorKind::NotFound, QStringLiteral("visit %1").arg(visit));
        }
        return upsertBalancers(visit, list) && refreshSerials(visit);
    });
}

bool ServiceLog::insertSnapshot(const QString& visit, const SnapshotRecord& s, int seq) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const QString what = QStringLiteral("writing a snapshot");
    const bank::BankSummary summary = bank::summarizeBank(s.bank, s.values.balancerSetpoint);
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral(
            "INSERT INTO snapshots (visit_id, seq, kind, taken_at, setpoint_mv, bank_mv, bank_ma, cells, "
            "min_mv,"
            " min_cell, max_mv, max_cell, spread_mv, avg_tenths_c, max_tenths_c, flagged, frames_sent,"
            " frames_received, valid_received, crc_errors, unanswered_polls, no_answer_after, ms_since_valid)"
            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        q.addBindValue(visit);
        q.addBindValue(seq);
        q.addBindValue(kindText(s.kind));
        q.addBindValue(timeText(stamped(s.takenAt)));
        q.addBindValue(s.values.balancerSetpoint);
        q.addBindValue(s.values.batVoltage);
        q.addBindValue(s.values.batCurrent);
        q.addBindValue(summary.cellCount);
        q.addBindValue(summary.minVoltage ? QVariant(summary.minVoltage->value) : nullInt());
        q.addBindValue(summary.minVoltage ? QVariant(summary.minVoltage->cell) : nullInt());
        q.addBindValue(summary.maxVoltage ? QVariant(summary.maxVoltage->value) : nullInt());
        q.addBindValue(summary.maxVoltage ? QVariant(summary.maxVoltage->cell) : nullInt());
        q.addBindValue(summary.deltaMv);
        q.addBindValue(optionalValue(summary.averageTenthsCelsius));
        q.addBindValue(summary.maxTemperature ? QVariant(summary.maxTemperature->value) : nullInt());
        q.addBindValue(static_cast<int>(summary.flagged.size()));
        q.addBindValue(static_cast<qint64>(s.health.framesSent));
        q.addBindValue(static_cast<qint64>(s.health.framesReceived));
        q.addBindValue(static_cast<qint64>(s.health.validReceived));
        q.addBindValue(static_cast<qint64>(s.health.crcErrors));
        q.addBindValue(static_cast<qint64>(s.health.unansweredPolls));
        q.addBindValue(s.health.noAnswerAfter);
        q.addBindValue(static_cast<qint64>(s.health.msSinceValid));
        if (!q.exec()) {
            return failSql(what, q.lastError());
        }
    }
    const auto& cells = s.bank.balancers;
    if (cells.size() > 255) {
        return fail(ErrorKind::BadInput, QStringLiteral("a snapshot holds at most 255 balancers"));
    }
    static const QString row =
        QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (std::size_t first = 0; first < cells.size(); first += kCellsPerInsert) {
        const std::size_t end = std::min(cells.size(), first + kCellsPerInsert);
        QStringList rows;
        for (std::size_t i = first; i < end; ++i) {
            rows << row;
        }
        QSqlQuery q(db);
        q.prepare(
            QStringLiteral("INSERT INTO snapshot_cells (visit_id, seq, balancer, info_id, cell_id, battery,"
                           " serial, mv, ma, tenths_c, info_flags, status_flags, product_id, capacity,"
                           " fw_version, bl_version, hw_revision, boot_mode, v_gain, i_gain, i_offset,"
                           " crc_errors, missed_answers) VALUES ") +
            rows.join(QStringLiteral(", ")));
        for (std::size_t i = first; i < end; ++i) {
            const bank::BalancerReading& r = cells[i];
            q.addBindValue(visit);
            q.addBindValue(seq);
            q.addBindValue(static_cast<int>(i) + 1);
            q.addBindValue(r.id);
            q.addBindValue(r.cellId);
            q.addBindValue(r.battery);
            q.addBindValue(text(QString::fromStdString(r.serial)));
            q.addBindValue(optionalValue(r.millivolts));
            q.addBindValue(r.milliamps);
            q.addBindValue(r.tenthsCelsius);
            q.addBindValue(static_cast<int>(r.infoFlags));
            q.addBindValue(static_cast<int>(r.statusFlags));
            q.addBindValue(static_cast<int>(r.productId));
            q.addBindValue(static_cast<int>(r.capacity));
            q.addBindValue(static_cast<qint64>(r.fwVersion));
            q.addBindValue(static_cast<qint64>(r.blVersion));
            q.addBindValue(static_cast<int>(r.hwRevision));
            q.addBindValue(static_cast<int>(r.bootMode));
            q.addBindValue(static_cast<int>(r.vGain));
            q.addBindValue(static_cast<int>(r.iGain));
            q.addBindValue(static_cast<int>(r.iOffset));
            q.addBindValue(static_cast<qint64>(r.crcErrors));
            q.addBindValue(static_cast<qint64>(r.missedAnswers));
        }
        if (!q.exec()) {
            return failSql(what, q.lastError());
        }
        if (chunkHook_) {
            chunkHook_(static_cast<int>(end));
        }
    }
    QSqlQuery counted(db);
    counted.prepare(QStringLiteral("UPDATE visits SET snapshot_count = snapshot_count + 1 WHERE id = ?"));
    counted.addBindValue(visit);
    if (!counted.exec()) {
        return failSql(what, counted.lastError());
    }
    QSqlQuery b(db);
    b.prepare(QStringLiteral(
        "INSERT INTO snapshot_batteries (visit_id, seq, battery, serial, cells, min_mv, min_cell,"
        " max_mv, max_cell, avg_mv, min_tenths_c, max_tenths_c, fw_version)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const BatteryFigures& f : batteryFigures(s.bank)) {
        b.addBindValue(visit);
        b.addBindValue(seq);
        b.addBindValue(f.battery);
        b.addBindValue(text(f.serial));
        b.addBindValue(f.cells);
        b.addBindValue(optionalValue(f.minMv));
        b.addBindValue(f.minCell);
        b.addBindValue(optionalValue(f.maxMv));
        b.addBindValue(f.maxCell);
        b.addBindValue(f.measured > 0 ? QVariant(static_cast<int>(f.sumMv / f.measured)) : nullInt());
        b.addBindValue(optionalValue(f.minTenthsC));
        b.addBindValue(optionalValue(f.maxTenthsC));
        b.addBindValue(static_cast<qint64>(f.fwVersion));
        if (!b.exec()) {
            return failSql(what, b.lastError());
        }
    }
    return true;
}

int ServiceLog::recordSnapshot(const QString& visit, const SnapshotRecord& snapshot) {
    int seq = 0;
    const bool ok = transaction(QStringLiteral("writing a snapshot"), [&] {
        bool exists = false;
        if (!visitExists(visit, &exists)) {
            return false;
        }
        if (!exists) {
            return fail(ErrorKind::NotFound, QStringLiteral("visit %1").arg(visit));
        }
        const auto next = nextSeq("snapshots", visit);
        if (!next) {
            return false;
        }
        seq = *next;
        return insertSnapshot(visit, snapshot, seq) && upsertBalancers(visit, balancersOf(snapshot.bank)) &&
               refreshSerials(visit);
    });
    return ok ? seq : 0;
}

bool ServiceLog::insertAction(const QString& visit, const ActionRecord& a, int seq) {
    int balancer = 0;
    QString serial;
    Outcome outcome = Outcome::Unknown;
    bool haveOutcome = true;
    switch (a.kind) {
    case ActionKind::Calibration:
        if (a.calibration) {
            balancer = a.calibration->balancer;
            serial = a.calibration->serial;
            outcome = a.calibration->outcome;
        }
        break;
    case ActionKind::Parameters:
        if (a.parameters) {
            serial = a.parameters->serial;
            outcome = a.parameters->outcome;
        }
        break;
    case ActionKind::Firmware:
        if (a.firmware) {
            const auto& list = a.firmware->balancers;
            const bool anyFailed = std::any_of(list.begin(), list.end(),
                                               [](const auto& r) { return r.outcome == Outcome::Failed; });
            const bool allSucceeded =
                !list.empty() && std::all_of(list.begin(), list.end(),
                                             [](const auto& r) { return r.outcome == Outcome::Succeeded; });
            outcome = anyFailed ? Outcome::Failed : allSucceeded ? Outcome::Succeeded : Outcome::Unknown;
        }
        break;
    case ActionKind::Metrics:
        if (a.metrics) {
            serial = a.metrics->serial;
        }
        haveOutcome = false;
        break;
    case ActionKind::Recording:
        haveOutcome = false;
        break;
    case ActionKind::Fault:
        if (a.fault) {
            balancer = a.fault->balancer;
        }
        haveOutcome = false;
        break;
    }
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(
        QStringLiteral("INSERT INTO actions (visit_id, seq, at, kind, balancer, serial, outcome, details)"
                       " VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(visit);
    q.addBindValue(seq);
    q.addBindValue(timeText(stamped(a.at)));
    q.addBindValue(kindText(a.kind));
    q.addBindValue(balancer);
    q.addBindValue(text(serial));
    q.addBindValue(text(haveOutcome ? outcomeText(outcome) : QString()));
    q.addBindValue(QString::fromUtf8(QJsonDocument(actionDetails(a)).toJson(QJsonDocument::Compact)));
    if (!q.exec()) {
        return failSql(QStringLiteral("recording an action"), q.lastError());
    }
    QSqlQuery counted(QSqlDatabase::database(connection_, false));
    counted.prepare(QStringLiteral("UPDATE visits SET action_count = action_count + 1 WHERE id = ?"));
    counted.addBindValue(visit);
    return counted.exec() || failSql(QStringLiteral("recording an action"), counted.lastError());
}

int ServiceLog::recordAction(const QString& visit, const ActionRecord& action) {
    int seq = 0;
    const bool ok = transaction(QStringLiteral("recording an action"), [&] {
        bool exists = false;
        if (!visitExists(visit, &exists)) {
            return false;
        }
        if (!exists) {
            return fail(ErrorKind::NotFound, QStringLiteral("visit %1").arg(visit));
        }
        const auto next = nextSeq("actions", visit);
        if (!next) {
            return false;
        }
        seq = *next;
        return insertAction(visit, action, seq);
    });
    return ok ? seq : 0;
}

int ServiceLog::recordCalibration(const QString& visit, const CalibrationRecord& r) {
    ActionRecord a;
    a.kind = ActionKind::Calibration;
    a.at = stamped(r.at);
    a.calibration = r;
    a.calibration->at = a.at;
    return recordAction(visit, a);
}

int ServiceLog::recordParameters(const QString& visit, const ParametersRecord& r) {
    ActionRecord a;
    a.kind = ActionKind::Parameters;
    a.at = stamped(r.at);
    a.parameters = r;
    a.parameters->at = a.at;
    return recordAction(visit, a);
}

int ServiceLog::recordFirmware(const QString& visit, const FirmwareRecord& r) {
    ActionRecord a;
    a.kind = ActionKind::Firmware;
    a.at = stamped(r.at);
    a.firmware = r;
    a.firmware->at = a.at;
    return recordAction(visit, a);
}

int ServiceLog::recordMetrics(const QString& visit, const MetricsRecord& r) {
    ActionRecord a;
    a.kind = ActionKind::Metrics;
    a.at = stamped(r.at);
    a.metrics = r;
    a.metrics->at = a.at;
    return recordAction(visit, a);
}

int ServiceLog::recordRecording(const QString& visit, const RecordingRecord& r) {
    ActionRecord a;
    a.kind = ActionKind::Recording;
    a.at = stamped(r.at);
    a.recording = r;
    a.recording->at = a.at;
    return recordAction(visit, a);
}

int ServiceLog::recordFault(const QString& visit, const FaultRecord& r) {
    ActionRecord a;
    a.kind = ActionKind::Fault;
    a.at = stamped(r.at);
    a.fault = r;
    a.fault->at = a.at;
    return recordAction(visit, a);
}

bool ServiceLog::endVisit(const QString& visit, const QDateTime& endedAt, EndReason reason) {
    return transaction(QStringLiteral("closing the visit"), [&] {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        q.prepare(QStringLiteral("UPDATE visits SET ended_at = ?, end_reason = ? WHERE id = ?"));
        q.addBindValue(timeText(stamped(endedAt)));
        q.addBindValue(text(endReasonText(reason)));
        q.addBindValue(visit);
        if (!q.exec()) {
            return failSql(QStringLiteral("closing the visit"), q.lastError());
        }
        return q.numRowsAffected() > 0 || fail(ErrorKind::NotFound, QStringLiteral("visit %1").arg(visit));
    });
}

std::optional<VisitRecord> ServiceLog::visit(const QString& id) {
    if (!open_) {
        fail(ErrorKind::Unreachable, QStringLiteral("reading a visit failed: it is not open"));
        return std::nullopt;
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const QString what = QStringLiteral("reading visit %1").arg(id);
    VisitRecord v;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(
            QStringLiteral("SELECT id, started_at, ended_at, end_reason, site, technician, adapter, port,"
                           " tool_version, notes FROM visits WHERE id = ?"));
        q.addBindValue(id);
        if (!q.exec()) {
            failSql(what, q.lastError());
            return std::nullopt;
        }
        if (!q.next()) {
            fail(ErrorKind::NotFound, QStringLiteral("visit %1").arg(id));
            return std::nullopt;
        }
        v.id = q.value(0).toString();
        v.startedAt = timeFrom(q.value(1).toString());
        v.endedAt = timeFrom(q.value(2).toString());
        v.endReason = endReasonFrom(q.value(3).toString());
        v.site = q.value(4).toString();
        v.technician = q.value(5).toString();
        v.adapter = q.value(6).toString();
        v.port = q.value(7).toString();
        v.toolVersion = q.value(8).toString();
        v.notes = q.value(9).toString();
    }
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral(
            "SELECT balancer, battery, serial, product_id, capacity, fw_version, bl_version,"
            " hw_revision, info_flags FROM visit_balancers WHERE visit_id = ? ORDER BY balancer"));
        q.addBindValue(id);
        if (!q.exec()) {
            failSql(what, q.lastError());
            return std::nullopt;
        }
        while (q.next()) {
            BalancerRecord b;
            b.balancer = q.value(0).toInt();
            b.battery = q.value(1).toInt();
            b.serial = q.value(2).toString();
            b.productId = static_cast<std::uint16_t>(q.value(3).toInt());
            b.capacity = static_cast<std::uint16_t>(q.value(4).toInt());
            b.fwVersion = static_cast<std::uint32_t>(q.value(5).toLongLong());
            b.blVersion = static_cast<std::uint32_t>(q.value(6).toLongLong());
            b.hwRevision = q.value(7).toInt();
            b.infoFlags = static_cast<std::uint8_t>(q.value(8).toInt());
            v.balancers.push_back(b);
        }
    }
    std::map<int, std::size_t> bySeq;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(
            QStringLiteral("SELECT seq, kind, taken_at, setpoint_mv, bank_mv, bank_ma, frames_sent,"
                           " frames_received, valid_received, crc_errors, unanswered_polls, no_answer_after,"
                           " ms_since_valid FROM snapshots WHERE visit_id = ? ORDER BY seq"));
        q.addBindValue(id);
        if (!q.exec()) {
            failSql(what, q.lastError());
            return std::nullopt;
        }
        while (q.next()) {
            SnapshotRecord s;
            s.seq = q.value(0).toInt();
            s.kind = snapshotKindFrom(q.value(1).toString()).value_or(SnapshotKind::Manual);
            s.takenAt = timeFrom(q.value(2).toString());
            s.values.balancerSetpoint = q.value(3).toInt();
            s.values.batVoltage = q.value(4).toInt();
            s.values.batCurrent = q.value(5).toInt();
            s.health.framesSent = static_cast<std::uint64_t>(q.value(6).toLongLong());
            s.health.framesReceived = static_cast<std::uint64_t>(q.value(7).toLongLong());
            s.health.validReceived = static_cast<std::uint64_t>(q.value(8).toLongLong());
            s.health.crcErrors = static_cast<std::uint64_t>(q.value(9).toLongLong());
            s.health.unansweredPolls = static_cast<std::uint64_t>(q.value(10).toLongLong());
            s.health.noAnswerAfter = q.value(11).toInt();
            s.health.msSinceValid = q.value(12).toLongLong();
            bySeq[s.seq] = v.snapshots.size();
            v.snapshots.push_back(std::move(s));
        }
    }
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(
            QStringLiteral("SELECT seq, balancer, info_id, cell_id, battery, serial, mv, ma, tenths_c,"
                           " info_flags, status_flags, product_id, capacity, fw_version, bl_version,"
                           " hw_revision, boot_mode, v_gain, i_gain, i_offset, crc_errors, missed_answers"
                           " FROM snapshot_cells WHERE visit_id = ? ORDER BY seq, balancer"));
        q.addBindValue(id);
        if (!q.exec()) {
            failSql(what, q.lastError());
            return std::nullopt;
        }
        while (q.next()) {
            const auto found = bySeq.find(q.value(0).toInt());
            if (found == bySeq.end()) {
                continue;
            }
            bank::BalancerReading r;
            r.id = q.value(2).toInt();
            r.cellId = q.value(3).toInt();
            r.battery = q.value(4).toInt();
            r.serial = q.value(5).toString().toStdString();
            r.millivolts = optionalInt(q.value(6));
            r.milliamps = q.value(7).toInt();
            r.tenthsCelsius = q.value(8).toInt();
            r.infoFlags = static_cast<std::uint8_t>(q.value(9).toInt());
            r.statusFlags = static_cast<std::uint8_t>(q.value(10).toInt());
            r.productId = static_cast<std::uint16_t>(q.value(11).toInt());
            r.capacity = static_cast<std::uint16_t>(q.value(12).toInt());
            r.fwVersion = static_cast<std::uint32_t>(q.value(13).toLongLong());
            r.blVersion = static_cast<std::uint32_t>(q.value(14).toLongLong());
            r.hwRevision = static_cast<std::uint8_t>(q.value(15).toInt());
            r.bootMode = static_cast<std::uint8_t>(q.value(16).toInt());
            r.vGain = static_cast<std::uint16_t>(q.value(17).toInt());
            r.iGain = static_cast<std::uint16_t>(q.value(18).toInt());
            r.iOffset = static_cast<std::uint16_t>(q.value(19).toInt());
            r.crcErrors = static_cast<std::uint32_t>(q.value(20).toLongLong());
            r.missedAnswers = static_cast<std::uint32_t>(q.value(21).toLongLong());
            v.snapshots[found->second].bank.balancers.push_back(std::move(r));
        }
    }
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(
            QStringLiteral("SELECT seq, at, kind, details FROM actions WHERE visit_id = ? ORDER BY seq"));
        q.addBindValue(id);
        if (!q.exec()) {
            failSql(what, q.lastError());
            return std::nullopt;
        }
        while (q.next()) {
            ActionRecord a;
            a.seq = q.value(0).toInt();
            a.at = timeFrom(q.value(1).toString());
            const auto kind = actionKindFrom(q.value(2).toString());
            if (!kind) {
                continue; // a kind this tool does not know: left out, not misread
            }
            a.kind = *kind;
            QString why;
            if (!actionFromDetails(a, QJsonDocument::fromJson(q.value(3).toString().toUtf8()).object(),
                                   &why)) {
                continue;
            }
            v.actions.push_back(std::move(a));
        }
    }
    return v;
}

std::optional<std::vector<VisitSummary>> ServiceLog::visits(const VisitFilter& filter) {
    if (!open_) {
        fail(ErrorKind::Unreachable, QStringLiteral("listing visits failed: it is not open"));
        return std::nullopt;
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QStringList where;
    QVariantList binds;
    if (!filter.site.isEmpty()) {
        where << QStringLiteral("LOWER(v.site) LIKE ? ESCAPE '\\'");
        binds << likePattern(filter.site);
    }
    if (!filter.technician.isEmpty()) {
        where << QStringLiteral("LOWER(v.technician) LIKE ? ESCAPE '\\'");
        binds << likePattern(filter.technician);
    }
    if (filter.from.isValid()) {
        where << QStringLiteral("v.started_at >= ?");
        binds << timeText(filter.from);
    }
    if (filter.to.isValid()) {
        where << QStringLiteral("v.started_at < ?");
        binds << timeText(filter.to);
    }
    if (!filter.serial.isEmpty()) {
        where << QStringLiteral("v.id IN (SELECT f.visit_id FROM visit_balancers f WHERE f.serial = ?)");
        binds << filter.serial;
    }
    const QString whereText =
        where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    const QString limitText = filter.limit > 0 ? QStringLiteral(" LIMIT %1").arg(filter.limit) : QString();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT v.id, v.started_at, v.ended_at, v.site, v.technician, v.adapter, v.serials,"
                       " v.balancer_count, v.snapshot_count, v.action_count"
                       " FROM visits v") +
        whereText + QStringLiteral(" ORDER BY v.started_at DESC, v.id") + limitText);
    for (const QVariant& b : binds) {
        q.addBindValue(b);
    }
    if (!q.exec()) {
        failSql(QStringLiteral("listing visits"), q.lastError());
        return std::nullopt;
    }
    std::vector<VisitSummary> list;
    while (q.next()) {
        VisitSummary s;
        s.id = q.value(0).toString();
        s.startedAt = timeFrom(q.value(1).toString());
        s.endedAt = timeFrom(q.value(2).toString());
        s.site = q.value(3).toString();
        s.technician = q.value(4).toString();
        s.adapter = q.value(5).toString();
        for (const QJsonValue& serial : QJsonDocument::fromJson(q.value(6).toString().toUtf8()).array()) {
            s.serials << serial.toString();
        }
        s.balancers = q.value(7).toInt();
        s.snapshots = q.value(8).toInt();
        s.actions = q.value(9).toInt();
        list.push_back(std::move(s));
    }
    return list;
}
std::optional<std::vector<BatteryTrendPoint>> ServiceLog::batteryTrend(const QString& serial) {
    if (!open_) {
        fail(ErrorKind::Unreachable, QStringLiteral("reading a battery's history failed: it is not open"));
        return std::nullopt;
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const QString what = QStringLiteral("reading the history of battery %1").arg(serial);
    std::vector<BatteryTrendPoint> points;
    std::map<QString, std::size_t> index;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(
            QStringLiteral("SELECT sb.visit_id, v.started_at, v.site, sb.cells, sb.min_mv, sb.min_cell, "
                           "sb.max_mv, sb.max_cell,"
                           " sb.avg_mv, sb.min_tenths_c, sb.max_tenths_c FROM snapshot_batteries sb"
                           " JOIN visits v ON v.id = sb.visit_id"
                           " WHERE sb.serial = ? AND sb.seq = (SELECT MAX(l.seq) FROM snapshot_batteries l"
                           " WHERE l.visit_id = sb.visit_id AND l.serial = sb.serial)"
                           " ORDER BY v.started_at, sb.visit_id, sb.battery"));
        q.addBindValue(serial);
        if (!q.exec()) {
            failSql(what, q.lastError());
            return std::nullopt;
        }
        while (q.next()) {
            const QString visitId = q.value(0).toString();
            if (index.count(visitId)) {
                continue; // two batteries of one serial in a visit: the first one
            }
            BatteryTrendPoint p;
            p.visitId = visitId;
            p.startedAt = timeFrom(q.value(1).toString());
            p.site = q.value(2).toString();
            p.cells = q.value(3).toInt();
            p.minMv = optionalInt(q.value(4));
            p.minCell = q.value(5).toInt();
            p.maxMv = optionalInt(q.value(6));
            p.maxCell = q.value(7).toInt();
            if (p.minMv && p.maxMv) {
                p.spreadMv = *p.maxMv - *p.minMv;
            }
            p.avgMv = optionalInt(q.value(8));
            p.minTenthsC = optionalInt(q.value(9));
            p.maxTenthsC = optionalInt(q.value(10));
            index[visitId] = points.size();
            points.push_back(std::move(p));
        }
    }
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT visit_id, fw_version FROM visit_balancers WHERE serial = ?"
                                 " GROUP BY visit_id, fw_version ORDER BY visit_id, fw_version"));
        q.addBindValue(serial);
        if (!q.exec()) {
            failSql(what, q.lastError());
            return std::nullopt;
        }
        while (q.next()) {
            const auto found = index.find(q.value(0).toString());
            if (found != index.end()) {
                points[found->second].fwVersions.push_back(
                    static_cast<std::uint32_t>(q.value(1).toLongLong()));
            }
        }
    }
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT visit_id, details FROM actions WHERE serial = ? AND kind = 'metrics'"
                                 " ORDER BY visit_id, seq"));
        q.addBindValue(serial);
        if (!q.exec()) {
            failSql(what, q.lastError());
            return std::nullopt;
        }
        while (q.next()) {
            const auto found = index.find(q.value(0).toString());
            if (found == index.end()) {
                continue;
            }
            const QJsonObject details = QJsonDocument::fromJson(q.value(1).toString().toUtf8()).object();
            const metrics::MetricsMetadata m =
                metricsFromJson(details.value(QStringLiteral("metrics")).toObject());
            points[found->second].cyclesBeforeEOL = m.cyclesBeforeEOL; // the last fetch of the visit wins
            points[found->second].secsLifeSpan = m.secsLifeSpan;
        }
    }
    return points;
}

std::optional<VisitComparison> ServiceLog::compareVisits(const QString& a, const QString& b) {
    const auto va = visit(a);
    if (!va) {
        return std::nullopt;
    }
    const auto vb = visit(b);
    if (!vb) {
        return std::nullopt;
    }
    VisitComparison c;
    c.a = summaryOf(*va);
    c.b = summaryOf(*vb);
    const SnapshotRecord* sa = closingSnapshot(*va);
    const SnapshotRecord* sb = closingSnapshot(*vb);
    c.seqA = sa ? sa->seq : 0;
    c.seqB = sb ? sb->seq : 0;
    using Key = std::pair<QString, int>;
    std::map<Key, std::size_t> index;
    auto add = [&](const SnapshotRecord* s, bool first) {
        if (!s) {
            return;
        }
        int place = 0;
        int battery = -1;
        for (std::size_t i = 0; i < s->bank.balancers.size(); ++i) {
            const bank::BalancerReading& r = s->bank.balancers[i];
            place = r.battery == battery ? place + 1 : 1;
            battery = r.battery;
            const QString serial = QString::fromStdString(r.serial);
            const int balancer = static_cast<int>(i) + 1;
            const Key key = serial.isEmpty() ? Key{QString(), balancer} : Key{serial, place};
            auto found = index.find(key);
            if (found == index.end()) {
                CellDifference d;
                d.serial = serial;
                d.place = serial.isEmpty() ? balancer : place;
                found = index.emplace(key, c.cells.size()).first;
                c.cells.push_back(d);
            }
            CellDifference& d = c.cells[found->second];
            if (first) {
                d.balancerA = balancer;
                d.mvA = r.millivolts;
                d.tenthsCA = r.millivolts ? std::optional<int>(r.tenthsCelsius) : std::nullopt;
            } else {
                d.balancerB = balancer;
                d.mvB = r.millivolts;
                d.tenthsCB = r.millivolts ? std::optional<int>(r.tenthsCelsius) : std::nullopt;
            }
        }
    };
    add(sa, true);
    add(sb, false);
    return c;
}

std::optional<QString> ServiceLog::previousVisit(const QString& id) {
    if (!open_) {
        fail(ErrorKind::Unreachable, QStringLiteral("looking for the previous visit failed: it is not open"));
        return std::nullopt;
    }
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    // Through the serial index: the visits that found one of this visit's batteries, then the
    // latest of them before it.
    q.prepare(QStringLiteral(
        "SELECT v.id FROM visits v, visits me WHERE me.id = ? AND v.id <> me.id"
        " AND (v.started_at < me.started_at OR (v.started_at = me.started_at AND v.id < me.id))"
        " AND v.id IN (SELECT b.visit_id FROM visit_balancers b WHERE b.serial IN"
        " (SELECT mine.serial FROM visit_balancers mine WHERE mine.visit_id = ? AND mine.serial <> ''))"
        " ORDER BY v.started_at DESC, v.id DESC LIMIT 1"));
    q.addBindValue(id);
    q.addBindValue(id);
    if (!q.exec()) {
        failSql(QStringLiteral("looking for the previous visit"), q.lastError());
        return std::nullopt;
    }
    return q.next() ? q.value(0).toString() : QString();
}

std::optional<RememberedDetails> ServiceLog::remembered() {
    if (!open_) {
        fail(ErrorKind::Unreachable, QStringLiteral("reading the last site failed: it is not open"));
        return std::nullopt;
    }
    RememberedDetails d;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    for (const char* column : {"site", "technician"}) {
        if (!q.exec(QStringLiteral("SELECT %1 FROM visits WHERE %1 <> '' ORDER BY started_at DESC LIMIT 1")
                        .arg(QLatin1String(column)))) {
            failSql(QStringLiteral("reading the last site"), q.lastError());
            return std::nullopt;
        }
        if (q.next()) {
            (qstrcmp(column, "site") == 0 ? d.site : d.technician) = q.value(0).toString();
        }
    }
    return d;
}

std::optional<QByteArray> ServiceLog::exportVisits(const QStringList& ids) {
    if (!open_) {
        fail(ErrorKind::Unreachable, QStringLiteral("exporting failed: it is not open"));
        return std::nullopt;
    }
    QStringList list = ids;
    if (list.isEmpty()) {
        QSqlQuery q(QSqlDatabase::database(connection_, false));
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT id FROM visits ORDER BY started_at, id"))) {
            failSql(QStringLiteral("exporting"), q.lastError());
            return std::nullopt;
        }
        while (q.next()) {
            list << q.value(0).toString();
        }
    }
    std::vector<VisitRecord> visits;
    for (const QString& id : list) {
        auto v = visit(id);
        if (!v) {
            return std::nullopt;
        }
        visits.push_back(std::move(*v));
    }
    return exportDocument(visits);
}

ImportResult ServiceLog::importVisits(const QByteArray& document) {
    ImportResult result;
    ParsedExport parsed = parseExport(document);
    if (!parsed.error.isEmpty()) {
        fail(ErrorKind::BadInput, QStringLiteral("importing"), parsed.error);
        result.error = error_.message;
        return result;
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    const QString what = QStringLiteral("importing");
    // The whole file in one transaction: a failure leaves no visit half imported.
    const bool ok = transaction(what, [&] {
        for (const VisitRecord& v : parsed.visits) {
            bool exists = false;
            if (!visitExists(v.id, &exists)) {
                return false;
            }
            std::set<int> haveSnapshots;
            std::set<int> haveActions;
            if (!exists) {
                QSqlQuery q(db);
                q.prepare(QStringLiteral(
                    "INSERT INTO visits (id, started_at, ended_at, end_reason, site, technician,"
                    " adapter, port, tool_version, notes) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
                q.addBindValue(v.id);
                q.addBindValue(timeText(v.startedAt));
                q.addBindValue(v.endedAt.isValid() ? QVariant(timeText(v.endedAt))
                                                   : QVariant(QMetaType::fromType<QString>()));
                q.addBindValue(text(endReasonText(v.endReason)));
                q.addBindValue(text(v.site));
                q.addBindValue(text(v.technician));
                q.addBindValue(text(v.adapter));
                q.addBindValue(text(v.port));
                q.addBindValue(text(v.toolVersion));
                q.addBindValue(text(v.notes));
                if (!q.exec()) {
                    return failSql(what, q.lastError());
                }
            } else {
                for (auto [table, set] :
                     {std::pair{"snapshots", &haveSnapshots}, std::pair{"actions", &haveActions}}) {
                    QSqlQuery q(db);
                    q.setForwardOnly(true);
                    q.prepare(
                        QStringLiteral("SELECT seq FROM %1 WHERE visit_id = ?").arg(QLatin1String(table)));
                    q.addBindValue(v.id);
                    if (!q.exec()) {
                        return failSql(what, q.lastError());
                    }
                    while (q.next()) {
                        set->insert(q.value(0).toInt());
                    }
                }
                // What the other machine knew and this one did not: the end, the notes, site and technician.
                QSqlQuery q(db);
                q.prepare(QStringLiteral(
                    "UPDATE visits SET ended_at = COALESCE(ended_at, ?),"
                    " end_reason = CASE WHEN end_reason = '' THEN ? ELSE end_reason END,"
                    " notes = CASE WHEN notes = '' THEN ? ELSE notes END,"
                    " site = CASE WHEN site = '' THEN ? ELSE site END,"
                    " technician = CASE WHEN technician = '' THEN ? ELSE technician END WHERE id = ?"));
                q.addBindValue(v.endedAt.isValid() ? QVariant(timeText(v.endedAt))
                                                   : QVariant(QMetaType::fromType<QString>()));
                q.addBindValue(text(endReasonText(v.endReason)));
                q.addBindValue(text(v.notes));
                q.addBindValue(text(v.site));
                q.addBindValue(text(v.technician));
                q.addBindValue(v.id);
                if (!q.exec()) {
                    return failSql(what, q.lastError());
                }
            }
            if (!upsertBalancers(v.id, v.balancers) || !refreshSerials(v.id)) {
                return false;
            }
            int added = 0;
            for (const SnapshotRecord& s : v.snapshots) {
                if (!haveSnapshots.insert(s.seq).second) {
                    continue;
                }
                if (!insertSnapshot(v.id, s, s.seq)) {
                    return false;
                }
                ++added;
                ++result.snapshotsAdded;
            }
            for (const ActionRecord& a : v.actions) {
                if (!haveActions.insert(a.seq).second) {
                    continue;
                }
                if (!insertAction(v.id, a, a.seq)) {
                    return false;
                }
                ++added;
                ++result.actionsAdded;
            }
            if (!exists) {
                ++result.visitsAdded;
            } else if (added > 0) {
                ++result.visitsMerged;
            } else {
                ++result.visitsUnchanged;
            }
        }
        return true;
    });
    result.ok = ok;
    if (!ok) {
        result = ImportResult{};
        result.error = error_.message;
    }
    return result;
}

} // namespace zanst::servicelog
