// visits: the service log's visits, newest first.

#include "cli/interrupts.hpp"
#include "cli/runners.hpp"
#include "cli/service_log_access.hpp"
#include "files/app_data.hpp"

namespace zanst::cli {

int runVisits(const Invocation& invocation, const Console& console) {
    const auto& args = std::get<VisitsArgs>(invocation.args);
    application();
    OpenedLog opened = openServiceLog(args.serviceDb, app::appDataFolder().toStdString());
    if (!opened.log) {
        console.error("visits: " + opened.error);
        return code(opened.failure);
    }
    servicelog::VisitFilter filter;
    filter.site = QString::fromStdString(args.site.value_or(""));
    filter.serial = QString::fromStdString(args.serial.value_or(""));
    filter.limit = args.limit.value_or(0);
    const auto visits = opened.log->visits(filter);
    if (!visits) {
        console.error("visits: " + opened.log->lastError().message.toStdString());
        return code(ExitCode::Failed);
    }
    if (!console.print(args.json ? visitsJson(*visits) : visitsTable(*visits))) {
        return code(ExitCode::Failed);
    }
    return code(ExitCode::Success);
}

} // namespace zanst::cli
