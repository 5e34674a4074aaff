#pragma once
// The data sniffer on the bus engine's thread: the parser that the byte router hands every
// repeated byte to, and what it shows ("BMS info" fields, the data monitor table).

#include "engine/metatypes.hpp"
#include "sniffer/sniffer_parser.hpp"

#include <QObject>
#include <QString>

namespace zanst::app {

class SnifferFeature : public QObject, private sniffer::SnifferListener {
    Q_OBJECT
  public:
    SnifferFeature(bus::BusState& state, QObject* parent = nullptr);

    // What the byte router feeds in sniffer mode.
    bus::BusListener* listener() { return &parser_; }

    // Empties the six "BMS info" fields (a change to a tab without a mode of its own).
    void clearInfo() { emit infoCleared(); }

  signals:
    // One of the "BMS info" fields (sniffer::BmsField) got a new text.
    void infoChanged(int field, const QString& text);
    void infoCleared();
    // What the balancer tables hold at the end of every sniffed burst.
    void snapshotTaken(const zanst::bank::BankSnapshot& snapshot);
    // The BMS's setpoint, bank voltage and current from its measurement frame, as numbers.
    void bankValuesChanged(const zanst::bank::BankValues& values);

  private:
    void bmsInfoChanged(sniffer::BmsField field, const std::string& text) override;
    void burstEnded(const bank::BankSnapshot& snapshot) override;
    void bmsMeasured(int setpointMv, int bankMv, int bankMa) override;

    sniffer::SnifferParser parser_;
};

} // namespace zanst::app
