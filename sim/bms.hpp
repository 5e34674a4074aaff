#pragma once
// A simulated BMS as bus master: once a second an info request until the bank answers, then
// measurement requests with one placeholder record per known balancer. Every answer is checked
// byte by byte and reported as one exchange.

#include "bus/bytes.hpp"
#include "sim/answer_check.hpp"
#include "sim/frame_receiver.hpp"
#include "sim/time.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zanst::sim {

struct BmsConfig {
    std::uint16_t productId = 0xB75C;
    std::string serial = "ZBMS2400001"; // 11 characters
    double bankCurrentA = 0.0;          // what its own shunt reads, sent with every measurement request
    bool expectSequence = true;         // the tool's emulator counts its answers in record byte 3
    Duration period = 1s;
    Duration answerTimeout = 900ms;
    int failuresBeforeEnumeration = 3;
};

struct ExchangeReport {
    enum class Kind { Info, Measurement };
    enum class Outcome { Ok, Failed, Timeout };

    int number = 0;
    Kind kind = Kind::Info;
    Outcome outcome = Outcome::Ok;
    int records = 0;                // records that came back
    int expected = 0;               // records expected (0: any)
    std::optional<double> delayMs;  // first byte back, after the request's last byte
    std::optional<double> answerMs; // the whole answer back, likewise
    std::vector<std::string> errors;
    // Info answers.
    std::optional<std::uint16_t> productId;
    std::vector<std::string> serials; // one per battery, in ring order
    int inBootLoader = 0;
    // Measurement answers.
    std::vector<int> cellMv;
    std::optional<int> currentMa; // mean of the current sensors (low range preferred)
    std::optional<int> minTempTenths;
    std::optional<int> maxTempTenths;
    std::optional<int> sequence;
    // Measurement answers as they came, with the info flags of the balancers the BMS knows, for
    // a check against a recording.
    std::vector<bus::Bytes> answerRecords;
    std::vector<std::uint8_t> infoFlags;

    bool ok() const { return outcome == Outcome::Ok; }
    std::string line() const;
};

class BmsMaster {
  public:
    BmsMaster(BmsConfig config, TimePoint start);

    // The request due at `now` (wake-up prefix, frame, records), or nothing.
    bus::Bytes poll(TimePoint now);
    // The last byte of the request left at `when`; answer delays count from there.
    void sent(TimePoint when);
    // Bytes from the far side of the ring; returns the exchanges they completed.
    std::vector<ExchangeReport> receive(std::span<const std::uint8_t> bytes, TimePoint now);
    // Ends an exchange whose answer is overdue.
    std::optional<ExchangeReport> expire(TimePoint now);
    std::optional<TimePoint> nextDeadline() const;
    // The far side went away or came back: start over with enumeration.
    void restart(TimePoint now);

    bool enumerating() const { return enumerating_; }
    bool exchangeOpen() const { return exchange_.has_value(); }
    int knownBalancers() const { return static_cast<int>(infoFlags_.size()); }
    // Lines about events outside exchanges (a bank change announced, stray frames).
    std::vector<std::string> takeNotes();

    int exchanges() const { return exchanges_; }
    int okCount() const { return ok_; }
    int failedCount() const { return failed_; }
    int timeoutCount() const { return timeouts_; }
    // How long the whole answers took, in ms, in the order they came.
    const std::vector<double>& answerTimes() const { return answerMs_; }

    // The request frames a BMS sends (no prefix, no records).
    bus::Bytes infoRequest() const;
    bus::Bytes measurementRequest() const;

  private:
    struct Exchange {
        int number = 0;
        ExchangeReport::Kind kind = ExchangeReport::Kind::Info;
        bus::Bytes request;
        TimePoint started{};
        TimePoint lastOut{};
        std::optional<TimePoint> firstIn;
        std::optional<FrameReceiver::Event> cut; // an answer the receiver gave up on
    };

    ExchangeReport finish(const Message& answer);
    void dropped(FrameReceiver::Event e);
    ExchangeReport timeout();
    void account(const ExchangeReport& r);
    int setpointMv() const;
    int bankVoltageTenths() const;

    BmsConfig config_;
    FrameReceiver receiver_;
    std::optional<Exchange> exchange_;
    TimePoint nextPoll_;
    bool enumerating_ = true;
    int consecutiveFailures_ = 0;
    std::optional<int> lastSequence_;
    std::vector<std::uint8_t> infoFlags_;     // per known balancer
    std::vector<std::string> serials_;        // per known balancer
    std::vector<std::uint32_t> measurements_; // last word per known balancer
    std::vector<std::uint16_t> temperatures_;
    std::vector<std::string> notes_;
    int exchanges_ = 0;
    int ok_ = 0;
    int failed_ = 0;
    int timeouts_ = 0;
    std::vector<double> answerMs_;
};

// " answer_ms_median=... answer_ms_max=..." over the answers that came back whole; empty without.
std::string answerTimeTotals(const std::vector<double>& answerMs);

} // namespace zanst::sim
