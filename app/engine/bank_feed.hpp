#pragma once
// The bank as every view shows it, whichever feature saw it: the tester's poll ticks and the
// sniffer's bursts merged into one stream of snapshots and bank values. It lives on the thread of
// the views (the window's, or a command line's), so each report crosses threads once and the
// views get it by reference.

#include "engine/metatypes.hpp"

#include <QObject>

namespace zanst::app {

class BusEngine;

class BankFeed : public QObject {
    Q_OBJECT
  public:
    // Follows `engine`'s tester and sniffer from now on.
    explicit BankFeed(BusEngine& engine, QObject* parent = nullptr);

    void takeTick(const tester::TickReport& report);
    void takeSnifferReport(const sniffer::SnifferReport& report);

  signals:
    // What the balancer tables held after a poll tick or a sniffed burst.
    void snapshotTaken(const zanst::bank::BankSnapshot& snapshot);
    // Setpoint, bank voltage and current: the tester's computation or the BMS's announcement.
    void bankValuesChanged(const zanst::bank::BankValues& values);
    // The tester's own computation only (the boxes of "Battery tester").
    void bankComputed(const zanst::bank::BankValues& values);
    // "Calibration": whether every known balancer reports test mode, after the tick's snapshot.
    void testModeChecked(bool allInTestMode);
};

} // namespace zanst::app
