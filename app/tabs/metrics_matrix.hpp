#pragma once
// The time matrix of the Metrics tab (`MetricsMatrix`): 26 rows and 6 columns with the state of
// charge, temperature and C-rate labels, 2-px lines that frame the label column and every block of
// five rows, and the seconds of one instance in the number cells. The numbers are item texts, so
// that a screen reader reads each one in the row and column of its labels.

#include "metrics/display.hpp"

#include <QTableWidget>

namespace zanst::app {

class MetricsMatrixTable : public QTableWidget {
    Q_OBJECT
  public:
    static constexpr int kRows = 26;
    static constexpr int kColumns = 6;
    static constexpr int kRowHeight = 20;

    explicit MetricsMatrixTable(QWidget* parent = nullptr);

    // The labels, once, when the window is built.
    void setDefaultMetricsMatrixData();
    // The number cells show `matrix` in the form chosen with setPlainSeconds.
    void showMatrix(const metrics::MatrixData& matrix);
    // Empties the number cells (an instance that could not be read).
    void clearNumbers();
    // Days-hours-minutes-seconds form (false, the start) or plain seconds; numbers shown follow.
    void setPlainSeconds(bool plain);
    bool plainSeconds() const { return plainSeconds_; }
    // Room the style leaves on each side of a cell's text.
    int textMargin() const;
    // Width of columns first..last together, for what is placed above them.
    int spanWidth(int first, int last) const;
    // The text a number cell shows, by its row (1..25) and column (1..4).
    QString numberText(int row, int column) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void setColumnWidths();
    void writeNumbers();

    metrics::MatrixData data_{};
    bool numbersShown_ = false;
    bool plainSeconds_ = false;
};

} // namespace zanst::app
