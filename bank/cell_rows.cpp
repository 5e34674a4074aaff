#include "cell_rows.hpp"

#include "bus/hex.hpp"

namespace zanst::bank {

namespace {
constexpr std::size_t at(Column c) {
    return static_cast<std::size_t>(col(c));
}
} // namespace

VoltageLevel voltageLevel(float volts) {
    if (volts > 3.75f || volts < 2.7f) {
        return VoltageLevel::Alarm;
    }
    if (volts > 3.65f || volts < 2.8f) {
        return VoltageLevel::Warning;
    }
    return VoltageLevel::Normal;
}

namespace {

// Fills a fresh row in place: moving a row of twelve texts costs as much as writing them.
void fillRow(CellRow& row, const BalancerReading& balancer, const bus::TextFormat& format) {
    row.cellId = balancer.id;
    row.text[at(Column::CellId)] = std::to_string(balancer.id);

    if (balancer.millivolts) {
        const int mv = *balancer.millivolts;
        const float volts = static_cast<float>(mv) / 1000.0f;
        row.volts = volts;
        row.level = voltageLevel(volts);
        row.text[at(Column::Voltage)] = bus::scaledText(mv, 3, format);
    } else {
        row.text[at(Column::Voltage)] = "-";
    }

    if (balancer.measuresCurrent()) {
        const double amps = static_cast<double>(balancer.milliamps) / 1000.0;
        row.text[at(Column::Current)] =
            (balancer.highRange() ? "H: " : "L: ") + bus::shortestText(amps, format);
    } else {
        row.text[at(Column::Current)] = "-";
    }

    row.celsius = static_cast<double>(balancer.tenthsCelsius) / 10.0;
    row.text[at(Column::Temp)] = bus::scaledText(balancer.tenthsCelsius, 1, format);

    row.text[at(Column::Serial)] = balancer.serial;
    row.text[at(Column::Firmware)] = bus::versionToString(balancer.fwVersion);
    row.text[at(Column::ProdID)] = bus::ConvertHex1(balancer.productId, 4);
    row.text[at(Column::BootLoader)] = bus::versionToString(balancer.blVersion);
}

} // namespace

CellTable UpdateCellData(const BankSnapshot& snapshot, const bus::TextFormat& format) {
    CellTable table;
    table.rows.resize(snapshot.balancers.size());
    for (std::size_t i = 0; i < snapshot.balancers.size(); ++i) {
        const BalancerReading& balancer = snapshot.balancers[i];
        CellRow& row = table.rows[i];
        fillRow(row, balancer, format);
        row.background = balancer.battery % 2 == 0 ? RowBackground::White : RowBackground::Gainsboro;
    }
    return table;
}

} // namespace zanst::bank
