#pragma once
// What the tool says about the port it opened, or tried to open: what stands behind it, what the
// driver set (latency, line rate), what went wrong and what a technician can do about it. Made once
// per opening from the facts the other parts of this library found, in the words the window shows.

#include "adapter/identity.hpp"
#include "adapter/low_latency.hpp"
#include "adapter/serial_device.hpp"

#include <optional>
#include <string>
#include <vector>

namespace zanst::adapter {

struct PortReport {
    std::string path; // as chosen
    bool opened = false;
    bool usbAdapter = false;
    std::vector<std::string> identity; // what stands behind the port
    std::vector<std::string> line;     // latency and line rate as the driver took them
    std::vector<std::string> advice;   // what to do about a slow latency timer (command, udev rule)
    std::vector<std::string> warnings; // open all the same, but worth saying (a lock file)
    std::string error;                 // why it did not open, in words; empty when open
    std::string echo;                  // how the sniffer's echo runs, once it does
    // One line for the status bar, the whole story for its tool tip.
    std::string statusText;
    // For the pages whose ring waits for the tool ("Data Sniffer", "BMS tester"); empty when the
    // adapter does not hold the ring up.
    std::string ringWarning;
    std::optional<int> latencyMs; // in force after the request
};

// The report of a port that opened (`open.ok()`), with the low-latency request's outcome where one
// was made, or of one that did not.
PortReport makePortReport(const std::string& path, const AdapterIdentity& id, const OpenOutcome& open,
                          const std::optional<LowLatencyResult>& latency);

// "250000 baud exact: the balancers' own rate", or the real rate, its error and what that means.
std::string lineRateText(std::uint32_t requested, const BaudReadback& readback);

} // namespace zanst::adapter
