#include "ui/calibration_grid.hpp"

#include "engine/locale_format.hpp"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>

namespace zanst::app {

namespace {

const QString kCaptions[CalibrationTableModel::kColumns] = {
    QStringLiteral("Cell ID"),  QStringLiteral("Voltage"), QStringLiteral("Current"),
    QStringLiteral("V gain"),   QStringLiteral("I gain"),  QStringLiteral("I Offset"),
    QStringLiteral("Capacity"), QStringLiteral("Measure"), QStringLiteral("Serial"),
    QStringLiteral("Status"),   QStringLiteral("HWrev"),
};

constexpr int kVoltage = static_cast<int>(bank::CalColumn::Voltage);

} // namespace

CalibrationTableModel::CalibrationTableModel(QObject* parent) : QAbstractTableModel(parent), notice_(this) {
    notice_.setSingleShot(true);
    connect(&notice_, &QTimer::timeout, this, [this] {
        settle();
        sinceNotice_.start();
        const int touched = static_cast<int>(std::max(shown_, texts_.size()));
        shown_ = texts_.size();
        if (touched > 0) {
            emit dataChanged(index(0, 0), index(touched - 1, kColumns - 1));
        }
    });
}

int CalibrationTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kRows;
}

int CalibrationTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString CalibrationTableModel::text(int row, int column) const {
    settle();
    if (row < 0 || static_cast<std::size_t>(row) >= texts_.size() || column < 0 || column >= kColumns) {
        return {};
    }
    return texts_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

std::uint8_t CalibrationTableModel::infoFlags(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= infoFlags_.size()) {
        return 0;
    }
    return infoFlags_[static_cast<std::size_t>(row)];
}

QVariant CalibrationTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) {
        return {};
    }
    return text(index.row(), index.column());
}

QVariant CalibrationTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= kColumns) {
        return {};
    }
    return kCaptions[section];
}

Qt::ItemFlags CalibrationTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void CalibrationTableModel::setSnapshot(const bank::BankSnapshot& snapshot) {
    const std::size_t count = std::min(snapshot.balancers.size(), static_cast<std::size_t>(kRows));
    infoFlags_.resize(count);
    for (std::size_t r = 0; r < static_cast<std::size_t>(kRows); ++r) {
        if (r >= count) {
            lastMillivolts_[r].reset(); // the row is emptied, its voltage goes with it
            continue;
        }
        infoFlags_[r] = snapshot.balancers[r].infoFlags;
        if (snapshot.balancers[r].millivolts) {
            lastMillivolts_[r] = *snapshot.balancers[r].millivolts;
        }
    }
    snapshot_ = snapshot;
    pending_ = true;
    if (view_ && !view_->isVisible()) {
        return; // told when shown
    }
    if (!notice_.isActive()) {
        const qint64 since = sinceNotice_.isValid() ? sinceNotice_.elapsed() : kNoticeMs;
        notice_.start(static_cast<int>(std::max<qint64>(0, kNoticeMs - since)));
    }
}

void CalibrationTableModel::showIn(QWidget* view) {
    view_ = view;
    view->installEventFilter(this);
}

bool CalibrationTableModel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::Show && pending_) {
        notice_.start(0);
    }
    return QAbstractTableModel::eventFilter(watched, event);
}

void CalibrationTableModel::settle() const {
    if (pending_) {
        // The texts are a cache of the snapshot: making them is no change a reader could see.
        const_cast<CalibrationTableModel*>(this)->makeRows();
    }
}

void CalibrationTableModel::makeRows() {
    pending_ = false;
    const bus::TextFormat format = localeTextFormat();
    const std::vector<bank::CalibrationRow> rows = bank::calibrationRows(snapshot_, format);
    const std::size_t count = std::min(rows.size(), static_cast<std::size_t>(kRows));
    texts_.resize(count);
    for (std::size_t r = 0; r < count; ++r) {
        for (std::size_t c = 0; c < static_cast<std::size_t>(kColumns); ++c) {
            texts_[r][c] = QString::fromStdString(rows[r].text[c]);
        }
        if (!rows[r].voltage) {
            // The last voltage the row had, also from a snapshot that came between two showings.
            texts_[r][kVoltage] =
                lastMillivolts_[r] ? QString::fromStdString(bus::scaledText(*lastMillivolts_[r], 3, format))
                                   : QString();
        }
    }
}

QTableView* makeCalibrationGrid(CalibrationTableModel* model, QWidget* parent) {
    auto* view = new QTableView(parent);
    view->setObjectName(QStringLiteral("calibrationGridView"));
    view->setModel(model);
    model->showIn(view);
    view->setSortingEnabled(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setTabKeyNavigation(false);
    QHeaderView* header = view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);
    for (int c = 0; c < CalibrationTableModel::kColumns; ++c) {
        view->setColumnWidth(c, CalibrationTableModel::kWidths[static_cast<std::size_t>(c)]);
    }
    QHeaderView* rows = view->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(20);
    rows->setVisible(false);
    view->setCurrentIndex(model->index(0, 0));
    return view;
}

} // namespace zanst::app
