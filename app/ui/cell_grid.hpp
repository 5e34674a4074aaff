#pragma once
// The grid model shared by the "Battery tester" and "Data Sniffer" tables: 256 fixed rows, the
// rows of the known balancers filled from the engine's refresh, a "Select" check box per row.

#include "bank/bank_snapshot.hpp"
#include "bank/cell_rows.hpp"
#include "bus/number_text.hpp"
#include "recording/recorder.hpp"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QPointer>
#include <QStaticText>
#include <QString>
#include <QStyledItemDelegate>
#include <QTimer>

#include <array>
#include <vector>

class QColor;
class QTableView;

namespace zanst::app {

// The colour of a voltage in its band; the tables and the bank summary both use it.
QColor voltageLevelColour(bank::VoltageLevel level);

class CellTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kRows = bank::kTableRows;
    static constexpr int kColumns = bank::kColumnCount;
    // Initial widths of the first nine columns.
    static constexpr std::array<int, 9> kWidths{70, 60, 80, 80, 60, 100, 100, 60, 260};
    // Views hear of changed cells at most this often: a sniffed ring refreshes the rows some ten
    // times a second, more than anyone reads, and every notice repaints.
    static constexpr int kNoticeMs = 250;

    explicit CellTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // Rows from the balancers' numbers, as texts in the user's locale; each row's tooltip tells
    // how its balancer answers (CRC errors, missed answers). The texts are made when the views are
    // told (within kNoticeMs) or when they are read, whichever comes first: of snapshots that come
    // faster, only the last is worked out.
    void setSnapshot(const bank::BankSnapshot& snapshot);
    // The numbers behind the rows, for the CSV recording.
    const bank::BankSnapshot& snapshot() const { return snapshot_; }
    // Old values show in grey until fresh ones come.
    void setStale(bool stale);
    bool stale() const { return stale_; }
    // Replaces the rows; rows past the table are empty and white. The model holds them at once;
    // its views are told of the cells whose text or colour changed, within kNoticeMs.
    void setTable(const bank::CellTable& table);
    const bank::CellTable& table() const {
        settle();
        return table_;
    }

    bool isSelected(int row) const;
    const recording::RowSelection& selection() const { return selected_; }
    void setAllSelected(bool selected);
    // While a recording runs the "Select" column is read-only.
    void setSelectEditable(bool editable);
    bool selectEditable() const { return selectEditable_; }

    QString text(int row, int column) const;
    // The cell's text laid out once; kept across refreshes while the text stays the same.
    const QStaticText& staticText(int row, int column) const;

    // The view that shows the rows: while it is hidden (its tab not shown), snapshots are only
    // kept, and the rows are made when it is shown again or read.
    void showIn(QWidget* view);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct RowHealth {
        std::uint32_t crcErrors = 0;
        std::uint32_t missedAnswers = 0;
    };
    // Tells the views of the changed cells, row run by row run.
    void notifyChanges();
    void scheduleNotice();
    // The rows of a snapshot still waiting, made before anything reads them.
    void settle() const;

    bus::TextFormat format_;
    std::vector<RowHealth> health_;
    bool stale_ = false;
    bank::CellTable table_;
    bank::BankSnapshot snapshot_;
    std::vector<std::array<QString, kColumns>> texts_; // table_ as shown
    std::vector<std::array<QStaticText, kColumns>> laidOut_;
    recording::RowSelection selected_{};
    bool selectEditable_ = false;
    bool snapshotPending_ = false;
    std::array<std::uint16_t, kRows> changed_{}; // per row, a bit per column not yet told
    QTimer notice_;
    QElapsedTimer sinceNotice_;
    QPointer<QWidget> view_;
};

// Paints the text cells from their laid-out texts: a refresh re-lays out only the cells whose
// text changed, so that a grid of fast-changing values stays cheap to repaint.
class CellTextDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// A grid over `model` as the tabs show it: fixed columns and rows, no sorting.
QTableView* makeCellGrid(CellTableModel* model, const QString& objectName, const QString& accessibleName,
                         QWidget* parent = nullptr);

} // namespace zanst::app
