#include "cli/sniff_view.hpp"

#include "cli/rows_format.hpp"

namespace zanst::cli {

using sniffer::BmsField;

std::string fieldLine(const sniffer::BmsFieldText& field) {
    switch (field.field) {
    case BmsField::Serial:
        return "BMS Serial: " + field.text;
    case BmsField::Pid:
        return "BMS PID: " + field.text;
    case BmsField::SystemVbat:
        return "System Vbat: " + field.text + " V";
    case BmsField::BmsCurrent:
        return "BMS Current: " + field.text + " A";
    case BmsField::BalancerSetpoint:
        return "Balancer Setpoint: " + field.text + " mV";
    case BmsField::Status:
        return "BMS Status: " + field.text;
    }
    return field.text;
}

std::vector<std::string> SniffView::fields(const std::vector<sniffer::BmsFieldText>& received) {
    std::vector<std::string> lines;
    for (const sniffer::BmsFieldText& f : received) {
        const auto at = static_cast<std::size_t>(f.field);
        if (at >= fields_.size() || fields_[at] == f.text) {
            continue;
        }
        fields_[at] = f.text;
        lines.push_back(fieldLine(f));
    }
    return lines;
}

std::vector<std::string> SniffView::rows(const bank::BankSnapshot& snapshot) {
    std::vector<std::string> lines;
    const std::size_t n = snapshot.balancers.size();
    if (count_ != n) {
        count_ = n;
        lines.push_back(std::to_string(n) + (n == 1 ? " balancer" : " balancers"));
        rows_.assign(n, std::string());
    }
    for (std::size_t i = 0; i < n; ++i) {
        std::string line = balancerLine(static_cast<int>(i) + 1, snapshot.balancers[i]);
        if (line != rows_[i]) {
            lines.push_back(line);
            rows_[i] = std::move(line);
        }
    }
    return lines;
}

} // namespace zanst::cli
