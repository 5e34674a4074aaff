#include "servicelog/schema.hpp"

#include <QSqlError>
#include <QSqlQuery>

namespace zanst::servicelog {

namespace {

// Version 1: visits, the balancers found, snapshots with a row per cell and per battery, and
// the actions with their details as JSON text. Times are ISO 8601 texts in UTC.
QStringList version1(Backend) {
    return {
        QStringLiteral("CREATE TABLE zanst_schema (version INTEGER NOT NULL)"),
        QStringLiteral("CREATE TABLE visits ("
                       " id TEXT PRIMARY KEY,"
                       " started_at TEXT NOT NULL,"
                       " ended_at TEXT,"
                       " end_reason TEXT NOT NULL DEFAULT '',"
                       " site TEXT NOT NULL DEFAULT '',"
                       " technician TEXT NOT NULL DEFAULT '',"
                       " adapter TEXT NOT NULL DEFAULT '',"
                       " port TEXT NOT NULL DEFAULT '',"
                       " tool_version TEXT NOT NULL DEFAULT '',"
                       " notes TEXT NOT NULL DEFAULT '',"
                       // for listings without a pass over the other tables: the batteries found
                       // (JSON), how many balancers, snapshots and actions
                       " serials TEXT NOT NULL DEFAULT '[]',"
                       " balancer_count INTEGER NOT NULL DEFAULT 0,"
                       " snapshot_count INTEGER NOT NULL DEFAULT 0,"
                       " action_count INTEGER NOT NULL DEFAULT 0)"),
        QStringLiteral("CREATE INDEX visits_started ON visits (started_at)"),
        QStringLiteral("CREATE INDEX visits_site ON visits (site)"),
        QStringLiteral("CREATE TABLE visit_balancers ("
                       " visit_id TEXT NOT NULL REFERENCES visits (id) ON DELETE CASCADE,"
                       " balancer INTEGER NOT NULL,"
                       " battery INTEGER NOT NULL,"
                       " serial TEXT NOT NULL,"
                       " product_id INTEGER NOT NULL,"
                       " capacity INTEGER NOT NULL,"
                       " fw_version BIGINT NOT NULL,"
                       " bl_version BIGINT NOT NULL,"
                       " hw_revision INTEGER NOT NULL,"
                       " info_flags INTEGER NOT NULL,"
                       " PRIMARY KEY (visit_id, balancer))"),
        QStringLiteral("CREATE INDEX visit_balancers_serial ON visit_balancers (serial)"),
        QStringLiteral("CREATE TABLE snapshots ("
                       " visit_id TEXT NOT NULL REFERENCES visits (id) ON DELETE CASCADE,"
                       " seq INTEGER NOT NULL,"
                       " kind TEXT NOT NULL,"
                       " taken_at TEXT NOT NULL,"
                       " setpoint_mv INTEGER NOT NULL,"
                       " bank_mv INTEGER NOT NULL,"
                       " bank_ma INTEGER NOT NULL,"
                       " cells INTEGER NOT NULL,"
                       " min_mv INTEGER, min_cell INTEGER, max_mv INTEGER, max_cell INTEGER,"
                       " spread_mv INTEGER NOT NULL,"
                       " avg_tenths_c INTEGER, max_tenths_c INTEGER,"
                       " flagged INTEGER NOT NULL,"
                       " frames_sent BIGINT NOT NULL, frames_received BIGINT NOT NULL,"
                       " valid_received BIGINT NOT NULL, crc_errors BIGINT NOT NULL,"
                       " unanswered_polls BIGINT NOT NULL, no_answer_after INTEGER NOT NULL,"
                       " ms_since_valid BIGINT NOT NULL,"
                       " PRIMARY KEY (visit_id, seq))"),
        QStringLiteral(
            "CREATE TABLE snapshot_cells ("
            " visit_id TEXT NOT NULL,"
            " seq INTEGER NOT NULL,"
            " balancer INTEGER NOT NULL,"
            " info_id INTEGER NOT NULL, cell_id INTEGER NOT NULL,"
            " battery INTEGER NOT NULL,"
            " serial TEXT NOT NULL,"
            " mv INTEGER,"
            " ma INTEGER NOT NULL,"
            " tenths_c INTEGER NOT NULL,"
            " info_flags INTEGER NOT NULL, status_flags INTEGER NOT NULL,"
            " product_id INTEGER NOT NULL, capacity INTEGER NOT NULL,"
            " fw_version BIGINT NOT NULL, bl_version BIGINT NOT NULL,"
            " hw_revision INTEGER NOT NULL, boot_mode INTEGER NOT NULL,"
            " v_gain INTEGER NOT NULL, i_gain INTEGER NOT NULL, i_offset INTEGER NOT NULL,"
            " crc_errors BIGINT NOT NULL, missed_answers BIGINT NOT NULL,"
            " PRIMARY KEY (visit_id, seq, balancer),"
            " FOREIGN KEY (visit_id, seq) REFERENCES snapshots (visit_id, seq) ON DELETE CASCADE)"),
        QStringLiteral(
            "CREATE TABLE snapshot_batteries ("
            " visit_id TEXT NOT NULL,"
            " seq INTEGER NOT NULL,"
            " battery INTEGER NOT NULL,"
            " serial TEXT NOT NULL,"
            " cells INTEGER NOT NULL,"
            " min_mv INTEGER, min_cell INTEGER, max_mv INTEGER, max_cell INTEGER,"
            " avg_mv INTEGER,"
            " min_tenths_c INTEGER, max_tenths_c INTEGER,"
            " fw_version BIGINT NOT NULL,"
            " PRIMARY KEY (visit_id, seq, battery),"
            " FOREIGN KEY (visit_id, seq) REFERENCES snapshots (visit_id, seq) ON DELETE CASCADE)"),
        QStringLiteral("CREATE INDEX snapshot_batteries_serial ON snapshot_batteries (serial)"),
        QStringLiteral("CREATE TABLE actions ("
                       " visit_id TEXT NOT NULL REFERENCES visits (id) ON DELETE CASCADE,"
                       " seq INTEGER NOT NULL,"
                       " at TEXT NOT NULL,"
                       " kind TEXT NOT NULL,"
                       " balancer INTEGER NOT NULL,"
                       " serial TEXT NOT NULL,"
                       " outcome TEXT NOT NULL,"
                       " details TEXT NOT NULL,"
                       " PRIMARY KEY (visit_id, seq))"),
        QStringLiteral("CREATE INDEX actions_serial ON actions (serial, kind)"),
        QStringLiteral("INSERT INTO zanst_schema (version) VALUES (0)"),
    };
}

bool exec(QSqlDatabase& db, const QString& sql, QString* error, QSqlError* sqlError = nullptr) {
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        if (error) {
            *error = q.lastError().text();
        }
        if (sqlError) {
            *sqlError = q.lastError();
        }
        return false;
    }
    return true;
}

} // namespace

const std::vector<Migration>& migrations() {
    static const std::vector<Migration> list{
        {1, QStringLiteral("visits, balancers, snapshots, actions"), version1},
    };
    return list;
}

int currentSchemaVersion() {
    return migrations().back().version;
}

int schemaVersion(QSqlDatabase& db, QString* error, QSqlError* sqlError) {
    if (!db.tables().contains(QStringLiteral("zanst_schema"))) {
        // tables() swallows errors: ask the database itself whether it can be read at all
        QSqlQuery probe(db);
        if (!probe.exec(QStringLiteral("SELECT 1"))) {
            if (error) {
                *error = probe.lastError().text();
            }
            if (sqlError) {
                *sqlError = probe.lastError();
            }
            return -1;
        }
        return 0;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT version FROM zanst_schema"))) {
        if (error) {
            *error = q.lastError().text();
        }
        if (sqlError) {
            *sqlError = q.lastError();
        }
        return -1;
    }
    if (!q.next()) {
        if (error) {
            *error = QStringLiteral("the version table is empty");
        }
        return -1;
    }
    return q.value(0).toInt();
}

MigrationResult migrate(QSqlDatabase& db, Backend backend, const std::vector<Migration>& steps) {
    MigrationResult result;
    QString error;
    result.from = schemaVersion(db, &error, &result.sqlError);
    result.to = result.from;
    if (result.from < 0) {
        result.error = QStringLiteral("cannot read its version: %1").arg(error);
        return result;
    }
    const int last = steps.empty() ? 0 : steps.back().version;
    if (result.from > last) {
        result.error = QStringLiteral("it has schema version %1, newer than this tool knows (%2); "
                                      "use a newer Zanst with it")
                           .arg(result.from)
                           .arg(last);
        return result;
    }
    for (const Migration& step : steps) {
        if (step.version <= result.to) {
            continue;
        }
        if (step.version != result.to + 1) {
            result.error = QStringLiteral("no migration to version %1").arg(result.to + 1);
            return result;
        }
        if (!db.transaction()) {
            result.sqlError = db.lastError();
            result.error = QStringLiteral("cannot begin the migration to version %1: %2")
                               .arg(step.version)
                               .arg(db.lastError().text());
            return result;
        }
        bool ok = true;
        for (const QString& sql : step.statements(backend)) {
            if (!exec(db, sql, &error, &result.sqlError)) {
                ok = false;
                break;
            }
        }
        if (ok) {
            ok = exec(db, QStringLiteral("UPDATE zanst_schema SET version = %1").arg(step.version), &error,
                      &result.sqlError);
        }
        if (ok && !db.commit()) {
            ok = false;
            result.sqlError = db.lastError();
            error = db.lastError().text();
        }
        if (!ok) {
            db.rollback();
            result.error = QStringLiteral("migration to version %1 (%2) failed: %3")
                               .arg(step.version)
                               .arg(step.description, error);
            return result;
        }
        result.to = step.version;
    }
    result.ok = true;
    return result;
}

} // namespace zanst::servicelog
