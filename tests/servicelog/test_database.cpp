#include "test_database.hpp"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <atomic>

namespace zanst::test {

namespace {

QString connectionName() {
    static std::atomic<int> n{0};
    return QStringLiteral("zanst-test-admin-%1").arg(++n);
}

QSqlDatabase connectTo(const servicelog::Location& loc, const QString& name) {
    QSqlDatabase db = QSqlDatabase::addDatabase(
        loc.backend == servicelog::Backend::Sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"),
        name);
    if (loc.backend == servicelog::Backend::Sqlite) {
        db.setDatabaseName(loc.path);
    } else {
        db.setHostName(loc.host);
        if (loc.port > 0) {
            db.setPort(loc.port);
        }
        db.setDatabaseName(loc.database);
        db.setUserName(loc.user);
        db.setPassword(loc.password);
    }
    db.open();
    return db;
}

// Runs statements on `loc` from a short-lived connection; returns the first error text.
QString run(const servicelog::Location& loc, const QStringList& statements) {
    const QString name = connectionName();
    QString error;
    {
        QSqlDatabase db = connectTo(loc, name);
        if (!db.isOpen()) {
            error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            for (const QString& sql : statements) {
                if (!q.exec(sql)) {
                    error = q.lastError().text();
                    break;
                }
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

} // namespace

RawConnection::RawConnection(const servicelog::Location& location) : name_(connectionName()) {
    db_ = connectTo(location, name_);
}

RawConnection::~RawConnection() {
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
}

TestDatabase::TestDatabase() {
    location_ = make(QStringLiteral("log"));
}

servicelog::Location TestDatabase::make(const QString& name) {
    if (kTestBackend == servicelog::Backend::Sqlite) {
        servicelog::Location loc;
        loc.backend = servicelog::Backend::Sqlite;
        loc.path = dir_.filePath(name + QStringLiteral(".sqlite"));
        return loc;
    }
    const QString url = qEnvironmentVariable("ZANST_TEST_PG_URL");
    if (url.isEmpty()) {
        error_ = QStringLiteral(
            "ZANST_TEST_PG_URL is not set: run this binary through tests/support/with-postgres.sh");
        return {};
    }
    const auto parsed = servicelog::parseLocation(url);
    if (!parsed.location) {
        error_ = parsed.error;
        return {};
    }
    servicelog::Location admin = *parsed.location;
    const QString database =
        QStringLiteral("zt_%1_%2").arg(name, QUuid::createUuid().toString(QUuid::Id128).left(12));
    const QString e = run(admin, {QStringLiteral("CREATE DATABASE %1").arg(database)});
    if (!e.isEmpty()) {
        error_ = QStringLiteral("cannot create a test database: ") + e;
        return {};
    }
    databases_ << database;
    servicelog::Location loc = admin;
    loc.database = database;
    return loc;
}

servicelog::Location TestDatabase::sibling(const QString& name) {
    return make(name);
}

bool TestDatabase::execute(const QString& sql, const servicelog::Location* where) {
    return run(where ? *where : location_, {sql}).isEmpty();
}

TestDatabase::~TestDatabase() {
    if (databases_.isEmpty()) {
        return;
    }
    const auto parsed = servicelog::parseLocation(qEnvironmentVariable("ZANST_TEST_PG_URL"));
    if (!parsed.location) {
        return;
    }
    QStringList drops;
    for (const QString& d : databases_) {
        drops << QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(d);
    }
    run(*parsed.location, drops);
}

} // namespace zanst::test
