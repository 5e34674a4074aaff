#pragma once
// The service log's schema and its migrations. The version lives in the one-row table
// zanst_schema; a database without it is empty (version 0). Each migration takes the database
// from the version before it to its own, in one transaction: a failed step leaves the older
// version whole. A database newer than the tool knows is refused, never touched.

#include "servicelog/location.hpp"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace zanst::servicelog {

struct Migration {
    int version = 0;     // the version it produces
    QString description; // what it changes
    // Statements for each backend; the runner executes them in order.
    std::function<QStringList(Backend)> statements;
};

// The log's own history, oldest first.
const std::vector<Migration>& migrations();
int currentSchemaVersion();

struct MigrationResult {
    bool ok = false;
    int from = 0; // the version found
    int to = 0;   // the version it has now
    QString error;
    QSqlError sqlError; // the database's own error, when it gave one
};

// The version a database holds: 0 when it has no version table, -1 when it cannot be read
// (`error` says why).
int schemaVersion(QSqlDatabase& db, QString* error = nullptr, QSqlError* sqlError = nullptr);

// Brings `db` to the last version of `steps` (by default the log's own). `steps` must be numbered
// 1, 2, 3, ... in order.
MigrationResult migrate(QSqlDatabase& db, Backend backend,
                        const std::vector<Migration>& steps = migrations());

} // namespace zanst::servicelog
