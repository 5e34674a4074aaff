#pragma once
// The bank summary above a cell table: cell count, lowest and highest cell with their numbers,
// spread, temperatures, bank voltage and current, balancing cells, and the cells outside the
// normal band in the table's colours.

#include "bank/bank_summary.hpp"
#include "bus/number_text.hpp"
#include "tester/bank_computation.hpp"

#include <QElapsedTimer>
#include <QStaticText>
#include <QTimer>
#include <QWidget>

#include <optional>

namespace zanst::app {

// One line of rich text that paints itself: a new text repaints the line and nothing else, and
// never asks the window for a new layout (a label's size hint would).
class SummaryLine : public QWidget {
    Q_OBJECT
  public:
    static constexpr qreal kNoWrapWidth = 100000;

    explicit SummaryLine(const QString& objectName, QWidget* parent = nullptr);
    void setText(const QString& html);
    const QString& text() const { return html_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QString html_;
    QStaticText laidOut_;
};

class BankSummaryView : public QWidget {
    Q_OBJECT
  public:
    // Shown at most this often: the sniffer brings a snapshot some ten times a second.
    static constexpr int kShowMs = 250;

    explicit BankSummaryView(QWidget* parent = nullptr);

    void showSnapshot(const bank::BankSnapshot& snapshot);
    // Bank voltage, current and setpoint, from the tester's tick or the BMS's frame.
    void showBankValues(const bank::BankValues& values);
    void setStale(bool stale);

    // As shown last; a snapshot or values still waiting are worked in first.
    const bank::BankSummary& summary();
    SummaryLine* cellsLine = nullptr; // counts, extremes, temperatures, bank
    SummaryLine* flagsLine = nullptr; // balancing cells and cells outside the band

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void schedule();
    void render();

    bus::TextFormat format_;
    bank::BankSnapshot snapshot_;
    bank::BankSummary summary_;
    std::optional<bank::BankValues> bank_;
    bool stale_ = false;
    bool pending_ = false;
    QTimer show_;
    QElapsedTimer sinceShown_;
};

} // namespace zanst::app
