#include "cli/service_log_access.hpp"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>

namespace zanst::cli {

using servicelog::VisitSummary;

namespace {

// Minutes are enough to tell visits apart in a list; the JSON has the whole time.
std::string shortTime(const QDateTime& t) {
    return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString() + "Z"
                       : std::string("open");
}

std::string orDash(const QString& s) {
    return s.isEmpty() ? std::string("-") : s.toStdString();
}

constexpr std::size_t kShownPrefix = 8; // where an ambiguous prefix lists the candidates

} // namespace

OpenedLog openServiceLog(const std::optional<std::string>& option, const std::string& dataFolder) {
    OpenedLog opened;
    const servicelog::LocationResult where = servicelog::resolveLocation(
        option ? QString::fromStdString(*option) : QString(), QString::fromStdString(dataFolder));
    if (!where.location) {
        opened.failure = ExitCode::Usage;
        opened.error = where.error.toStdString();
        return opened;
    }
    const servicelog::Location& location = *where.location;
    if (location.backend == servicelog::Backend::Sqlite && !QFileInfo::exists(location.path)) {
        opened.failure = ExitCode::Failed;
        opened.error = "there is no service log at " + location.path.toStdString() +
                       " (the tool makes it at the first visit; --service-db names another)";
        return opened;
    }
    auto log = std::make_unique<servicelog::ServiceLog>();
    if (!log->open(location)) {
        opened.failure = ExitCode::Failed;
        opened.error = log->lastError().message.toStdString();
        return opened;
    }
    opened.log = std::move(log);
    return opened;
}

FoundVisit findVisit(servicelog::ServiceLog& log, const std::string& text) {
    FoundVisit found;
    const QString wanted = QString::fromStdString(text).trimmed().toLower();
    const auto all = log.visits();
    if (!all) {
        found.failure = ExitCode::Failed;
        found.error = log.lastError().message.toStdString();
        return found;
    }
    std::vector<QString> matches;
    for (const VisitSummary& v : *all) {
        if (v.id.toLower() == wanted) {
            found.id = v.id;
            return found;
        }
        if (!wanted.isEmpty() && v.id.toLower().startsWith(wanted)) {
            matches.push_back(v.id);
        }
    }
    if (matches.size() == 1) {
        found.id = matches.front();
        return found;
    }
    found.failure = ExitCode::Usage;
    if (matches.empty()) {
        found.error = "no visit \"" + text + "\" in the service log (zanst-cli visits lists them)";
    } else {
        found.error = "\"" + text + "\" names " + std::to_string(matches.size()) + " visits (";
        for (std::size_t i = 0; i < matches.size() && i < 3; ++i) {
            found.error +=
                (i > 0 ? ", " : "") + matches[i].left(static_cast<int>(kShownPrefix)).toStdString() + "...";
        }
        found.error += std::string(matches.size() > 3 ? ", ..." : "") + "); give more of the id";
    }
    return found;
}

std::string visitsTable(const std::vector<VisitSummary>& visits) {
    if (visits.empty()) {
        return "No visits\n";
    }
    using Row = std::array<std::string, 7>;
    std::vector<Row> rows = {{"id", "started", "ended", "site", "technician", "balancers", "batteries"}};
    for (const VisitSummary& v : visits) {
        std::string serials;
        for (const QString& s : v.serials) {
            serials += (serials.empty() ? "" : ",") + s.toStdString();
        }
        rows.push_back({v.id.toStdString(), shortTime(v.startedAt), shortTime(v.endedAt), orDash(v.site),
                        orDash(v.technician), std::to_string(v.balancers), serials.empty() ? "-" : serials});
    }
    std::array<std::size_t, 7> width{};
    for (const Row& r : rows) {
        for (std::size_t c = 0; c < r.size(); ++c) {
            width[c] = std::max(width[c], r[c].size());
        }
    }
    std::string out;
    for (const Row& r : rows) {
        std::string line;
        for (std::size_t c = 0; c < r.size(); ++c) {
            const std::string pad(width[c] - r[c].size(), ' ');
            line += (c > 0 ? "  " : "") + (c == 5 ? pad + r[c] : r[c] + pad);
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out += line + "\n";
    }
    return out;
}

std::string visitsJson(const std::vector<VisitSummary>& visits) {
    QJsonArray list;
    for (const VisitSummary& v : visits) {
        QJsonObject o;
        o["id"] = v.id;
        o["started_at"] = servicelog::timeText(v.startedAt);
        o["ended_at"] = v.endedAt.isValid() ? QJsonValue(servicelog::timeText(v.endedAt)) : QJsonValue();
        o["site"] = v.site;
        o["technician"] = v.technician;
        o["adapter"] = v.adapter;
        o["balancers"] = v.balancers;
        o["serials"] = QJsonArray::fromStringList(v.serials);
        o["snapshots"] = v.snapshots;
        o["actions"] = v.actions;
        list.append(o);
    }
    QJsonObject root;
    root["visits"] = list;
    return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

} // namespace zanst::cli
