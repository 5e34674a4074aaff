#pragma once
// "Get All Metrics": asks the batteries for their metrics one instance at a time and hands every
// answer on for storing. The bus engine drives it on its own thread: it passes in the time, the
// completed 0x50 frames and a tick at or after deadline(); the fetch sends through the port and
// returns what happened, which the engine hands to the window.

#include "record.hpp"

#include "bus/port.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zanst::metrics {

struct FetchSummary {
    int requested = 0; // instances asked for
    int answered = 0;  // answers handed on for storing
};

// What one call into the fetch did, in the order the window takes it: a fetch began (the display
// shows "Instance: -", no file is shown, the next stored record starts a new file), the answers
// to store in fetch order, the console lines, and the end (write the count line, show the file
// at instance 1).
struct FetchReport {
    bool started = false;
    std::vector<MetricsMetadata> recordsReceived;
    std::vector<std::string> consoleLines;
    std::optional<FetchSummary> ended;

    bool empty() const { return !started && recordsReceived.empty() && consoleLines.empty() && !ended; }
};

// "Metrics fetch done: 3 of 4 instances stored".
std::string fetchEndedLine(int stored, int requested);

// Said once when a fetch finds the port closed; the fetch then ends at once.
inline constexpr std::string_view kPortClosedLine = "Metrics fetch stopped: the port is closed";

class MetricsFetch {
  public:
    using Millis = std::chrono::milliseconds;

    static constexpr int kAllInstances = 4;
    static constexpr Millis kAnswerWait{1000}; // an answer takes about 20 ms on the ring
    static constexpr int kRetries = 2;         // requests after the first before giving up on an instance

    MetricsFetch(bus::BusPort& port, bool& frameReceiving) : port_(port), frameReceiving_(frameReceiving) {}

    // Starts over: instance 1 of 4 is requested; a fetch in progress is forgotten. With the port
    // closed the request line is still logged, then kPortClosedLine, and the fetch ends at once
    // (ended with nothing stored); the same when the port is found closed later in a fetch.
    FetchReport requestAllMetrics(Millis now);

    // Logs "Fetching instance <n>" and sends the request (nothing goes out on a closed port).
    FetchReport requestMetrics(int instance);

    // A completed frame with command 0x50. The request's echo is passed over; an answer for the
    // instance being fetched is stored and the next instance requested; any other answer, or
    // one that fails its checks, is logged and the wait goes on.
    FetchReport frameReceived(std::span<const std::uint8_t> frame, Millis now);

    // Past the deadline: the request is sent again, or after kRetries the instance is logged as
    // not answered and the fetch moves on.
    FetchReport tick(Millis now);

    // Breaks off a running fetch (the bus is needed for something else): logs `reason` and ends
    // with what was stored so far. Nothing happens when no fetch runs.
    FetchReport cancel(const std::string& reason);

    bool running() const { return running_; }
    // When the next tick is due; empty when no fetch runs.
    std::optional<Millis> deadline() const;

    int nrOfInstances() const { return nrOfInstances_; }
    int instanceIDToFetch() const { return instanceIDToFetch_; }

  private:
    void send(int instance);
    void console(std::string line) { report_.consoleLines.push_back(std::move(line)); }
    void logRequest(int instance);
    void ask(Millis now);
    void next(Millis now);
    // Ends the fetch with `reason` on the console and the count so far.
    void end(std::string reason);
    bool stopIfPortClosed();
    FetchReport take() { return std::exchange(report_, {}); }

    bus::BusPort& port_;
    bool& frameReceiving_;
    FetchReport report_;

    int nrOfInstances_ = 0;
    int instanceIDToFetch_ = 0;
    bool running_ = false;
    int retries_ = 0;
    int answered_ = 0;
    Millis deadline_{0};
};

} // namespace zanst::metrics
