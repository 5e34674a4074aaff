#pragma once
// The status bar at the foot of the window: mode, port, balancers found, frames sent and
// received, CRC errors, unanswered polls, how long ago the last valid answer came and, when the
// ring answers only up to a balancer, where it stops. Its fields flow onto a second line where one
// line is too narrow, so that each shows its whole text at any value; only the port's path is cut,
// in the middle, with the whole path in its tool tip.

#include "engine/health_report.hpp"

#include <QString>
#include <QWidget>

class QLabel;

namespace zanst::app {

class BusStatusBar : public QWidget {
    Q_OBJECT
  public:
    // The port field shows about this many characters of its text, in any font.
    static constexpr int kPortChars = 48;

    explicit BusStatusBar(QWidget* parent = nullptr);

    void setPortText(const QString& text);
    // `mode`: the caption of the report's mode. `stale`: its watchdog ran out; the age is shown greyed.
    void showHealth(const HealthReport& report, const QString& mode, bool stale);
    // A field of a feature that reports beside the bus (the adapter, the service log), after the
    // others; it flows like them.
    QLabel* addField(const QString& accessibleName);
    // The port field's whole text (its label may show it cut in the middle).
    const QString& portText() const { return portText_; }
    int portWidth() const;

    QLabel* modeLabel = nullptr;
    QLabel* portLabel = nullptr;
    QLabel* balancersLabel = nullptr;
    QLabel* framesLabel = nullptr;
    QLabel* crcLabel = nullptr;
    QLabel* unansweredLabel = nullptr;
    QLabel* ageLabel = nullptr;
    QLabel* ringLabel = nullptr;

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void showPortText();
    void reserveTwoLines();

    QString portText_;
};

// "4 s", "2 min 5 s", "3 h 12 min", "2 d 5 h".
QString ageText(qint64 ms);

} // namespace zanst::app
