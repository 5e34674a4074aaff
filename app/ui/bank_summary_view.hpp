#pragma once
// The bank summary above a cell table: cell count, lowest and highest cell with their numbers,
// spread, temperatures, bank voltage and current, balancing cells, and the cells outside the
// normal band in the table's colours.

#include "bus/number_text.hpp"
#include "tester/bank_computation.hpp"
#include "tester/bank_summary.hpp"

#include <QWidget>

#include <optional>

class QLabel;

namespace zanst::app {

class BankSummaryView : public QWidget {
    Q_OBJECT
  public:
    explicit BankSummaryView(QWidget* parent = nullptr);

    void showSnapshot(const tester::BankSnapshot& snapshot);
    // Bank voltage, current and setpoint, from the tester's tick or the BMS's frame.
    void showBankValues(const tester::BankValues& values);
    void setStale(bool stale);

    const tester::BankSummary& summary() const { return summary_; }
    QLabel* cellsLine = nullptr; // counts, extremes, temperatures, bank
    QLabel* flagsLine = nullptr; // balancing cells and cells outside the band

  private:
    void render();

    bus::TextFormat format_;
    tester::BankSnapshot snapshot_;
    tester::BankSummary summary_;
    std::optional<tester::BankValues> bank_;
    bool stale_ = false;
};

} // namespace zanst::app
