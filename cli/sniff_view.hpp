#pragma once
// What `zanst-cli sniff` prints: the BMS's fields and the balancers' rows as they change, one line
// each, so that a sniffer left in a ring for days writes only what is new. It remembers one text
// per field and per balancer, nothing more.

#include "bank/bank_snapshot.hpp"
#include "sniffer/sniffer_parser.hpp"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace zanst::cli {

// "BMS Serial", "System Vbat", ... as the "BMS info" group names them, with their units.
std::string fieldLine(const sniffer::BmsFieldText& field);

class SniffView {
  public:
    // Lines for the fields whose text differs from the one printed last.
    std::vector<std::string> fields(const std::vector<sniffer::BmsFieldText>& received);
    // A line for the balancer count when it changed, then one for every balancer whose row
    // changed (every one after the count changed).
    std::vector<std::string> rows(const bank::BankSnapshot& snapshot);

  private:
    std::array<std::optional<std::string>, sniffer::kBmsFieldCount> fields_;
    std::optional<std::size_t> count_;
    std::vector<std::string> rows_;
};

} // namespace zanst::cli
