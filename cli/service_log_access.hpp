#pragma once
// zanst-cli's way into the service log: where it is (--service-db, ZANST_SERVICE_DB, the tool's
// SQLite file), opened for reading on the main thread, the visits printed, a visit found by the
// first characters of its id. Messages never show a password.

#include "cli/exit_codes.hpp"
#include "servicelog/service_log.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zanst::cli {

struct OpenedLog {
    std::unique_ptr<servicelog::ServiceLog> log; // empty on failure
    ExitCode failure = ExitCode::Success;
    std::string error; // one line
};

// Opens the log named by `option` (else ZANST_SERVICE_DB, else the SQLite file in `dataFolder`).
// An SQLite file that does not exist is not made: there is nothing to read in it.
OpenedLog openServiceLog(const std::optional<std::string>& option, const std::string& dataFolder);

struct FoundVisit {
    QString id; // empty when none was found
    ExitCode failure = ExitCode::Success;
    std::string error; // one line
};

// `text` as a whole id, or the first characters of exactly one visit's id (any case).
FoundVisit findVisit(servicelog::ServiceLog& log, const std::string& text);

// visits: one row per visit, columns padded; "No visits" when there are none.
std::string visitsTable(const std::vector<servicelog::VisitSummary>& visits);
// visits --json: {"visits": [{"id": ..., "started_at": ..., ...}]} and a line end.
std::string visitsJson(const std::vector<servicelog::VisitSummary>& visits);

} // namespace zanst::cli
