#include "cell_rows.hpp"

#include "bus/hex.hpp"

namespace zanst::tester {

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

BalancerView viewOf(const bus::BalancerTables& tables, int id) {
    const auto index = static_cast<std::size_t>(std::clamp(id, 0, bus::kMaxBalancerId));
    return BalancerView{static_cast<int>(index), &tables.balInfo[index], &tables.balancer[index],
                        &tables.balCalData[index]};
}

CellRow cellRow(const BalancerView& balancer, const bus::TextFormat& format) {
    CellRow row;
    const bus::balancerinfo& info = *balancer.info;

    row.cellId = info.id;
    row.text[at(Column::CellId)] = std::to_string(info.id);

    if (balancer.hasMeasurement()) {
        const int mv = balancer.millivolts();
        const float volts = static_cast<float>(mv) / 1000.0f;
        row.volts = volts;
        row.level = voltageLevel(volts);
        row.text[at(Column::Voltage)] = bus::scaledText(mv, 3, format);
    } else {
        row.text[at(Column::Voltage)] = "-";
    }

    if (info.measuresCurrent()) {
        const double amps = static_cast<double>(balancer.milliamps()) / 1000.0;
        row.text[at(Column::Current)] = (info.highRange() ? "H: " : "L: ") + bus::shortestText(amps, format);
    } else {
        row.text[at(Column::Current)] = "-";
    }

    const int tenths = balancer.tenthsCelsius();
    row.celsius = static_cast<double>(tenths) / 10.0;
    row.text[at(Column::Temp)] = bus::scaledText(tenths, 1, format);

    row.text[at(Column::Serial)] = std::string(info.serialText());
    row.text[at(Column::Firmware)] = bus::versionToString(info.fwVersion);
    row.text[at(Column::ProdID)] = bus::ConvertHex1(info.productId, 4);
    row.text[at(Column::BootLoader)] = bus::versionToString(info.blVersion);
    return row;
}

CellTable UpdateCellData(const bus::BusState& state, const bus::TextFormat& format) {
    const int count = bus::walkableCells(state.numCells);
    CellTable table;
    table.rows.reserve(static_cast<std::size_t>(count));
    RowBackground background = RowBackground::White;
    std::string_view previousSerial;
    for (int id = 1; id <= count; ++id) {
        const BalancerView balancer = viewOf(state.tables, id);
        CellRow row = cellRow(balancer, format);
        const std::string_view serial = balancer.info->serialText();
        if (id > 1 && serial != previousSerial) {
            background = background == RowBackground::White ? RowBackground::Gainsboro : RowBackground::White;
        }
        previousSerial = serial;
        row.background = background;
        table.rows.push_back(std::move(row));
    }
    return table;
}

} // namespace zanst::tester
