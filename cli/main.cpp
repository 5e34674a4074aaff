// zanst-cli: the service tool on the command line, without a window.

#include "cli/dispatch.hpp"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return zanst::cli::runCommandLine(args, zanst::cli::engineFreeRunners(), zanst::cli::Console{},
                                      ZANST_VERSION);
}
