#pragma once
// "Adapter" on "Connection": what stands behind the open port (chip, driver, USB ids and strings,
// latency timer, the rate the driver really set) and what each means, why a port would not open,
// the command that brings a slow adapter to 1 ms, and the offer to reconnect an adapter that came
// back after it was lost.

#include "adapter/port_report.hpp"

#include <QGroupBox>

class QLabel;
class QPushButton;

namespace zanst::app {

class AdapterPanel : public QGroupBox {
    Q_OBJECT
  public:
    explicit AdapterPanel(QWidget* parent = nullptr);

    // After every opening of the port, and when the sniffer's echo thread starts or stops.
    void showReport(const adapter::PortReport& report);
    // No port open (at start, after "Disconnect").
    void showIdle();
    // A line about the connection itself (lost, reconnected); empty hides it.
    void showNote(const QString& text);
    // "<text>" beside a "Reconnect" button, until withdrawn.
    void offerReconnect(const QString& text);
    void withdrawOffer();
    bool offering() const;

    QLabel* details = nullptr; // identity, latency, line rate, echo
    QLabel* error = nullptr;   // why the port did not open, in red
    QLabel* advice = nullptr;  // the command and the udev rule for a slow latency timer
    QLabel* note = nullptr;
    QLabel* offer = nullptr;
    QPushButton* reconnect = nullptr;

  signals:
    void reconnectRequested();
};

} // namespace zanst::app
