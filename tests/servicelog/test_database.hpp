#pragma once
// A fresh service log for one test: an SQLite file in a temporary folder, or, in the PostgreSQL
// binary, a database of its own on the throw-away server that tests/support/with-postgres.sh
// starts (ZANST_TEST_PG_URL). Without that server the PostgreSQL tests fail; they never skip.

#include "servicelog/location.hpp"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace zanst::test {

#ifdef ZANST_TEST_POSTGRES
inline constexpr servicelog::Backend kTestBackend = servicelog::Backend::Postgres;
#else
inline constexpr servicelog::Backend kTestBackend = servicelog::Backend::Sqlite;
#endif

// A plain connection to a test database, beside the log's own; closed when it goes.
class RawConnection {
  public:
    explicit RawConnection(const servicelog::Location& location);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;
    QSqlDatabase& db() { return db_; }
    bool ok() const { return db_.isOpen(); }

  private:
    QString name_;
    QSqlDatabase db_;
};

class TestDatabase {
  public:
    TestDatabase();
    ~TestDatabase();

    // Empty when the database could not be made (error() says why).
    bool ok() const { return error_.isEmpty(); }
    const QString& error() const { return error_; }
    const servicelog::Location& location() const { return location_; }
    // Another location of the same kind, for a second log beside this one (import targets).
    servicelog::Location sibling(const QString& name);
    QString folder() const { return dir_.path(); }

    // Runs one SQL statement on the database from a connection of its own.
    bool execute(const QString& sql, const servicelog::Location* where = nullptr);

  private:
    servicelog::Location make(const QString& name);
    QTemporaryDir dir_;
    servicelog::Location location_;
    QStringList databases_; // PostgreSQL databases to drop
    QString error_;
};

} // namespace zanst::test
