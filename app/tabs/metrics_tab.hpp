#pragma once
// "Metrics" (member tabMetrics, a service tab): fetching the batteries' lifetime metrics, the
// thirteen scalar metrics of one instance and its time matrix, the metrics files (stored by a fetch,
// opened by a drop or a file dialog) and the instance shown.

#include "files/metrics_archive.hpp"
#include "metrics/display.hpp"
#include "metrics/fetch.hpp"
#include "metrics/record.hpp"
#include "tabs/metrics_matrix.hpp"
#include "ui/file_drop_list.hpp"

#include "ui/tab_page.hpp"
#include <QListWidget>

#include <array>
#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zanst::app {

// The metrics drop list (listBox2): takes dropped local files of any name, so that a drop without
// a metrics file can be named on the console; a URL that is no local file is refused at the drag.
class MetricsDropList : public FileDropList {
    Q_OBJECT
  public:
    using FileDropList::FileDropList;

  protected:
    QStringList droppedPaths(const QMimeData* mime) const override;
};

class MetricsTab : public TabPage {
    Q_OBJECT
  public:
    static constexpr int kFields = 13;

    explicit MetricsTab(QWidget* parent = nullptr);

    // What a fetch reports, on the window's thread: begun, records to store, console lines, ended.
    void showFetchReport(const zanst::metrics::FetchReport& report);
    void addItemToMetricsConsoleListBox(const QString& line);
    void fetchBegan();
    void recordFetched(const zanst::metrics::MetricsMetadata& record);
    void fetchFinished(const zanst::metrics::FetchSummary& summary);

    // A drop on listBox2 or the files chosen in "Open metrics file...": the first path ending
    // in "txt" is shown at the selected instance.
    void openMetricsFiles(const QStringList& paths);
    // Reads the selected instance of the shown file into the fields and the matrix.
    void displayMetricData();
    void resetMetricsDisplay();
    void incrementSelectedMetricToDisplay(); // ">"
    void decrementSelectedMetricToDisplay(); // "<"
    void metricsToggleFormatting();

    const QString& selectedMetricsFileToDisplay() const { return selectedMetricsFileToDisplay_; }
    int selectedMetricInstanceToDisplay() const { return selectedMetricInstanceToDisplay_; }
    int selectedMetricsFileNrOfInstances() const { return selectedMetricsFileNrOfInstances_; }
    bool matrixDataContainsActualData() const { return MatrixDataContainsActualData_; }
    const MetricsArchive& archive() const { return archive_; }

    // The file dialog behind "Open metrics file..."; replaceable where no dialog can be answered.
    std::function<QStringList(QWidget* parent)> chooseMetricsFiles;

    // "Fetching Metrics"
    MetricsDropList* listBox2 = nullptr; // drop target for metrics files
    QPushButton* openMetricsFile = nullptr;
    QLabel* instanceLabel = nullptr;
    QPushButton* previousInstance = nullptr; // "<"
    QPushButton* nextInstance = nullptr;     // ">"
    QPushButton* getAllMetrics = nullptr;
    QListWidget* console = nullptr;

    // "Metrics Matrix"
    MetricsMatrixTable* MetricsMatrix = nullptr;
    QPushButton* toggleFormatting = nullptr;

    // "Metrics Data", in the order of their captions
    std::array<QLineEdit*, kFields> fields{};

  signals:
    void getAllMetricsRequested();

  private:
    QGroupBox* buildFetchGroup();
    QGroupBox* buildMatrixGroup();
    QGroupBox* buildDataGroup();

    MetricsArchive archive_;
    QString selectedMetricsFileToDisplay_;
    int selectedMetricInstanceToDisplay_ = 0;
    int selectedMetricsFileNrOfInstances_ = 0;
    bool MatrixDataContainsActualData_ = false; // the matrix holds MatrixData, the numbers of a file
};

} // namespace zanst::app
