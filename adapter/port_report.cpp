#include "adapter/port_report.hpp"

#include <cmath>

namespace zanst::adapter {

namespace {

// Beyond this the balancers sample bits wrongly often enough to garble bytes (as baudText says).
constexpr double kTolerablePercent = 2.0;

double worstError(std::uint32_t requested, const BaudReadback& b) {
    double worst = std::fabs(baudErrorPercent(requested, b.outputBaud));
    if (b.inputBaud != 0) {
        worst = std::max(worst, std::fabs(baudErrorPercent(requested, b.inputBaud)));
    }
    return worst;
}

std::string failureLabel(OpenFailure failure) {
    switch (failure) {
    case OpenFailure::None:
        break;
    case OpenFailure::NotFound:
        return "Adapter not found";
    case OpenFailure::NoPermission:
        return "No permission for the port";
    case OpenFailure::Busy:
        return "Port in use by another program";
    case OpenFailure::NotASerialPort:
        return "Not a serial port";
    case OpenFailure::LineRefused:
        return "Line settings refused";
    case OpenFailure::Other:
        return "Cannot open the port";
    }
    return {};
}

std::string kindLabel(PortKind kind) {
    switch (kind) {
    case PortKind::UsbAdapter:
        break;
    case PortKind::BuiltInUart:
        return "Serial port of this computer, not a USB adapter";
    case PortKind::PseudoTerminal:
        return "Pseudo-terminal, not a USB adapter";
    case PortKind::NotSerial:
        return "Not a serial device the system knows";
    }
    return {};
}

} // namespace

std::string lineRateText(std::uint32_t requested, const BaudReadback& readback) {
    std::string text = "Line rate: " + baudText(requested, readback);
    if (!readback.ok) {
        return text;
    }
    if (readback.outputBaud == requested && (readback.inputBaud == 0 || readback.inputBaud == requested)) {
        return text + ", the rate the balancers use";
    }
    if (worstError(requested, readback) <= kTolerablePercent) {
        return text + ": within what the balancers tolerate (2 %)";
    }
    return text; // baudText has said what it means
}

PortReport makePortReport(const std::string& path, const AdapterIdentity& id, const OpenOutcome& open,
                          const std::optional<LowLatencyResult>& latency) {
    PortReport r;
    r.path = path;
    r.opened = open.ok();
    r.usbAdapter = id.kind == PortKind::UsbAdapter;
    r.identity = id.describe();
    if (!r.opened) {
        r.error = open.text.empty() ? openErrorText(open.error) : open.text;
        r.statusText = failureLabel(open.error.failure);
        return r;
    }
    r.warnings = open.warnings;
    if (!r.usbAdapter) {
        // Nothing more to tell: no latency timer, and the rate is what the program asked for.
        r.statusText = kindLabel(id.kind);
        return r;
    }

    std::string chip = id.chipName();
    if (id.usb && !id.usb->serial.empty()) {
        chip += " " + id.usb->serial;
    }
    std::string status = chip + ":";
    if (latency) {
        // The identity's latency line is the value before the request; the request's lines tell
        // what is in force now.
        if (latency->timerAfterMs) {
            std::erase_if(r.identity, [](const std::string& l) { return l.starts_with("Latency timer"); });
        }
        r.line = latency->lines;
        if (latency->timerWritten && latency->timerBeforeMs && latency->timerAfterMs &&
            *latency->timerBeforeMs != *latency->timerAfterMs) {
            r.line.push_back("The latency timer was " + std::to_string(*latency->timerBeforeMs) +
                             " ms before the tool opened the adapter");
        }
        r.advice = latency->advice;
        r.latencyMs = latency->timerAfterMs;
    } else {
        r.latencyMs = id.latencyTimerMs;
    }
    if (r.latencyMs) {
        status += " latency " + std::to_string(*r.latencyMs) + " ms";
        if (*r.latencyMs > kLatencyAdviceAboveMs) {
            status += " (slow)";
        }
        status += ",";
    }
    r.line.push_back(lineRateText(kBusBaud, open.baud));
    if (open.baud.ok) {
        status += open.baud.outputBaud == kBusBaud ? " 250000 baud exact"
                                                   : " " + std::to_string(open.baud.outputBaud) + " baud";
    } else {
        status += " rate unknown";
    }
    r.statusText = status;

    std::vector<std::string> ring;
    if (r.latencyMs && *r.latencyMs > kLatencyAdviceAboveMs) {
        ring.push_back("The adapter holds received bytes up to " + std::to_string(*r.latencyMs) +
                       " ms (its latency timer), so the ring waits that long for the tool: \"Connection\" "
                       "shows the command that sets 1 ms.");
    }
    if (open.baud.ok && worstError(kBusBaud, open.baud) > kTolerablePercent) {
        ring.push_back("The adapter runs at " + std::to_string(open.baud.outputBaud) +
                       " baud, more than 2 % off 250000: the balancers will see garbled bytes. Use another "
                       "adapter.");
    }
    for (const std::string& w : ring) {
        r.ringWarning += (r.ringWarning.empty() ? "" : " ") + w;
    }
    return r;
}

} // namespace zanst::adapter
