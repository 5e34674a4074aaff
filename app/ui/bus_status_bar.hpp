#pragma once
// The status bar at the foot of the window: mode, port, balancers found, frames sent and
// received, CRC errors, unanswered polls, how long ago the last valid answer came and, when the
// ring answers only up to a balancer, where it stops.

#include "engine/health_report.hpp"

#include <QStatusBar>

class QLabel;

namespace zanst::app {

class BusStatusBar : public QStatusBar {
    Q_OBJECT
  public:
    explicit BusStatusBar(QWidget* parent = nullptr);

    void setPortText(const QString& text);
    // `mode`: the caption of the report's mode. `stale`: its watchdog ran out; the age is shown greyed.
    void showHealth(const HealthReport& report, const QString& mode, bool stale);

    QLabel* modeLabel = nullptr;
    QLabel* portLabel = nullptr;
    QLabel* balancersLabel = nullptr;
    QLabel* framesLabel = nullptr;
    QLabel* crcLabel = nullptr;
    QLabel* unansweredLabel = nullptr;
    QLabel* ageLabel = nullptr;
    QLabel* ringLabel = nullptr;
};

// "4 s", "2 min 5 s".
QString ageText(qint64 ms);

} // namespace zanst::app
