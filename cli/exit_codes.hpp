#pragma once
// zanst-cli's exit codes: one table, used by the program, its --help text and its manual page.

#include <array>
#include <string_view>

namespace zanst::cli {

enum class ExitCode : int {
    Success = 0,
    Failed = 1,          // a check or an update failed, or a command could not finish its work
    Usage = 2,           // the command line was wrong, or an input file is not what it should be
    PortUnavailable = 3, // the port could not be opened
    NoBalancer = 4,      // no balancer answered
};

constexpr int code(ExitCode c) {
    return static_cast<int>(c);
}

struct ExitCodeText {
    ExitCode code;
    std::string_view meaning;
};

inline constexpr std::array<ExitCodeText, 5> kExitCodes = {{
    {ExitCode::Success, "success"},
    {ExitCode::Failed, "a check or an update failed, or the work could not be finished"},
    {ExitCode::Usage, "wrong command line or unusable input file"},
    {ExitCode::PortUnavailable, "the port could not be opened"},
    {ExitCode::NoBalancer, "no balancer answered"},
}};

} // namespace zanst::cli
