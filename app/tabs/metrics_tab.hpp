#pragma once
// "Metrics" (member tabMetrics, a service tab): fetching the batteries' lifetime metrics, the
// thirteen scalar metrics of one instance and its time matrix.

#include <QWidget>

#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace zanst::app {

class MetricsTab : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kFields = 13;

    explicit MetricsTab(QWidget* parent = nullptr);

    // "Fetching Metrics"
    QListWidget* listBox2 = nullptr; // drop target for metrics files
    QLabel* instanceLabel = nullptr;
    QPushButton* previousInstance = nullptr; // "<"
    QPushButton* nextInstance = nullptr;     // ">"
    QPushButton* getAllMetrics = nullptr;
    QListWidget* console = nullptr;

    // "Metrics Matrix"
    QTableWidget* MetricsMatrix = nullptr;
    QPushButton* toggleFormatting = nullptr;

    // "Metrics Data", in the order of their captions
    std::array<QLineEdit*, kFields> fields{};

  private:
    QGroupBox* buildFetchGroup();
    QGroupBox* buildMatrixGroup();
    QGroupBox* buildDataGroup();
    void setDefaultMetricsMatrixData();
};

} // namespace zanst::app
