#pragma once
// "Service history": the visits in the service log by site, technician, date and battery serial;
// for one battery, its trend over the visits as plots (cell voltages, spread, temperatures,
// cycles and life span from the metrics, firmware versions) beside the numbers; two visits side by
// side cell by cell; the export of visits to a file and the import of one from another machine.
// The window asks for what it shows through its signals and shows what it is given; the log is
// queried elsewhere.

#include "servicelog/service_log.hpp"
#include "windows/chart_export.hpp"

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

class QCategoryAxis;
class QChart;
class QChartView;
class QDateTimeAxis;
class QValueAxis;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTabWidget;
class QTableView;

namespace zanst::app {

// The visits found, one row each, newest first.
class VisitListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Started, Ended, Site, Technician, Batteries, Balancers, Snapshots, Actions, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void setVisits(std::vector<servicelog::VisitSummary> visits);
    const std::vector<servicelog::VisitSummary>& visits() const { return visits_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  private:
    std::vector<servicelog::VisitSummary> visits_;
};

class HistoryWindow : public QWidget {
    Q_OBJECT
  public:
    enum class Trend : int { Voltages = 0, Spread, Temperatures, Cycles, LifeSpan, Firmware };

    explicit HistoryWindow(QWidget* parent = nullptr);

    // Shows the window and asks for the visits of the filter as it stands.
    void open();
    // Asks for the visits again (after an import).
    void refresh() { emit searchRequested(filter()); }
    servicelog::VisitFilter filter() const;
    // The ids of the visits selected in the list, in list order.
    QStringList selectedVisits() const;

    void showVisits(const std::vector<servicelog::VisitSummary>& visits);
    void showTrend(const QString& serial, const std::vector<servicelog::BatteryTrendPoint>& points);
    void showComparison(const servicelog::VisitComparison& comparison);
    // A line under the list: what an export or import did, or why a query failed (`failed`: in red).
    void showMessage(const QString& text, bool failed);

    const std::vector<servicelog::BatteryTrendPoint>& trend() const { return trend_; }
    VisitListModel* visitModel() const { return visits_; }
    QStandardItemModel* trendModel() const { return trendTable_; }
    QStandardItemModel* comparisonModel() const { return comparison_; }
    QChart* trendChart() const { return chart_; }

    // Where an export goes and which file is imported (empty: cancelled); file dialogs unless replaced.
    std::function<QString(QWidget*)> chooseExportFile;
    std::function<QString(QWidget*)> chooseImportFile;
    std::function<QString(ChartFormat)> chooseChartFile;

    QLineEdit* site = nullptr;
    QLineEdit* technician = nullptr;
    QLineEdit* serial = nullptr;
    QCheckBox* fromEnabled = nullptr;
    QDateEdit* from = nullptr;
    QCheckBox* toEnabled = nullptr;
    QDateEdit* to = nullptr;
    QPushButton* search = nullptr;
    QLabel* found = nullptr; // how many visits the list holds
    QTableView* list = nullptr;
    QPushButton* compare = nullptr;
    QPushButton* report = nullptr;
    QPushButton* exportVisits = nullptr;
    QPushButton* importVisits = nullptr;
    QLabel* message = nullptr;
    QTabWidget* views = nullptr;
    QComboBox* battery = nullptr;
    QComboBox* quantity = nullptr;
    QPushButton* exportChart = nullptr;
    QChartView* chartView = nullptr;
    QTableView* trendView = nullptr;
    QLabel* comparisonTitle = nullptr;
    QTableView* comparisonView = nullptr;

  signals:
    void searchRequested(const zanst::servicelog::VisitFilter& filter);
    void trendRequested(const QString& serial);
    void compareRequested(const QString& a, const QString& b);
    // All visits shown when none is selected.
    void exportRequested(const QStringList& ids, const QString& path);
    void importRequested(const QString& path);
    void reportRequested(const QString& id);

  private:
    void onSelection();
    void drawTrend();
    void requestTrend();

    VisitListModel* visits_ = nullptr;
    QStandardItemModel* trendTable_ = nullptr;
    QStandardItemModel* comparison_ = nullptr;
    QChart* chart_ = nullptr;
    QDateTimeAxis* axisX_ = nullptr;
    QValueAxis* axisValue_ = nullptr;
    QCategoryAxis* axisNames_ = nullptr; // the firmware versions by name
    QString trendSerial_;
    std::vector<servicelog::BatteryTrendPoint> trend_;
};

} // namespace zanst::app
