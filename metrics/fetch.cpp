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

void MetricsFetch::requestMetrics(int instance) {
    listener_.addItemToMetricsConsoleListBox("Fetching instance " + std::to_string(instance));
    send(instance);
}

void MetricsFetch::ask(Millis now) {
    retries_ = 0;
    deadline_ = now + kAnswerWait;
    requestMetrics(instanceIDToFetch_);
    stopIfPortClosed();
}

bool MetricsFetch::stopIfPortClosed() {
    if (!running_ || port_.isOpen()) {
        return false;
    }
    // Nothing can answer a request that never went out: waiting and asking again would only
    // fill the console with instances that "did not answer".
    cancel(std::string(kPortClosedLine));
    return true;
}

void MetricsFetch::requestAllMetrics(Millis now) {
    listener_.fetchStarted();
    nrOfInstances_ = kAllInstances;
    instanceIDToFetch_ = 1;
    answered_ = 0;
    running_ = true;
    ask(now);
}

void MetricsFetch::next(Millis now) {
    if (instanceIDToFetch_ < nrOfInstances_) {
        ++instanceIDToFetch_;
        ask(now);
        return;
    }
    running_ = false;
    listener_.fetchEnded({nrOfInstances_, answered_});
}

void MetricsFetch::frameReceived(std::span<const std::uint8_t> frame, Millis now) {
    if (!running_ || !bus::isMetricsAnswer(frame)) {
        return;
    }
    const DecodedAnswer answer = decodeMetricsAnswer(frame);
    if (!answer.record) {
        listener_.addItemToMetricsConsoleListBox("Metrics answer refused: " + answerErrorText(answer.error));
        return;
    }
    // Compared, never used as an index: any number from the bus is harmless here.
    if (answer.record->instanceNumber != instanceIDToFetch_) {
        listener_.addItemToMetricsConsoleListBox(
            "Ignored metrics answer for instance " + std::to_string(answer.record->instanceNumber) +
            " while fetching instance " + std::to_string(instanceIDToFetch_));
        return;
    }
    ++answered_;
    listener_.storeMetrics(*answer.record);
    next(now);
}

void MetricsFetch::tick(Millis now) {
    if (!running_ || now < deadline_ || stopIfPortClosed()) {
        return;
    }
    if (retries_ < kRetries) {
        ++retries_;
        listener_.addItemToMetricsConsoleListBox(
            "No answer from instance " + std::to_string(instanceIDToFetch_) + ", asking again (" +
            std::to_string(retries_) + " of " + std::to_string(kRetries) + ")");
        deadline_ = now + kAnswerWait;
        send(instanceIDToFetch_);
        return;
    }
    listener_.addItemToMetricsConsoleListBox("Instance " + std::to_string(instanceIDToFetch_) +
                                             " did not answer");
    next(now);
}

void MetricsFetch::cancel(const std::string& reason) {
    if (!running_) {
        return;
    }
    running_ = false;
    listener_.addItemToMetricsConsoleListBox(reason);
    listener_.fetchEnded({nrOfInstances_, answered_});
}

std::optional<MetricsFetch::Millis> MetricsFetch::deadline() const {
    if (!running_) {
        return std::nullopt;
    }
    return deadline_;
}

} // namespace zanst::metrics
