#pragma once
// "Data Sniffer": the tool repeats and decodes the ring traffic. Shows what the BMS announces
// in "BMS info" and the balancers' records in the data monitor table, which can be recorded.

#include "sniffer/sniffer_parser.hpp"

#include "ui/tab_page.hpp"

#include <array>

class QLabel;
class QLineEdit;
class QTableView;

namespace zanst::bank {
struct BankSnapshot;
struct BankValues;
} // namespace zanst::bank

namespace zanst::app {

class BankSummaryView;
class CellTableModel;
class RecorderPanel;
class RecordingLock;
class StaleNote;
class WarningLine;

class SnifferTab : public TabPage {
    Q_OBJECT
  public:
    SnifferTab(RecordingLock& lock, QWidget* parent = nullptr);

    void shown() override;
    void hideRiskyTools() override;
    RecorderPanel* recorder() const override { return recorder_; }

    CellTableModel* model() const { return model_; }
    BankSummaryView* summary() const { return summary_; }
    QLineEdit* bmsField(sniffer::BmsField field) const { return fields_[static_cast<std::size_t>(field)]; }

    QTableView* BattDataMonitorGridView = nullptr;

    // What the sniffer reports: the "BMS info" fields it found, all fields emptied, the rows.
    void showSnifferReport(const sniffer::SnifferReport& report);
    void showField(sniffer::BmsField field, const QString& text);
    void clearFields();
    void showSnapshot(const bank::BankSnapshot& snapshot);
    // The bank values of whichever feature runs, in the summary.
    void showSummaryValues(const bank::BankValues& values);
    // The fields and rows are old: no valid traffic for longer than the watchdog.
    void setStale(bool stale, const QString& age) override;
    void setAdapterWarning(const QString& text) override;

  private:
    CellTableModel* model_ = nullptr;
    RecorderPanel* recorder_ = nullptr;
    BankSummaryView* summary_ = nullptr;
    std::array<QLineEdit*, sniffer::kBmsFieldCount> fields_{};
    QLabel* statusCaption_ = nullptr;
    StaleNote* staleNote_ = nullptr;
    WarningLine* adapterWarning_ = nullptr;
};

} // namespace zanst::app
