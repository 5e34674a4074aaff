#pragma once
// "Get All Metrics" on the bus engine's thread: the fetch of the batteries' lifetime metrics, fed
// with the 0x50 frames the master-side receiver completes and woken by a single-shot timer at the
// fetch's deadline. What the fetch reports goes to the window as queued signals; the window stores
// the records, since the metrics files belong to its thread.

#include "bus/master_receiver.hpp"
#include "bus/port.hpp"
#include "bus/state.hpp"
#include "metrics/fetch.hpp"
#include "metrics/record.hpp"

#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QTimer>

Q_DECLARE_METATYPE(zanst::metrics::MetricsMetadata)
Q_DECLARE_METATYPE(zanst::metrics::FetchSummary)

namespace zanst::app {

class MetricsFeature : public QObject, private metrics::MetricsFetchListener, private bus::ReturnedFrameSink {
    Q_OBJECT
  public:
    MetricsFeature(bus::BusState& state, bus::BusPort& port, QObject* parent = nullptr);

    // What the master-side receiver hands the completed 0x50 frames to.
    bus::ReturnedFrameSink* frameSink() { return this; }

    // Starts over at instance 1 of 4; a fetch in progress is forgotten.
    void requestAllMetrics();
    // Breaks off a running fetch with a console line saying why; it still ends with its count.
    void cancel(const QString& reason);
    bool fetching() const { return fetch_.running(); }
    // The engine stops: no more ticks.
    void shutdown() { deadlineTimer_.stop(); }

  signals:
    void consoleLine(const QString& line);
    // A fetch begins: "Instance: -", no file shown, the next record starts a new file.
    void fetchBegan();
    // The answer of one instance, in fetch order, for the active metrics file.
    void recordFetched(const zanst::metrics::MetricsMetadata& record);
    void fetchFinished(const zanst::metrics::FetchSummary& summary);

  private:
    void addItemToMetricsConsoleListBox(const std::string& line) override;
    void storeMetrics(const metrics::MetricsMetadata& record) override;
    void fetchEnded(const metrics::FetchSummary& summary) override;
    void fetchStarted() override;
    void frameReturned(std::span<const std::uint8_t> frame) override;

    metrics::MetricsFetch::Millis now() const;
    void onDeadline();
    void armDeadline();

    metrics::MetricsFetch fetch_;
    QTimer deadlineTimer_;
    QElapsedTimer clock_;
};

} // namespace zanst::app
