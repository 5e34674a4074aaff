#include "ui/cell_grid.hpp"

#include "engine/locale_format.hpp"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QEvent>
#include <QFont>
#include <QHeaderView>
#include <QPainter>
#include <QTableView>

namespace zanst::app {

namespace {

using bank::col;
using bank::Column;

const QString kCaptions[CellTableModel::kColumns] = {
    QStringLiteral("Select"),
    QStringLiteral("Cell ID"),
    QStringLiteral("Voltage"),
    QStringLiteral("Current"),
    QStringLiteral("Temp"),
    QStringLiteral("Serial"),
    QStringLiteral("Firmware"),
    QStringLiteral("ProdID"),
    QStringLiteral("BootLoader"),
    QString(),
    QString(),
    QString(),
};

QColor backgroundColour(bank::RowBackground background) {
    return background == bank::RowBackground::Gainsboro ? QColor(0xDC, 0xDC, 0xDC) : QColor(Qt::white);
}

} // namespace

QColor voltageLevelColour(bank::VoltageLevel level) {
    switch (level) {
    case bank::VoltageLevel::Alarm:
        return QColor(Qt::red);
    case bank::VoltageLevel::Warning:
        return QColor(0xFF, 0x8C, 0x00); // dark orange
    case bank::VoltageLevel::Normal:
        break;
    }
    return QColor(Qt::black);
}

CellTableModel::CellTableModel(QObject* parent)
    : QAbstractTableModel(parent), format_(localeTextFormat()), notice_(this) {
    static_assert(kColumns <= 16, "a bit per column");
    notice_.setSingleShot(true);
    connect(&notice_, &QTimer::timeout, this, &CellTableModel::notifyChanges);
}

void CellTableModel::setSnapshot(const bank::BankSnapshot& snapshot) {
    health_.resize(snapshot.balancers.size());
    for (std::size_t i = 0; i < snapshot.balancers.size(); ++i) {
        health_[i] = {snapshot.balancers[i].crcErrors, snapshot.balancers[i].missedAnswers};
    }
    snapshot_ = snapshot;
    snapshotPending_ = true;
    scheduleNotice();
}

void CellTableModel::settle() const {
    if (snapshotPending_) {
        // The rows are a cache of the snapshot: making them is no change a reader could see.
        auto* self = const_cast<CellTableModel*>(this);
        self->setTable(bank::UpdateCellData(snapshot_, format_));
    }
}

void CellTableModel::showIn(QWidget* view) {
    view_ = view;
    view->installEventFilter(this);
}

bool CellTableModel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::Show) {
        notice_.start(0); // what came while it was hidden
    }
    return QAbstractTableModel::eventFilter(watched, event);
}

void CellTableModel::scheduleNotice() {
    if (view_ && !view_->isVisible()) {
        return; // told when shown
    }
    if (!notice_.isActive()) {
        const qint64 since = sinceNotice_.isValid() ? sinceNotice_.elapsed() : kNoticeMs;
        notice_.start(static_cast<int>(std::max<qint64>(0, kNoticeMs - since)));
    }
}

void CellTableModel::setStale(bool stale) {
    if (stale == stale_) {
        return;
    }
    stale_ = stale;
    if (!table_.rows.empty()) {
        emit dataChanged(index(0, 0), index(static_cast<int>(table_.rows.size()) - 1, kColumns - 1),
                         {Qt::ForegroundRole});
    }
}

int CellTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kRows;
}

int CellTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString CellTableModel::text(int row, int column) const {
    settle();
    if (row < 0 || static_cast<std::size_t>(row) >= texts_.size() || column < 0 || column >= kColumns) {
        return {};
    }
    return texts_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

const QStaticText& CellTableModel::staticText(int row, int column) const {
    static const QStaticText empty;
    settle();
    if (row < 0 || static_cast<std::size_t>(row) >= laidOut_.size() || column < 0 || column >= kColumns) {
        return empty;
    }
    return laidOut_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

bool CellTableModel::isSelected(int row) const {
    return row >= 0 && row < kRows && selected_[static_cast<std::size_t>(row)];
}

QVariant CellTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= kRows || index.column() >= kColumns) {
        return {};
    }
    settle();
    const int row = index.row();
    const int column = index.column();
    const bool known = static_cast<std::size_t>(row) < table_.rows.size();
    switch (role) {
    case Qt::CheckStateRole:
        if (column == col(Column::Select)) {
            return isSelected(row) ? Qt::Checked : Qt::Unchecked;
        }
        return {};
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        if (column == col(Column::Select)) {
            return {};
        }
        return text(row, column);
    case Qt::ToolTipRole:
        if (known && column != col(Column::Select)) {
            const RowHealth h = static_cast<std::size_t>(row) < health_.size()
                                    ? health_[static_cast<std::size_t>(row)]
                                    : RowHealth{};
            return QStringLiteral("Balancer %1: CRC errors %2, missed answers %3")
                .arg(row + 1)
                .arg(h.crcErrors)
                .arg(h.missedAnswers);
        }
        return {};
    case Qt::ForegroundRole:
        if (known && stale_) {
            return QBrush(QColor(Qt::gray));
        }
        if (known && column == col(Column::Voltage)) {
            return QBrush(voltageLevelColour(table_.rows[static_cast<std::size_t>(row)].level));
        }
        return {};
    case Qt::FontRole:
        if (known && column == col(Column::Voltage)) {
            // "System" 8 pt, where the platform has it; bold only for warning and alarm.
            QFont font(QStringLiteral("System"), 8);
            font.setBold(table_.rows[static_cast<std::size_t>(row)].level != bank::VoltageLevel::Normal);
            return font;
        }
        return {};
    case Qt::BackgroundRole:
        return QBrush(backgroundColour(known ? table_.rows[static_cast<std::size_t>(row)].background
                                             : bank::RowBackground::White));
    default:
        return {};
    }
}

QVariant CellTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) {
        return {};
    }
    if (orientation == Qt::Horizontal) {
        return section >= 0 && section < kColumns ? kCaptions[section] : QVariant();
    }
    return {};
}

Qt::ItemFlags CellTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == col(Column::Select) && selectEditable_) {
        flags |= Qt::ItemIsUserCheckable;
    }
    return flags;
}

bool CellTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole || index.column() != col(Column::Select) ||
        !selectEditable_ || index.row() >= kRows) {
        return false;
    }
    selected_[static_cast<std::size_t>(index.row())] = value.toInt() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

void CellTableModel::setTable(const bank::CellTable& table) {
    snapshotPending_ = false;
    const std::size_t before = table_.rows.size();
    std::vector<bank::RowBackground> backgrounds(before);
    std::vector<bank::VoltageLevel> levels(before);
    for (std::size_t r = 0; r < before; ++r) {
        backgrounds[r] = table_.rows[r].background;
        levels[r] = table_.rows[r].level;
    }
    table_ = table;
    if (table_.rows.size() > static_cast<std::size_t>(kRows)) {
        table_.rows.resize(static_cast<std::size_t>(kRows));
    }
    const std::size_t rows = table_.rows.size();
    texts_.resize(std::max(rows, before));
    laidOut_.resize(std::max(rows, before));
    constexpr auto kAll = static_cast<std::uint16_t>((1U << kColumns) - 1);
    for (std::size_t r = 0; r < std::max(rows, before); ++r) {
        if (r >= rows) {
            // A row past the balancers now: empty and white again.
            for (std::size_t c = 0; c < static_cast<std::size_t>(kColumns); ++c) {
                texts_[r][c].clear();
                laidOut_[r][c].setText(QString());
            }
            changed_[r] = kAll;
            continue;
        }
        if (r >= before || backgrounds[r] != table_.rows[r].background) {
            changed_[r] = kAll;
        } else if (levels[r] != table_.rows[r].level) {
            changed_[r] = static_cast<std::uint16_t>(changed_[r] | (1U << col(Column::Voltage)));
        }
        for (std::size_t c = 0; c < static_cast<std::size_t>(kColumns); ++c) {
            const std::string& cell = table_.rows[r].text[c];
            QString text = QString::fromLatin1(cell.data(), static_cast<qsizetype>(cell.size()));
            if (text != texts_[r][c]) {
                laidOut_[r][c].setText(text);
                texts_[r][c] = std::move(text);
                changed_[r] = static_cast<std::uint16_t>(changed_[r] | (1U << c));
            }
        }
    }
    texts_.resize(rows);
    laidOut_.resize(rows);
    scheduleNotice();
}

void CellTableModel::notifyChanges() {
    settle();
    sinceNotice_.start();
    // One notice per run of rows with changes, over the columns that changed in it.
    for (int r = 0; r < kRows;) {
        if (changed_[static_cast<std::size_t>(r)] == 0) {
            ++r;
            continue;
        }
        std::uint16_t columns = 0;
        const int first = r;
        while (r < kRows && changed_[static_cast<std::size_t>(r)] != 0) {
            columns = static_cast<std::uint16_t>(columns | changed_[static_cast<std::size_t>(r)]);
            changed_[static_cast<std::size_t>(r)] = 0;
            ++r;
        }
        int left = 0;
        while ((columns & (1U << left)) == 0) {
            ++left;
        }
        int right = kColumns - 1;
        while ((columns & (1U << right)) == 0) {
            --right;
        }
        emit dataChanged(index(first, left), index(r - 1, right));
    }
}

void CellTableModel::setAllSelected(bool selected) {
    selected_.fill(selected);
    emit dataChanged(index(0, 0), index(kRows - 1, 0), {Qt::CheckStateRole});
}

void CellTableModel::setSelectEditable(bool editable) {
    if (selectEditable_ == editable) {
        return;
    }
    selectEditable_ = editable;
    emit dataChanged(index(0, 0), index(kRows - 1, 0));
}

void CellTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const auto* model = qobject_cast<const CellTableModel*>(index.model());
    if (model == nullptr || index.column() == col(Column::Select)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    opt.text.clear(); // the panel only; the text follows from its laid-out form
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    const QStaticText& text = model->staticText(index.row(), index.column());
    if (!text.text().isEmpty()) {
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
        const bool selected = opt.state.testFlag(QStyle::State_Selected);
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(selected ? opt.palette.color(QPalette::HighlightedText)
                                 : opt.palette.color(QPalette::Text));
        if (!selected) {
            const QVariant foreground = index.data(Qt::ForegroundRole);
            if (foreground.isValid()) {
                painter->setPen(foreground.value<QBrush>().color());
            }
        }
        painter->setClipRect(area);
        const int textMargin = 3;
        const qreal y = area.top() + (area.height() - QFontMetricsF(opt.font).height()) / 2.0;
        painter->drawStaticText(QPointF(area.left() + textMargin, y), text);
        painter->restore();
    }
    if (opt.state.testFlag(QStyle::State_HasFocus)) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(opt);
        focus.rect = opt.rect;
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

QTableView* makeCellGrid(CellTableModel* model, const QString& objectName, const QString& accessibleName,
                         QWidget* parent) {
    auto* view = new QTableView(parent);
    view->setObjectName(objectName);
    view->setAccessibleName(accessibleName);
    view->setModel(model);
    model->showIn(view);
    view->setItemDelegate(new CellTextDelegate(view));
    view->setSortingEnabled(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers); // check boxes toggle without an editor
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectItems);
    view->setTabKeyNavigation(false); // Tab leaves the grid; arrows move inside it
    QHeaderView* header = view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);
    for (std::size_t c = 0; c < CellTableModel::kWidths.size(); ++c) {
        view->setColumnWidth(static_cast<int>(c), CellTableModel::kWidths[c]);
    }
    QHeaderView* rows = view->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(20);
    rows->setVisible(false);
    return view;
}

} // namespace zanst::app
