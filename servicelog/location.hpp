#pragma once
// Where the service log lives: an SQLite file (the default, in the tool's data folder) or a
// PostgreSQL database shared by a team, named by `--service-db URL` or ZANST_SERVICE_DB.
//
//   sqlite:///abs/path/log.sqlite, sqlite:relative.sqlite or a plain file path
//   postgresql://[user[:password]@][host][:port]/dbname[?host=/socket/dir&port=5432&sslmode=...]
//   (postgres:// likewise; a host that starts with '/' is a socket directory)
//
// A password in a URL is used for the connection only: it is never written anywhere and never
// shown. Without one, libpq takes it from ~/.pgpass or PGPASSFILE (or PGPASSWORD).

#include <QString>

#include <optional>

namespace zanst::servicelog {

inline constexpr const char* kServiceDbVariable = "ZANST_SERVICE_DB";
inline constexpr const char* kDefaultFileName = "service-log.sqlite";

enum class Backend { Sqlite, Postgres };

struct Location {
    Backend backend = Backend::Sqlite;
    QString path; // SQLite: the file
    // PostgreSQL
    QString host; // name, address or socket directory; empty: libpq's default
    int port = 0; // 0: libpq's default
    QString database;
    QString user;
    QString password;       // only from the URL; never shown
    QString connectOptions; // libpq keywords, ';'-separated, as Qt's driver takes them

    // The location as it may be shown: the file, or the URL without any password.
    QString displayName() const;
    // `text` with the password (and its percent-encoded form) cut out, for every message.
    QString redact(const QString& text) const;
};

struct LocationResult {
    std::optional<Location> location;
    QString error; // a message that names no password
};

// Parses a URL or a file path. A relative file path is taken relative to the current folder.
LocationResult parseLocation(const QString& text);

// `--service-db` wins, then ZANST_SERVICE_DB, then the SQLite file in `dataFolder`
// (the tool's data folder, "Kestrova Energy/Zanthe Service Tool" under the data home).
LocationResult resolveLocation(const QString& commandLineValue, const QString& dataFolder);

// Removes "user:password@" passwords from any URL-looking text, for messages built elsewhere.
QString redactUrls(const QString& text);

} // namespace zanst::servicelog
