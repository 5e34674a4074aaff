#include "cli/runners.hpp"

#include <array>

namespace zanst::cli {

std::span<const Runner> allRunners() {
    static const std::array<Runner, 10> runners = {{
        {"scan", runScan},
        {"watch", runWatch},
        {"flash", runFlash},
        {"metrics", runMetrics},
        {"check", runCheck},
        {"sniff", runSniff},
        {"emulate", runEmulate},
        {"export", runExport},
        {"visits", runVisits},
        {"report", runReport},
    }};
    return runners;
}

} // namespace zanst::cli
