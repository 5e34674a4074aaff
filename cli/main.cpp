// zanst-cli: the service tool on the command line, without a window.

#include "cli/dispatch.hpp"
#include "cli/interrupts.hpp"
#include "cli/runners.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status =
        zanst::cli::runCommandLine(args, zanst::cli::allRunners(), zanst::cli::Console{}, ZANST_VERSION);
    zanst::cli::closeApplication();
    return status;
}
