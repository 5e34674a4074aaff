#pragma once
// The cell tables of the "Battery tester" and "Data Sniffer" tabs: both show the same rows,
// one per balancer, made from a bank snapshot as texts and colours.

#include "bank_snapshot.hpp"
#include "bus/number_text.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zanst::bank {

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

// Table refresh: one row per balancer of the snapshot, with the rows of one battery sharing a
// background, white and Gainsboro in turn.
CellTable UpdateCellData(const BankSnapshot& snapshot, const bus::TextFormat& format);

} // namespace zanst::bank
