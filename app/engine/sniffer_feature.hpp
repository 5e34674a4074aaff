#pragma once
// The data sniffer on the bus engine's thread: the parser that every repeated byte goes to, and
// what it found ("BMS info" fields, the data monitor table).

#include "engine/metatypes.hpp"
#include "sniffer/sniffer_parser.hpp"

#include <QObject>

namespace zanst::app {

class SnifferFeature : public QObject {
    Q_OBJECT
  public:
    explicit SnifferFeature(bus::BusState& state, QObject* parent = nullptr);

    // One repeated byte, parsed at once; passEnded() reports what the pass's bytes completed.
    void parse(std::uint8_t b) { parser_.serialSnifferDataParser(b); }
    void passEnded();
    const sniffer::SnifferParser& parser() const { return parser_; }

    // Empties the six "BMS info" fields (a change to a mode that clears the tables).
    void clearInfo() { emit infoCleared(); }

  signals:
    void reported(const zanst::sniffer::SnifferReport& report);
    void infoCleared();

  private:
    sniffer::SnifferParser parser_;
};

} // namespace zanst::app
