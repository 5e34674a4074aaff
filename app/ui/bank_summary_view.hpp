#pragma once
// The bank summary above a cell table: cell count, lowest and highest cell with their numbers,
// spread, temperatures, bank voltage and current, balancing cells, and the cells outside the
// normal band in the table's colours.

#include "bank/bank_summary.hpp"
#include "bus/number_text.hpp"
#include "tester/bank_computation.hpp"

#include <QWidget>

#include <optional>

class QLabel;

namespace zanst::app {

class BankSummaryView : public QWidget {
    Q_OBJECT
  public:
    explicit BankSummaryView(QWidget* parent = nullptr);

    void showSnapshot(const bank::BankSnapshot& snapshot);
    // Bank voltage, current and setpoint, from the tester's tick or the BMS's frame.
    void showBankValues(const bank::BankValues& values);
    void setStale(bool stale);

    const bank::BankSummary& summary() const { return summary_; }
    QLabel* cellsLine = nullptr; // counts, extremes, temperatures, bank
    QLabel* flagsLine = nullptr; // balancing cells and cells outside the band

  private:
    void render();

    bus::TextFormat format_;
    bank::BankSnapshot snapshot_;
    bank::BankSummary summary_;
    std::optional<bank::BankValues> bank_;
    bool stale_ = false;
};

} // namespace zanst::app
