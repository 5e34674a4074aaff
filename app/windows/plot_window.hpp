#pragma once
// Live plots beside the tabs: cell voltages or temperatures over time (all cells, or one
// battery) with the cells ticked in the table's "Select" column drawn as lines of their own over
// the grey band of all cells shown, and the bank's voltage and current. Fed with the snapshots
// the tables get; samples kept once a second for an hour; redrawn once a second while visible.

#include "bank/bank_history.hpp"
#include "tester/bank_computation.hpp"
#include "windows/chart_export.hpp"

#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

class QAreaSeries;
class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

namespace zanst::app {

class CellTableModel;

class PlotWindow : public QWidget {
    Q_OBJECT
  public:
    enum class Quantity : int { Voltage = 0, Temperature, Bank };
    static constexpr int kMaxPointsPerSeries = 300; // longer spans are thinned to this

    explicit PlotWindow(QWidget* parent = nullptr);

    // The table whose "Select" ticks choose the highlighted cells.
    void setSelectionSource(const CellTableModel* model);
    void addSnapshot(const bank::BankSnapshot& snapshot);
    // A sample at a given time (ms since the epoch): what addSnapshot does with the clock's time;
    // lets a benchmark fill an hour in a moment.
    void addSample(std::int64_t atMs, const bank::BankSnapshot& snapshot);
    void addBankValues(const bank::BankValues& values);
    // Redraws now if anything changed; the timer calls it once a second while visible.
    void refresh();

    const bank::BankHistory& history() const { return history_; }
    QChart* chart() const { return chart_; }
    // The lines of single cells now drawn.
    int cellSeriesCount() const { return static_cast<int>(cellSeries_.size()); }

    QComboBox* quantity = nullptr;
    QComboBox* scope = nullptr; // "All cells", "Battery 1", ...
    QComboBox* span = nullptr;
    QPushButton* exportButton = nullptr;
    QLabel* exportNote = nullptr; // where the last export went, or why it failed
    // Names the file of an export as shown (empty: cancelled); a save dialog unless replaced.
    std::function<QString(ChartFormat)> chooseExportPath;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void updateScopes(const bank::BankSnapshot& snapshot);
    // Cells (0-based) in the chosen scope.
    std::vector<int> cellsInScope() const;
    QLineSeries* cellSeries(int cell);
    void drawCells(std::size_t first, std::size_t stride);
    void drawBank(std::size_t first, std::size_t stride);

    bank::BankHistory history_;
    QPointer<const CellTableModel> selection_;
    std::vector<int> batteryOf_; // per cell of the latest snapshot
    int batteries_ = 0;
    bool dirty_ = false;
    std::optional<std::pair<QDateTime, QDateTime>> xRange_; // of the redraw under way

    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    QLabel* note_ = nullptr;
    QDateTimeAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    QValueAxis* axisCurrent_ = nullptr;
    QAreaSeries* band_ = nullptr;
    QLineSeries* bandLow_ = nullptr;
    QLineSeries* bandHigh_ = nullptr;
    std::map<int, QLineSeries*> cellSeries_;
    QLineSeries* bankVoltage_ = nullptr;
    QLineSeries* bankCurrent_ = nullptr;
    QTimer* redraw_ = nullptr;
};

} // namespace zanst::app
