#pragma once
// The cell tables of the "Battery tester" and "Data Sniffer" tabs: both show the same rows,
// one per balancer, built from the balancer tables as texts and colours.

#include "bus/state.hpp"
#include "bus/number_text.hpp"
#include "bus/records.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zanst::tester {

inline constexpr int kTableRows = 256;

// Grid columns in display order; the last three have no caption and stay empty.
enum class Column : int {
    Select = 0, // the check box of the row, kept by the window
    CellId,
    Voltage,
    Current,
    Temp,
    Serial,
    Firmware,
    ProdID,
    BootLoader,
    Spare1,
    Spare2,
    Spare3,
};
inline constexpr int kColumnCount = 12;

inline constexpr int col(Column c) {
    return static_cast<int>(c);
}

enum class VoltageLevel {
    Normal,  // black, regular
    Warning, // dark orange, bold
    Alarm,   // red, bold
};

enum class RowBackground { White, Gainsboro };

// Voltage thresholds, compared in single precision as the balancers' voltage is held.
VoltageLevel voltageLevel(float volts);

struct CellRow {
    std::array<std::string, kColumnCount> text{}; // Select and the spare columns stay empty
    VoltageLevel level = VoltageLevel::Normal;
    RowBackground background = RowBackground::White;

    // The numbers behind the texts, for recordings.
    int cellId = 0;
    std::optional<float> volts; // empty where the grid shows "-"
    double celsius = 0.0;

    const std::string& operator[](Column c) const { return text[static_cast<std::size_t>(col(c))]; }
};

// Rows for the balancers 1..n in order; grid rows past them are empty and white.
struct CellTable {
    std::vector<CellRow> rows;
};

// Everything the tables show of one balancer, read once from the balancer tables.
struct BalancerView {
    int id = 0; // the balancer id the entries belong to (row id - 1)
    const bus::balancerinfo* info = nullptr;
    const bus::cellmeasurements* measurement = nullptr;
    const bus::calibrationdata* calibration = nullptr;

    bool hasMeasurement() const { return measurement->measurement != 0; }
    int millivolts() const { return bus::cellVoltageMv(measurement->measurement); }
    int milliamps() const { return bus::cellCurrentMa(measurement->measurement); }
    int tenthsCelsius() const { return bus::temperatureTenths(measurement->temperature); }
};

// The view of balancer `id` (1..255).
BalancerView viewOf(const bus::BalancerTables& tables, int id);

// One row of the tester and data monitor tables (background left white).
CellRow cellRow(const BalancerView& balancer, const bus::TextFormat& format);

// Table refresh: the rows of balancers 1..numCells (at most 255), with the rows of one battery
// (consecutive balancers with the same serial) sharing a background, white and Gainsboro in turn.
CellTable UpdateCellData(const bus::BusState& state, const bus::TextFormat& format);

} // namespace zanst::tester
