#include "servicelog/location.hpp"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace zanst::servicelog {

namespace {

QString percentDecoded(const QString& text) {
    return QUrl::fromPercentEncoding(text.toUtf8());
}

LocationResult failure(const QString& message) {
    return {std::nullopt, message};
}

// Splits the URL by hand: QUrl refuses a percent-encoded socket directory as host and would keep
// the password in its error texts.
LocationResult parsePostgres(const QString& text, const QString& scheme) {
    Location loc;
    loc.backend = Backend::Postgres;
    QString rest = text.mid(scheme.size() + 3); // after "scheme://"
    QString query;
    if (const qsizetype q = rest.indexOf(QLatin1Char('?')); q >= 0) {
        query = rest.mid(q + 1);
        rest = rest.left(q);
    }
    QString authority = rest;
    QString path;
    if (const qsizetype slash = rest.indexOf(QLatin1Char('/')); slash >= 0) {
        authority = rest.left(slash);
        path = rest.mid(slash + 1);
    }
    if (const qsizetype at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        if (const qsizetype colon = userInfo.indexOf(QLatin1Char(':')); colon >= 0) {
            loc.user = percentDecoded(userInfo.left(colon));
            loc.password = percentDecoded(userInfo.mid(colon + 1));
        } else {
            loc.user = percentDecoded(userInfo);
        }
    }
    QString hostPart = authority;
    if (authority.startsWith(QLatin1Char('['))) { // [::1]:5432
        const qsizetype close = authority.indexOf(QLatin1Char(']'));
        if (close < 0) {
            return failure(QStringLiteral("Service log URL: unclosed '[' in the host"));
        }
        hostPart = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (after.startsWith(QLatin1Char(':'))) {
            bool ok = false;
            loc.port = after.mid(1).toInt(&ok);
            if (!ok || loc.port <= 0 || loc.port > 65535) {
                return failure(QStringLiteral("Service log URL: the port is not a number from 1 to 65535"));
            }
        }
    } else if (const qsizetype colon = authority.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        hostPart = authority.left(colon);
        bool ok = false;
        loc.port = authority.mid(colon + 1).toInt(&ok);
        if (!ok || loc.port <= 0 || loc.port > 65535) {
            return failure(QStringLiteral("Service log URL: the port is not a number from 1 to 65535"));
        }
    }
    loc.host = percentDecoded(hostPart);
    loc.database = percentDecoded(path);
    QStringList options;
    const QUrlQuery items(query);
    for (const auto& [key, value] : items.queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("host")) {
            loc.host = value;
        } else if (key == QLatin1String("port")) {
            bool ok = false;
            loc.port = value.toInt(&ok);
            if (!ok || loc.port <= 0 || loc.port > 65535) {
                return failure(QStringLiteral("Service log URL: the port is not a number from 1 to 65535"));
            }
        } else if (key == QLatin1String("dbname")) {
            loc.database = value;
        } else if (key == QLatin1String("user")) {
            loc.user = value;
        } else if (key == QLatin1String("password")) {
            loc.password = value;
        } else {
            static const QRegularExpression keyword(QStringLiteral("^[a-z_]+$"));
            if (!keyword.match(key).hasMatch() || value.contains(QLatin1Char(';')) ||
                value.contains(QLatin1Char(' '))) {
                return failure(
                    QStringLiteral("Service log URL: option \"%1\" is not a connection keyword").arg(key));
            }
            options << key + QLatin1Char('=') + value;
        }
    }
    if (loc.database.isEmpty()) {
        return failure(QStringLiteral("Service log URL %1 names no database").arg(loc.displayName()));
    }
    loc.connectOptions = options.join(QLatin1Char(';'));
    return {loc, {}};
}

} // namespace

QString Location::displayName() const {
    if (backend == Backend::Sqlite) {
        return path;
    }
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty()) {
        text += user + QLatin1Char('@');
    }
    const bool socket = host.startsWith(QLatin1Char('/'));
    if (!socket) {
        text += host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
        if (port > 0) {
            text += QLatin1Char(':') + QString::number(port);
        }
    }
    text += QLatin1Char('/') + database;
    if (socket) {
        text += QStringLiteral("?host=") + host;
        if (port > 0) {
            text += QStringLiteral("&port=") + QString::number(port);
        }
    }
    return text;
}

QString Location::redact(const QString& text) const {
    QString out = redactUrls(text);
    if (!password.isEmpty()) {
        out.replace(password, QStringLiteral("***"));
        const QString encoded = QString::fromUtf8(QUrl::toPercentEncoding(password));
        if (encoded != password) {
            out.replace(encoded, QStringLiteral("***"));
        }
    }
    return out;
}

QString redactUrls(const QString& text) {
    // scheme://user:secret@ -> scheme://user:***@ ; password=secret -> password=***
    static const QRegularExpression userInfo(
        QStringLiteral("([a-zA-Z][a-zA-Z0-9+.-]*://[^:/@\\s]*):[^@\\s]*@"));
    static const QRegularExpression keyword(QStringLiteral("(password=)[^&;\\s]*"));
    QString out = text;
    out.replace(userInfo, QStringLiteral("\\1:***@"));
    out.replace(keyword, QStringLiteral("\\1***"));
    return out;
}

LocationResult parseLocation(const QString& raw) {
    const QString text = raw.trimmed();
    if (text.isEmpty()) {
        return failure(QStringLiteral("Service log: the location is empty"));
    }
    for (const char* scheme : {"postgresql", "postgres"}) {
        const QString name = QLatin1String(scheme);
        if (text.startsWith(name + QStringLiteral("://"), Qt::CaseInsensitive)) {
            return parsePostgres(text, name);
        }
    }
    Location loc;
    loc.backend = Backend::Sqlite;
    QString path = text;
    if (text.startsWith(QStringLiteral("sqlite://"), Qt::CaseInsensitive)) {
        path = percentDecoded(text.mid(9)); // sqlite:///abs -> /abs
    } else if (text.startsWith(QStringLiteral("sqlite:"), Qt::CaseInsensitive)) {
        path = percentDecoded(text.mid(7));
    } else if (const qsizetype sep = text.indexOf(QStringLiteral("://")); sep > 0) {
        return failure(QStringLiteral("Service log: unknown kind of location \"%1\" (sqlite or postgresql)")
                           .arg(text.left(sep)));
    }
    if (path.isEmpty()) {
        return failure(QStringLiteral("Service log: the SQLite URL names no file"));
    }
    loc.path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    return {loc, {}};
}

LocationResult resolveLocation(const QString& commandLineValue, const QString& dataFolder) {
    if (!commandLineValue.trimmed().isEmpty()) {
        return parseLocation(commandLineValue);
    }
    const QString fromEnvironment = qEnvironmentVariable(kServiceDbVariable);
    if (!fromEnvironment.trimmed().isEmpty()) {
        return parseLocation(fromEnvironment);
    }
    Location loc;
    loc.backend = Backend::Sqlite;
    loc.path = QDir(dataFolder).filePath(QString::fromLatin1(kDefaultFileName));
    return {loc, {}};
}

} // namespace zanst::servicelog
