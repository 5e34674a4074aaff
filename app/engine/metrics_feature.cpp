#include "engine/metrics_feature.hpp"

#include <algorithm>

namespace zanst::app {

MetricsFeature::MetricsFeature(bus::BusState& state, bus::BusPort& port, QObject* parent)
    : QObject(parent), fetch_(port, state.frameReceiving, *this), deadlineTimer_(this) {
    qRegisterMetaType<metrics::MetricsMetadata>();
    qRegisterMetaType<metrics::FetchSummary>();
    clock_.start();
    deadlineTimer_.setSingleShot(true);
    deadlineTimer_.setTimerType(Qt::PreciseTimer);
    connect(&deadlineTimer_, &QTimer::timeout, this, &MetricsFeature::onDeadline);
}

metrics::MetricsFetch::Millis MetricsFeature::now() const {
    return metrics::MetricsFetch::Millis(clock_.elapsed());
}

void MetricsFeature::armDeadline() {
    const auto due = fetch_.deadline();
    if (!due) {
        deadlineTimer_.stop();
        return;
    }
    deadlineTimer_.start(static_cast<int>(std::max<qint64>(0, (*due - now()).count())));
}

void MetricsFeature::requestAllMetrics() {
    fetch_.requestAllMetrics(now());
    armDeadline();
}

void MetricsFeature::cancel(const QString& reason) {
    fetch_.cancel(reason.toStdString());
    armDeadline();
}

void MetricsFeature::onDeadline() {
    fetch_.tick(now());
    armDeadline();
}

void MetricsFeature::frameReturned(std::span<const std::uint8_t> frame) {
    if (!fetch_.running()) {
        return;
    }
    fetch_.frameReceived(frame, now());
    armDeadline();
}

void MetricsFeature::addItemToMetricsConsoleListBox(const std::string& line) {
    emit consoleLine(QString::fromStdString(line));
}

void MetricsFeature::fetchStarted() {
    emit fetchBegan();
}

void MetricsFeature::storeMetrics(const metrics::MetricsMetadata& record) {
    emit recordFetched(record);
}

void MetricsFeature::fetchEnded(const metrics::FetchSummary& summary) {
    emit fetchFinished(summary);
}

} // namespace zanst::app
