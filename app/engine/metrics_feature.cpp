#include "engine/metrics_feature.hpp"

#include <algorithm>

namespace zanst::app {

MetricsFeature::MetricsFeature(bus::BusState& state, bus::BusPort& port, QObject* parent)
    : QObject(parent), fetch_(port, state.frameReceiving), deadlineTimer_(this) {
    clock_.start();
    deadlineTimer_.setSingleShot(true);
    deadlineTimer_.setTimerType(Qt::PreciseTimer);
    connect(&deadlineTimer_, &QTimer::timeout, this, &MetricsFeature::onDeadline);
}

metrics::MetricsFetch::Millis MetricsFeature::now() const {
    return metrics::MetricsFetch::Millis(clock_.elapsed());
}

void MetricsFeature::settle(const metrics::FetchReport& report) {
    if (const auto due = fetch_.deadline()) {
        deadlineTimer_.start(static_cast<int>(std::max<qint64>(0, (*due - now()).count())));
    } else {
        deadlineTimer_.stop();
    }
    if (!report.empty()) {
        emit reported(report);
    }
}

void MetricsFeature::requestAllMetrics() {
    settle(fetch_.requestAllMetrics(now()));
}

void MetricsFeature::cancel(const QString& reason) {
    settle(fetch_.cancel(reason.toStdString()));
}

void MetricsFeature::onDeadline() {
    settle(fetch_.tick(now()));
}

void MetricsFeature::frameReturned(std::span<const std::uint8_t> frame) {
    if (fetch_.running()) {
        settle(fetch_.frameReceived(frame, now()));
    }
}

} // namespace zanst::app
