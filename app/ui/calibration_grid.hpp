#pragma once
// The calibration table of the "Calibration" tab: 256 fixed, read-only rows, the rows of the known
// balancers filled from the engine's snapshots with texts in the user's locale.

#include "bank/bank_snapshot.hpp"
#include "bank/calibration_rows.hpp"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class QTableView;

namespace zanst::app {

class CalibrationTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kRows = 256;
    static constexpr int kColumns = bank::kCalColumnCount;
    static constexpr std::array<int, kColumns> kWidths{50, 50, 50, 50, 50, 50, 60, 60, 70, 40, 50};

    explicit CalibrationTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Views hear of new rows at most this often (the sniffer brings some ten snapshots a second).
    static constexpr int kNoticeMs = 250;

    // Rows of the snapshot's balancers; a balancer without a measurement keeps the voltage its row
    // showed. Rows past the snapshot are empty, so no balancer that left shows on. The texts are
    // made when the views are told or read, whichever comes first; the flags at once.
    void setSnapshot(const bank::BankSnapshot& snapshot);

    QString text(int row, int column) const;
    // Info flags of the balancer in a row (bit 0: measures current, bit 1: high range); 0 past them.
    std::uint8_t infoFlags(int row) const;
    // Balancers the last snapshot held (rows 0 to count - 1).
    int balancers() const { return static_cast<int>(infoFlags_.size()); }

    // The view that shows the rows: while it is hidden, snapshots are only kept.
    void showIn(QWidget* view);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void settle() const;
    void makeRows();

    std::vector<std::array<QString, kColumns>> texts_;
    std::vector<std::uint8_t> infoFlags_;
    bank::BankSnapshot snapshot_;
    bool pending_ = false;
    std::array<std::optional<int>, kRows> lastMillivolts_{}; // the voltage each row shows, in mV
    std::size_t shown_ = 0;                                  // rows the views know of
    QTimer notice_;
    QElapsedTimer sinceNotice_;
    QPointer<QWidget> view_;
};

// A read-only grid over `model` with the table's fixed column widths; row 0 is current at start.
QTableView* makeCalibrationGrid(CalibrationTableModel* model, QWidget* parent = nullptr);

} // namespace zanst::app
