#include "cli/dispatch.hpp"

#include "capture/pcapng.hpp"
#include "cli/exit_codes.hpp"

#include <array>
#include <exception>

namespace zanst::cli {

bool Console::print(const std::string& text) const {
    std::fputs(text.c_str(), out);
    return std::fflush(out) == 0 && std::ferror(out) == 0;
}

void Console::error(const std::string& line) const {
    std::fprintf(err, "zanst-cli: %s\n", line.c_str());
    std::fflush(err);
}

std::span<const Runner> engineFreeRunners() {
    static const std::array<Runner, 1> runners = {{
        {"export", runExport},
    }};
    return runners;
}

int runExport(const Invocation& invocation, const Console& console) {
    const auto& args = std::get<ExportArgs>(invocation.args);
    const capture::ExportResult r = capture::exportPcapng(args.capture, args.pcapng);
    if (!r.written) {
        console.error("export: " + r.message);
        // A file that is not a capture is a wrong argument; a pcapng that cannot be written is not.
        return code(r.outputFailed ? ExitCode::Failed : ExitCode::Usage);
    }
    if (!r.captureComplete) {
        console.error("export: " + r.message + "; the valid part, " + std::to_string(r.packets) +
                      " packets, was written to " + args.pcapng);
        return code(ExitCode::Failed);
    }
    console.print(std::to_string(r.packets) + " packets written to " + args.pcapng + "\n");
    return code(ExitCode::Success);
}

int runCommandLine(std::span<const std::string> args, std::span<const Runner> runners, const Console& console,
                   std::string_view version) {
    const ParseResult parsed = parseCommandLine(args, version);
    if (const auto* text = std::get_if<TextRequest>(&parsed)) {
        console.print(text->text);
        return code(ExitCode::Success);
    }
    if (const auto* usage = std::get_if<UsageError>(&parsed)) {
        std::fprintf(console.err, "%s\n", usage->message.c_str());
        std::fflush(console.err);
        return code(ExitCode::Usage);
    }
    const auto& invocation = std::get<Invocation>(parsed);
    for (const Runner& r : runners) {
        if (r.command == invocation.command) {
            try {
                return r.run(invocation, console);
            } catch (const std::exception& e) {
                console.error(invocation.command + ": " + e.what());
            } catch (...) {
                console.error(invocation.command + ": unexpected failure");
            }
            return code(ExitCode::Failed);
        }
    }
    console.error(invocation.command +
                  " needs the bus engine, which this build of zanst-cli does not include");
    return code(ExitCode::Usage);
}

} // namespace zanst::cli
