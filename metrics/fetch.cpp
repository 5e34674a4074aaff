#include "fetch.hpp"

#include "answer.hpp"

#include "bus/protocol.hpp"
#include "bus/senders.hpp"

namespace zanst::metrics {

std::string fetchEndedLine(int stored, int requested) {
    return "Metrics fetch done: " + std::to_string(stored) + " of " + std::to_string(requested) +
           " instances stored";
}

void MetricsFetch::send(int instance) {
    const bus::Bytes frame = buildMetricsRequest(instance);
    bus::sendHexBmsCmd(port_, frameReceiving_, frame);
}

void MetricsFetch::logRequest(int instance) {
    console("Fetching instance " + std::to_string(instance));
    send(instance);
}

FetchReport MetricsFetch::requestMetrics(int instance) {
    logRequest(instance);
    return take();
}

void MetricsFetch::ask(Millis now) {
    retries_ = 0;
    deadline_ = now + kAnswerWait;
    logRequest(instanceIDToFetch_);
    stopIfPortClosed();
}

bool MetricsFetch::stopIfPortClosed() {
    if (!running_ || port_.isOpen()) {
        return false;
    }
    // Nothing can answer a request that never went out: waiting and asking again would only
    // fill the console with instances that "did not answer".
    end(std::string(kPortClosedLine));
    return true;
}

FetchReport MetricsFetch::requestAllMetrics(Millis now) {
    report_.started = true;
    nrOfInstances_ = kAllInstances;
    instanceIDToFetch_ = 1;
    answered_ = 0;
    running_ = true;
    ask(now);
    return take();
}

void MetricsFetch::next(Millis now) {
    if (instanceIDToFetch_ < nrOfInstances_) {
        ++instanceIDToFetch_;
        ask(now);
        return;
    }
    running_ = false;
    report_.ended = FetchSummary{nrOfInstances_, answered_};
}

FetchReport MetricsFetch::frameReceived(std::span<const std::uint8_t> frame, Millis now) {
    if (!running_ || !bus::isMetricsAnswer(frame)) {
        return take();
    }
    const DecodedAnswer answer = decodeMetricsAnswer(frame);
    if (!answer.record) {
        console("Metrics answer refused: " + answerErrorText(answer.error));
        return take();
    }
    // Compared, never used as an index: any number from the bus is harmless here.
    if (answer.record->instanceNumber != instanceIDToFetch_) {
        console("Ignored metrics answer for instance " + std::to_string(answer.record->instanceNumber) +
                " while fetching instance " + std::to_string(instanceIDToFetch_));
        return take();
    }
    ++answered_;
    report_.recordsReceived.push_back(*answer.record);
    next(now);
    return take();
}

FetchReport MetricsFetch::tick(Millis now) {
    if (!running_ || now < deadline_ || stopIfPortClosed()) {
        return take();
    }
    if (retries_ < kRetries) {
        ++retries_;
        console("No answer from instance " + std::to_string(instanceIDToFetch_) + ", asking again (" +
                std::to_string(retries_) + " of " + std::to_string(kRetries) + ")");
        deadline_ = now + kAnswerWait;
        send(instanceIDToFetch_);
        return take();
    }
    console("Instance " + std::to_string(instanceIDToFetch_) + " did not answer");
    next(now);
    return take();
}

void MetricsFetch::end(std::string reason) {
    running_ = false;
    console(std::move(reason));
    report_.ended = FetchSummary{nrOfInstances_, answered_};
}

FetchReport MetricsFetch::cancel(const std::string& reason) {
    if (running_) {
        end(reason);
    }
    return take();
}

std::optional<MetricsFetch::Millis> MetricsFetch::deadline() const {
    if (!running_) {
        return std::nullopt;
    }
    return deadline_;
}

} // namespace zanst::metrics
