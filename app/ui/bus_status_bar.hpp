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
    // `stale`: the mode's watchdog ran out; the age is shown greyed.
    void showHealth(const HealthReport& report, bool stale);

    QLabel* modeLabel = nullptr;
    QLabel* portLabel = nullptr;
    QLabel* balancersLabel = nullptr;
    QLabel* framesLabel = nullptr;
    QLabel* crcLabel = nullptr;
    QLabel* unansweredLabel = nullptr;
    QLabel* ageLabel = nullptr;
    QLabel* ringLabel = nullptr;
};

// "Battery tester", "Data Sniffer", ... for a mode.
QString modeCaption(bus::Tab mode);
// How long a mode may go without a valid answer before what it shows counts as old.
int watchdogMs(bus::Tab mode);
// "4 s", "2 min 5 s".
QString ageText(qint64 ms);

} // namespace zanst::app
