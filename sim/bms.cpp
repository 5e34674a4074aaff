#include "sim/bms.hpp"

#include "bus/frames.hpp"
#include "bus/hex.hpp"
#include "bus/protocol.hpp"
#include "bus/records.hpp"
#include "bus/senders.hpp"
#include "bus/tables.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace zanst::sim {

namespace {

constexpr int kMinSetpointMv = 3400;
constexpr int kMaxSetpointMv = 3600;

std::string fixed(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string serialOf(const bus::Bytes& infoRecord) {
    const std::span<const std::uint8_t> record(infoRecord);
    return infoRecord.size() > 4
               ? bus::serialText(record.subspan(4, std::min<std::size_t>(11, infoRecord.size() - 4)))
               : std::string();
}

} // namespace

std::string ExchangeReport::line() const {
    std::string out =
        std::string(kind == Kind::Info ? "info" : "measurement") + " #" + std::to_string(number) + " ";
    switch (outcome) {
    case Outcome::Ok:
        out += "ok";
        break;
    case Outcome::Failed:
        out += "FAIL";
        break;
    case Outcome::Timeout:
        out += "TIMEOUT";
        break;
    }
    out += " balancers=" + std::to_string(records);
    if (expected > 0 && expected != records) {
        out += "/" + std::to_string(expected);
    }
    if (kind == Kind::Info && productId) {
        out += " product=" + bus::ConvertHex1(*productId, 4);
        out += " serials=";
        for (std::size_t i = 0; i < serials.size(); ++i) {
            out += (i ? "," : "") + serials[i];
        }
        if (inBootLoader > 0) {
            out += " bootloader=" + std::to_string(inBootLoader);
        }
    }
    if (kind == Kind::Measurement && !cellMv.empty()) {
        if (cellMv.size() <= 16) {
            out += " mV=";
            for (std::size_t i = 0; i < cellMv.size(); ++i) {
                out += (i ? "," : "") + std::to_string(cellMv[i]);
            }
        } else {
            const auto [lo, hi] = std::minmax_element(cellMv.begin(), cellMv.end());
            const double mean =
                std::accumulate(cellMv.begin(), cellMv.end(), 0.0) / static_cast<double>(cellMv.size());
            out += " mV=" + std::to_string(*lo) + ".." + std::to_string(*hi) + " mean=" + fixed(mean, 1);
        }
        if (currentMa) {
            out += " A=" + fixed(*currentMa / 1000.0, 3);
        }
        if (minTempTenths && maxTempTenths) {
            out += " C=" + fixed(*minTempTenths / 10.0, 1);
            if (*maxTempTenths != *minTempTenths) {
                out += ".." + fixed(*maxTempTenths / 10.0, 1);
            }
        }
        if (sequence) {
            out += " seq=" + std::to_string(*sequence);
        }
    }
    if (delayMs) {
        out += " delay_ms=" + fixed(*delayMs, 2);
    }
    if (answerMs) {
        out += " answer_ms=" + fixed(*answerMs, 2);
    }
    if (!errors.empty()) {
        out += " errors=\"" + joinErrors(errors) + "\"";
    }
    return out;
}

BmsMaster::BmsMaster(BmsConfig config, TimePoint start)
    : config_(std::move(config)), nextPoll_(start + config_.period) {
    config_.serial.resize(bus::kSerialLength, ' ');
}

void BmsMaster::restart(TimePoint now) {
    receiver_.reset();
    exchange_.reset();
    enumerating_ = true;
    consecutiveFailures_ = 0;
    lastSequence_.reset();
    nextPoll_ = now + config_.period;
}

bus::Bytes BmsMaster::infoRequest() const {
    bus::Bytes f = bus::makeFrame(bus::cmd::kInfo, 16);
    bus::putLe16(f, 4, config_.productId);
    bus::putAscii(f, 8, config_.serial);
    bus::seal(f, 0);
    return f;
}

int BmsMaster::setpointMv() const {
    if (measurements_.empty()) {
        return 0; // nothing measured yet: no balancing
    }
    long sum = 0;
    int lowest = 5000;
    for (std::uint32_t w : measurements_) {
        const int mv = bus::cellVoltageMv(static_cast<std::int32_t>(w));
        sum += mv;
        lowest = std::min(lowest, mv);
    }
    const int mean = static_cast<int>(sum / static_cast<long>(measurements_.size()));
    return std::clamp((mean + lowest) / 2, kMinSetpointMv, kMaxSetpointMv);
}

int BmsMaster::bankVoltageTenths() const {
    if (measurements_.empty()) {
        return 0;
    }
    long sum = 0;
    for (std::uint32_t w : measurements_) {
        sum += bus::cellVoltageMv(static_cast<std::int32_t>(w));
    }
    // Batteries stand in parallel: the bank voltage is one string's, found by counting serial groups.
    int strings = 0;
    for (std::size_t i = 0; i < serials_.size(); ++i) {
        strings += (i == 0 || serials_[i] != serials_[i - 1]) ? 1 : 0;
    }
    return static_cast<int>(sum / std::max(strings, 1) / 100);
}

bus::Bytes BmsMaster::measurementRequest() const {
    bus::Bytes f = bus::makeFrame(bus::cmd::kMeasurement, 20);
    bus::putLe16(f, 4, static_cast<std::uint16_t>(setpointMv()));
    bus::putLe16(
        f, 6, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(config_.bankCurrentA * 10))));
    bus::putLe16(f, 8, static_cast<std::uint16_t>(bankVoltageTenths()));
    bus::putAscii(f, 12, config_.serial);
    bus::seal(f, infoFlags_.empty() ? 0 : bus::rec::kMeasurement);
    return f;
}

bus::Bytes BmsMaster::poll(TimePoint now) {
    if (exchange_ || now < nextPoll_) {
        return {};
    }
    nextPoll_ += config_.period;
    if (nextPoll_ <= now) {
        nextPoll_ = now + config_.period; // fell behind (a pause of the process): do not burst
    }
    Exchange ex;
    ex.number = ++exchanges_;
    ex.started = now;
    ex.lastOut = now;
    bus::Bytes out(bus::wakeupBuffer.begin(), bus::wakeupBuffer.begin() + bus::kWakeupBytes);
    if (enumerating_ || infoFlags_.empty()) {
        ex.kind = ExchangeReport::Kind::Info;
        ex.request = infoRequest();
        out.insert(out.end(), ex.request.begin(), ex.request.end());
    } else {
        ex.kind = ExchangeReport::Kind::Measurement;
        ex.request = measurementRequest();
        out.insert(out.end(), ex.request.begin(), ex.request.end());
        const std::size_t n = infoFlags_.size();
        for (std::size_t i = 0; i < n; ++i) {
            bus::Bytes r = bus::makeRecord(bus::rec::kMeasurement, bus::rec::kMeasurementSize,
                                           static_cast<std::uint16_t>(i + 1));
            bus::putLe32(r, 4, measurements_[i]);
            bus::putLe16(r, 8, temperatures_[i]);
            bus::seal(r, i + 1 < n ? bus::rec::kMeasurement : 0);
            out.insert(out.end(), r.begin(), r.end());
        }
    }
    exchange_ = std::move(ex);
    return out;
}

void BmsMaster::sent(TimePoint when) {
    if (exchange_ && !exchange_->firstIn) {
        exchange_->lastOut = when;
    }
}

std::optional<TimePoint> BmsMaster::nextDeadline() const {
    TimePoint t = exchange_ ? exchange_->lastOut + config_.answerTimeout : nextPoll_;
    if (const auto d = receiver_.deadline()) {
        t = std::min(t, *d);
    }
    return t;
}

std::vector<std::string> BmsMaster::takeNotes() {
    std::vector<std::string> out;
    out.swap(notes_);
    return out;
}

std::vector<ExchangeReport> BmsMaster::receive(std::span<const std::uint8_t> bytes, TimePoint now) {
    std::vector<ExchangeReport> reports;
    for (std::uint8_t b : bytes) {
        if (exchange_ && !exchange_->firstIn) {
            exchange_->firstIn = now;
        }
        const FrameReceiver::Result result = receiver_.feed(b, now);
        if (result == FrameReceiver::Result::Dropped) {
            dropped(receiver_.take());
            continue;
        }
        if (result != FrameReceiver::Result::Complete) {
            continue;
        }
        const FrameReceiver::Event e = receiver_.take();
        const std::uint8_t command = e.message.command();
        if (command == bus::cmd::kPresetChanged) {
            notes_.push_back("bank changed (0x31): enumerating again");
            enumerating_ = true;
            lastSequence_.reset();
            continue;
        }
        if (exchange_ && command == exchange_->request[1]) {
            reports.push_back(finish(e.message));
        } else {
            notes_.push_back("frame " + bus::ConvertHex(command, 2) + " outside an exchange ignored");
        }
    }
    return reports;
}

void BmsMaster::dropped(FrameReceiver::Event e) {
    if (exchange_ && !e.message.frame.empty() && e.message.command() == exchange_->request[1]) {
        exchange_->cut = std::move(e); // reported with the exchange
        return;
    }
    notes_.push_back("dropped a message: " + e.reason);
}

std::optional<ExchangeReport> BmsMaster::expire(TimePoint now) {
    if (receiver_.expire(now) == FrameReceiver::Result::Dropped) {
        dropped(receiver_.take());
    }
    // Counted from the request's last byte, as a BMS that waits for its answer does.
    if (exchange_ && now >= exchange_->lastOut + config_.answerTimeout) {
        return timeout();
    }
    return std::nullopt;
}

ExchangeReport BmsMaster::timeout() {
    ExchangeReport r;
    r.number = exchange_->number;
    r.kind = exchange_->kind;
    r.outcome = ExchangeReport::Outcome::Timeout;
    r.expected = r.kind == ExchangeReport::Kind::Measurement ? knownBalancers() : 0;
    // What had arrived: the message still open, or the one the receiver gave up on.
    const Message open = receiver_.partial();
    const Message* partial = &open;
    std::size_t recordBytes = receiver_.partialRecord().size();
    std::string reason;
    if (partial->frame.empty() && exchange_->cut) {
        partial = &exchange_->cut->message;
        recordBytes = exchange_->cut->recordBytes;
        reason = exchange_->cut->reason;
    }
    if (partial->frame.empty()) {
        r.errors.push_back(exchange_->firstIn ? "no frame in what came back" : "nothing came back");
    } else {
        r.records = static_cast<int>(partial->records.size());
        r.errors.push_back(
            "answer stopped after " + std::to_string(r.records) + " records" +
            (recordBytes == 0 ? std::string() : " and " + std::to_string(recordBytes) + " bytes") +
            (reason.empty() ? std::string() : " (" + reason + ")"));
    }
    if (exchange_->firstIn) {
        r.delayMs = millis(*exchange_->firstIn - exchange_->lastOut);
    }
    receiver_.reset();
    exchange_.reset();
    account(r);
    return r;
}

ExchangeReport BmsMaster::finish(const Message& answer) {
    ExchangeReport r;
    r.number = exchange_->number;
    r.kind = exchange_->kind;
    r.records = static_cast<int>(answer.records.size());
    if (exchange_->firstIn) {
        r.delayMs = millis(*exchange_->firstIn - exchange_->lastOut);
    }
    r.answerMs = millis(answer.lastByte - exchange_->lastOut);
    answerMs_.push_back(*r.answerMs);
    CheckRules rules;
    if (r.kind == ExchangeReport::Kind::Info) {
        rules.recordType = bus::rec::kInfo;
    } else {
        rules.recordType = bus::rec::kMeasurement;
        rules.expectedRecords = knownBalancers();
        rules.expectSequence = config_.expectSequence;
        rules.previousSequence = lastSequence_;
        r.expected = rules.expectedRecords;
    }
    CheckResult check = checkAnswer(exchange_->request, answer, rules);
    r.errors = std::move(check.errors);
    r.sequence = check.sequence;
    r.outcome = r.errors.empty() ? ExchangeReport::Outcome::Ok : ExchangeReport::Outcome::Failed;

    if (r.kind == ExchangeReport::Kind::Info) {
        for (const auto& rec : answer.records) {
            if (!r.productId) {
                r.productId = bus::getLe16(rec, 16);
            }
            const std::string s = serialOf(rec);
            if (r.serials.empty() || r.serials.back() != s) {
                r.serials.push_back(s);
            }
            r.inBootLoader += rec[29] != 0 ? 1 : 0;
        }
        if (r.ok()) {
            infoFlags_.clear();
            serials_.clear();
            for (const auto& rec : answer.records) {
                infoFlags_.push_back(rec[1]);
                serials_.push_back(serialOf(rec));
            }
            measurements_.assign(infoFlags_.size(), 0);
            temperatures_.assign(infoFlags_.size(), 0);
            enumerating_ = false;
            lastSequence_.reset();
        }
    } else {
        long low = 0, high = 0;
        int lowCount = 0, highCount = 0;
        for (std::size_t i = 0; i < answer.records.size(); ++i) {
            const auto& rec = answer.records[i];
            const auto word = static_cast<std::int32_t>(bus::getLe32(rec, 4));
            const auto temp = static_cast<std::int16_t>(bus::getLe16(rec, 8));
            r.cellMv.push_back(bus::cellVoltageMv(word));
            const int t = bus::temperatureTenths(temp);
            r.minTempTenths = std::min(r.minTempTenths.value_or(t), t);
            r.maxTempTenths = std::max(r.maxTempTenths.value_or(t), t);
            if (i < infoFlags_.size() && (infoFlags_[i] & 0x01) != 0) {
                if ((infoFlags_[i] & 0x02) != 0) {
                    high += bus::cellCurrentMa(word);
                    ++highCount;
                } else {
                    low += bus::cellCurrentMa(word);
                    ++lowCount;
                }
            }
            if (r.ok() && i < measurements_.size()) {
                measurements_[i] = static_cast<std::uint32_t>(word);
                temperatures_[i] = static_cast<std::uint16_t>(temp);
            }
        }
        if (lowCount > 0) {
            r.currentMa = static_cast<int>(low / lowCount);
        } else if (highCount > 0) {
            r.currentMa = static_cast<int>(high / highCount);
        }
        if (r.sequence) {
            lastSequence_ = r.sequence;
        }
        r.answerRecords = answer.records;
        r.infoFlags = infoFlags_;
    }
    receiver_.reset();
    exchange_.reset();
    account(r);
    return r;
}

std::string answerTimeTotals(const std::vector<double>& answerMs) {
    if (answerMs.empty()) {
        return {};
    }
    std::vector<double> sorted = answerMs;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double median = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    return " answer_ms_median=" + fixed(median, 2) + " answer_ms_max=" + fixed(sorted.back(), 2);
}

void BmsMaster::account(const ExchangeReport& r) {
    if (r.ok()) {
        ++ok_;
        consecutiveFailures_ = 0;
        return;
    }
    if (r.outcome == ExchangeReport::Outcome::Timeout) {
        ++timeouts_;
    } else {
        ++failed_;
    }
    if (r.kind == ExchangeReport::Kind::Measurement &&
        ++consecutiveFailures_ >= config_.failuresBeforeEnumeration) {
        notes_.push_back(std::to_string(consecutiveFailures_) +
                         " measurement exchanges failed: enumerating again");
        enumerating_ = true;
        consecutiveFailures_ = 0;
        lastSequence_.reset();
    }
}

} // namespace zanst::sim
