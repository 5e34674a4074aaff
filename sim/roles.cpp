#include "sim/roles.hpp"

#include "bus/protocol.hpp"

#include <algorithm>

namespace zanst::sim {

void Role::peerChanged(bool connected, TimePoint /*now*/) {
    connected_ = connected;
}

void Role::drained(TimePoint /*now*/) {}

void Role::stopping(TimePoint /*now*/) {}

bus::Bytes Role::takeOutput() {
    bus::Bytes out;
    out.swap(output_);
    return out;
}

std::vector<std::string> Role::takeLines() {
    std::vector<std::string> out;
    out.swap(lines_);
    return out;
}

bus::Bytes Role::emit(std::span<const std::uint8_t> bytes) {
    bus::Bytes line = faults_.apply(bytes);
    output_.insert(output_.end(), line.begin(), line.end());
    return line;
}

std::string Role::faultTotals() const {
    if (!faults_.active()) {
        return {};
    }
    return " faults_dropped=" + std::to_string(faults_.dropped()) +
           " faults_corrupted=" + std::to_string(faults_.corrupted());
}

// ---- bank ----

BankRole::BankRole(const BankConfig& bank, const FaultConfig& faults, TimePoint start, bool quiet)
    : Role(faults), bank_(bank, start), quiet_(quiet) {}

void BankRole::received(std::span<const std::uint8_t> bytes, TimePoint now) {
    for (std::uint8_t b : bytes) {
        const FrameReceiver::Result result = receiver_.feed(b, now);
        if (result == FrameReceiver::Result::Dropped) {
            ++dropped_;
            log("dropped a request: " + receiver_.take().reason);
            continue;
        }
        if (result != FrameReceiver::Result::Complete) {
            continue;
        }
        FrameReceiver::Event e = receiver_.take();
        ++requests_;
        const std::uint8_t command = e.message.command();
        if (const auto lost = loss_.take(e.message)) {
            if (command == bus::cmd::kDataBlock) {
                bank_.loseBlock("block " + std::to_string(e.message.frame[6]) + " lost on the ring");
            }
            log(*lost);
            continue;
        }
        Answer answer = recorded_ ? recorded_->respond(std::move(e.message), now)
                                  : bank_.respond(std::move(e.message), now);
        emit(answer.bytes);
        const bool poll = command == bus::cmd::kInfo || command == bus::cmd::kMeasurement ||
                          command == bus::cmd::kCalibrationData || command == bus::cmd::kDataBlock;
        if (!quiet_ || !poll || answer.bytes.empty()) {
            log(answer.line);
        }
    }
}

void BankRole::tick(TimePoint now) {
    if (receiver_.expire(now) == FrameReceiver::Result::Dropped) {
        const FrameReceiver::Event e = receiver_.take();
        ++dropped_;
        log("dropped a request: " + e.reason + " (" + std::to_string(e.message.frame.size()) +
            " frame bytes, " + std::to_string(e.message.records.size()) + " records)");
    }
}

std::vector<std::string> BankRole::summary() const {
    return {"summary requests=" + std::to_string(requests_) + " dropped=" + std::to_string(dropped_) +
            " balancers=" +
            std::to_string(recorded_ ? static_cast<std::size_t>(recorded_->balancers())
                                     : bank_.balancers().size()) +
            faultTotals()};
}

// ---- bms ----

BmsRole::BmsRole(const BmsConfig& bms, const FaultConfig& faults, TimePoint start)
    : Role(faults), bms_(bms, start) {}

void BmsRole::report(const ExchangeReport& r) {
    log(r.line());
    if (expect_) {
        if (auto line = expect_->check(r)) {
            log(std::move(*line));
        }
    }
}

void BmsRole::received(std::span<const std::uint8_t> bytes, TimePoint now) {
    for (const auto& r : bms_.receive(bytes, now)) {
        report(r);
    }
    for (auto& n : bms_.takeNotes()) {
        log(std::move(n));
    }
}

void BmsRole::tick(TimePoint now) {
    if (const auto r = bms_.expire(now)) {
        report(*r);
    }
    if (connected_) {
        const bus::Bytes request = bms_.poll(now);
        if (!request.empty()) {
            emit(request);
        }
    }
    for (auto& n : bms_.takeNotes()) {
        log(std::move(n));
    }
}

std::optional<TimePoint> BmsRole::nextDeadline() const {
    if (!connected_ && !bms_.exchangeOpen()) {
        return std::nullopt;
    }
    return bms_.nextDeadline();
}

void BmsRole::peerChanged(bool connected, TimePoint now) {
    Role::peerChanged(connected, now);
    bms_.restart(now);
}

std::vector<std::string> BmsRole::summary() const {
    std::vector<std::string> lines{
        "summary exchanges=" + std::to_string(bms_.exchanges()) + " ok=" + std::to_string(bms_.okCount()) +
        " failed=" + std::to_string(bms_.failedCount()) + " timeouts=" + std::to_string(bms_.timeoutCount()) +
        answerTimeTotals(bms_.answerTimes()) + faultTotals()};
    if (expect_) {
        lines.push_back(expect_->summary());
    }
    return lines;
}

// ---- ring ----

namespace {

BmsConfig ringBms(BmsConfig c, const BankConfig& bank) {
    c.expectSequence = false; // real balancers keep no answer counter
    c.bankCurrentA = bank.currentA * bank.batteries;
    return c;
}

} // namespace

RingRole::RingRole(const BankConfig& bank, const BmsConfig& bms, const FaultConfig& faults, TimePoint start)
    : Role(faults), bank_(bank, start), bms_(ringBms(bms, bank), start) {}

void RingRole::peerChanged(bool connected, TimePoint now) {
    closePending();
    Role::peerChanged(connected, now);
    bms_.restart(now);
    bankReceiver_.reset();
    segmentOpen_ = false;
    written_.clear();
    echoed_.clear();
}

std::optional<TimePoint> RingRole::nextDeadline() const {
    std::optional<TimePoint> t;
    if (connected_ || bms_.exchangeOpen()) {
        t = bms_.nextDeadline();
    }
    if (pendingLine_ && (!t || echoDeadline_ < *t)) {
        t = echoDeadline_;
    }
    return t;
}

void RingRole::stopping(TimePoint /*now*/) {
    closePending();
}

void RingRole::closePending() {
    if (pendingLine_) {
        log(*pendingLine_ + echoText());
        pendingLine_.reset();
    }
}

void RingRole::tick(TimePoint now) {
    if (const auto r = bms_.expire(now)) {
        report(*r, now);
    }
    if (pendingLine_ && now >= echoDeadline_) {
        closePending();
    }
    if (connected_) {
        const bus::Bytes request = bms_.poll(now);
        if (!request.empty()) {
            closePending();
            echoDeadline_ = now + kEchoWindow;
            written_.clear();
            echoed_.clear();
            segmentOpen_ = true;
            // The request travels the balancers; what they pass on goes to the tool.
            for (std::uint8_t b : request) {
                if (bankReceiver_.feed(b, now) == FrameReceiver::Result::Complete) {
                    Message m = bankReceiver_.take().message;
                    const Answer a =
                        recorded_ ? recorded_->respond(std::move(m), now) : bank_.respond(std::move(m), now);
                    const bus::Bytes line = emit(a.bytes);
                    written_.insert(written_.end(), line.begin(), line.end());
                }
            }
            bms_.sent(now);
        }
    }
    for (auto& n : bms_.takeNotes()) {
        log(std::move(n));
    }
}

void RingRole::received(std::span<const std::uint8_t> bytes, TimePoint now) {
    if (segmentOpen_) {
        echoed_.insert(echoed_.end(), bytes.begin(), bytes.end());
    } else {
        stray_ += static_cast<long>(bytes.size());
    }
    for (const auto& r : bms_.receive(bytes, now)) {
        report(r, now);
    }
    if (pendingLine_ && echoed_.size() >= written_.size()) {
        closePending();
    }
    for (auto& n : bms_.takeNotes()) {
        log(std::move(n));
    }
}

std::string RingRole::echoText() {
    const std::size_t common = std::min(written_.size(), echoed_.size());
    long differ = static_cast<long>(std::max(written_.size(), echoed_.size()) - common);
    std::optional<std::size_t> first;
    for (std::size_t i = 0; i < common; ++i) {
        if (written_[i] != echoed_[i]) {
            ++differ;
            first = first.value_or(i);
        }
    }
    if (!first && written_.size() != echoed_.size()) {
        first = common;
    }
    sentTotal_ += static_cast<long>(written_.size());
    backTotal_ += static_cast<long>(echoed_.size());
    differTotal_ += differ;
    std::string out = " echo=" + std::to_string(echoed_.size()) + "/" + std::to_string(written_.size());
    if (differ == 0) {
        out += " echo_ok";
    } else {
        ++badEchoes_;
        out += " echo_BAD differ=" + std::to_string(differ) + " first_diff_at=" + std::to_string(*first);
    }
    written_.clear();
    echoed_.clear();
    segmentOpen_ = false;
    return out;
}

void RingRole::report(const ExchangeReport& r, TimePoint now) {
    // A BMS that gave up before the tool's echo was through: the echo is judged when it is.
    if (r.outcome == ExchangeReport::Outcome::Timeout && echoed_.size() < written_.size() &&
        now < echoDeadline_) {
        pendingLine_ = r.line();
        return;
    }
    log(r.line() + echoText());
}

std::vector<std::string> RingRole::summary() const {
    return {"summary exchanges=" + std::to_string(bms_.exchanges()) +
            " ok=" + std::to_string(bms_.okCount()) + " failed=" + std::to_string(bms_.failedCount()) +
            " timeouts=" + std::to_string(bms_.timeoutCount()) + answerTimeTotals(bms_.answerTimes()) +
            " bytes_sent=" + std::to_string(sentTotal_) + " bytes_back=" + std::to_string(backTotal_) +
            " bytes_differing=" + std::to_string(differTotal_) + " bad_echoes=" + std::to_string(badEchoes_) +
            " stray=" + std::to_string(stray_) + faultTotals()};
}

} // namespace zanst::sim
