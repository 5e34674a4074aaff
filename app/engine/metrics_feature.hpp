#pragma once
// "Get All Metrics" on the bus engine's thread: the fetch of the batteries' lifetime metrics, fed
// with the 0x50 frames the master-side receiver completes and woken by a single-shot timer at the
// fetch's deadline. What the fetch reports goes to the window, which stores the records: the
// metrics files belong to its thread.

#include "bus/port.hpp"
#include "bus/state.hpp"
#include "engine/metatypes.hpp"
#include "metrics/fetch.hpp"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace zanst::app {

class MetricsFeature : public QObject {
    Q_OBJECT
  public:
    MetricsFeature(bus::BusState& state, bus::BusPort& port, QObject* parent = nullptr);

    // A completed 0x50 frame that came back along the ring.
    void frameReturned(std::span<const std::uint8_t> frame);

    // Starts over at instance 1 of 4; a fetch in progress is forgotten.
    void requestAllMetrics();
    // Breaks off a running fetch with a console line saying why; it still ends with its count.
    void cancel(const QString& reason);
    bool fetching() const { return fetch_.running(); }
    // The engine stops: no more ticks.
    void shutdown() { deadlineTimer_.stop(); }

  signals:
    void reported(const zanst::metrics::FetchReport& report);

  private:
    metrics::MetricsFetch::Millis now() const;
    void onDeadline();
    // Re-arms the deadline timer and hands the report on.
    void settle(const metrics::FetchReport& report);

    metrics::MetricsFetch fetch_;
    QTimer deadlineTimer_;
    QElapsedTimer clock_;
};

} // namespace zanst::app
