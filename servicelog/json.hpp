#pragma once
// The records as JSON: the details of an action in the database, and whole visits in an export
// file. One set of names for both, so an export is what the database holds.

#include "servicelog/records.hpp"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace zanst::servicelog {

inline constexpr const char* kExportFormat = "zanst-service-log";
inline constexpr int kExportVersion = 1;

QJsonObject toJson(const SnapshotRecord& snapshot);
std::optional<SnapshotRecord> snapshotFromJson(const QJsonObject& json, QString* error);

// The action without its kind, seq and time (the columns beside it in the database).
QJsonObject actionDetails(const ActionRecord& action);
// Fills the record of `action.kind` from its details.
bool actionFromDetails(ActionRecord& action, const QJsonObject& details, QString* error);

QJsonObject toJson(const ActionRecord& action);
std::optional<ActionRecord> actionFromJson(const QJsonObject& json, QString* error);

QJsonObject toJson(const BalancerRecord& balancer);
BalancerRecord balancerFromJson(const QJsonObject& json);

QJsonObject toJson(const VisitRecord& visit);
std::optional<VisitRecord> visitFromJson(const QJsonObject& json, QString* error);

QJsonObject toJson(const metrics::MetricsMetadata& m);
metrics::MetricsMetadata metricsFromJson(const QJsonObject& json);

// An export file: {"format": "zanst-service-log", "version": 1, "visits": [...]}.
QByteArray exportDocument(const std::vector<VisitRecord>& visits);
struct ParsedExport {
    std::vector<VisitRecord> visits;
    QString error; // set when the file cannot be taken at all
};
ParsedExport parseExport(const QByteArray& bytes);

} // namespace zanst::servicelog
