#pragma once
// Runs the battery tester's poll tick and the data monitor's parser on the bus engine's thread
// and hands their results to the window as value types.

#include "tester/cell_rows.hpp"
#include "tester/poll_engine.hpp"
#include "tester/sniffer_parser.hpp"

#include <QMetaType>

namespace zanst::app {

class BusEngine;

// Number texts with the decimal point of the user's locale.
bus::TextFormat localeTextFormat();

class TesterLink : public tester::SnifferListener {
  public:
    TesterLink(BusEngine& engine, bus::BusState& state, bus::BusPort& port);

    // Poll tick of "Battery tester" and "Calibration".
    tester::TickReport tick();

    tester::SnifferParser& sniffer() { return sniffer_; }
    const tester::PollEngine& poll() const { return poll_; }

    // Engine-side inputs from the tab: ignored when out of range.
    void setSetpointCorrection(int correction);
    void setSystemVoltage(int volts);

  private:
    void bmsInfoChanged(tester::BmsField field, const std::string& text) override;
    void burstEnded(const tester::BankSnapshot& snapshot) override;

    BusEngine& engine_;
    tester::PollEngine poll_;
    tester::SnifferParser sniffer_;
    bus::TextFormat format_;
};

} // namespace zanst::app

Q_DECLARE_METATYPE(zanst::tester::CellTable)
