#include "windows/traffic_model.hpp"

#include <QBrush>
#include <QColor>

#include <algorithm>

namespace zanst::app {

TrafficModel::TrafficModel(QObject* parent) : QAbstractTableModel(parent) {}

bool TrafficModel::passes(const capture::TrafficRow& row) const {
    if (command_ && (row.kind == capture::RowKind::LineBytes || row.kind == capture::RowKind::CutOff ||
                     row.command != *command_)) {
        return false;
    }
    return !balancer_ || row.balancerId == *balancer_;
}

void TrafficModel::append(std::vector<capture::TrafficRow> rows) {
    if (rows.empty()) {
        return;
    }
    // Old rows leave first, so that the view never holds more than the limit; a tenth of it at a
    // time, since a view's header pays for every removal with a pass over all its rows.
    const std::size_t total = rows_.size() + rows.size();
    if (total > limit_) {
        std::size_t drop = total - (limit_ - limit_ / 10);
        if (drop > rows_.size()) {
            const std::size_t fromBatch = drop - rows_.size();
            rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(fromBatch));
            dropped_ += fromBatch;
            drop = rows_.size();
        }
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(drop));
        firstSeq_ += drop;
        dropped_ += drop;
        const std::uint64_t firstSeq = firstSeq_;
        const auto gone =
            static_cast<int>(std::lower_bound(shown_.begin(), shown_.end(), firstSeq) - shown_.begin());
        if (gone > 0) {
            beginRemoveRows({}, 0, gone - 1);
            shown_.erase(shown_.begin(), shown_.begin() + gone);
            endRemoveRows();
        }
        emit droppedChanged(dropped_);
    }
    std::vector<std::uint64_t> added;
    std::uint64_t seq = firstSeq_ + rows_.size();
    for (capture::TrafficRow& r : rows) {
        if (passes(r)) {
            added.push_back(seq);
        }
        rows_.push_back(std::move(r));
        ++seq;
    }
    if (!added.empty()) {
        const int at = static_cast<int>(shown_.size());
        beginInsertRows({}, at, at + static_cast<int>(added.size()) - 1);
        shown_.insert(shown_.end(), added.begin(), added.end());
        endInsertRows();
    }
}

void TrafficModel::clear() {
    beginResetModel();
    firstSeq_ += rows_.size();
    rows_.clear();
    shown_.clear();
    dropped_ = 0;
    endResetModel();
    emit droppedChanged(0);
}

void TrafficModel::setLimit(std::size_t limit) {
    limit_ = std::max<std::size_t>(limit, 1);
}

void TrafficModel::setCommandFilter(std::optional<std::uint8_t> command) {
    command_ = command;
    rebuildShown();
}

void TrafficModel::setBalancerFilter(std::optional<int> id) {
    balancer_ = id;
    rebuildShown();
}

void TrafficModel::rebuildShown() {
    beginResetModel();
    shown_.clear();
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (passes(rows_[i])) {
            shown_.push_back(firstSeq_ + i);
        }
    }
    endResetModel();
}

const capture::TrafficRow& TrafficModel::row(int shownRow) const {
    return rows_[static_cast<std::size_t>(shown_[static_cast<std::size_t>(shownRow)] - firstSeq_)];
}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString TrafficModel::text(const capture::TrafficRow& r, int column, bool full) const {
    switch (column) {
    case Time:
        return QString::number(static_cast<double>(r.timeUs) / 1000.0, 'f', 1);
    case Direction:
        return r.direction == capture::Direction::Sent ? QStringLiteral("sent") : QStringLiteral("received");
    case Command:
        return QString::fromStdString(capture::rowCommandText(r));
    case Length:
        return QString::number(r.bytes.size());
    case Crc:
        switch (r.crc) {
        case capture::CrcVerdict::Good:
            return QStringLiteral("good");
        case capture::CrcVerdict::Bad:
            return QStringLiteral("bad");
        case capture::CrcVerdict::None:
            return {};
        }
        return {};
    case Fields:
        return QString::fromStdString(capture::rowFieldsText(r));
    case Bytes: {
        const std::size_t n = full ? r.bytes.size() : std::min<std::size_t>(r.bytes.size(), kShownBytes);
        QString hex = QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(r.bytes.data()), static_cast<qsizetype>(n))
                .toHex(' ')
                .toUpper());
        if (n < r.bytes.size()) {
            hex += QStringLiteral(" ...");
        }
        return hex;
    }
    default:
        return {};
    }
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const capture::TrafficRow& r = row(index.row());
    if (role == Qt::DisplayRole) {
        return text(r, index.column(), false);
    }
    if (role == Qt::ForegroundRole && index.column() == Crc && r.crc == capture::CrcVerdict::Bad) {
        return QBrush(Qt::red);
    }
    if (role == Qt::TextAlignmentRole && (index.column() == Time || index.column() == Length)) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case Time:
        return QStringLiteral("Time (ms)");
    case Direction:
        return QStringLiteral("Direction");
    case Command:
        return QStringLiteral("Command");
    case Length:
        return QStringLiteral("Length");
    case Crc:
        return QStringLiteral("CRC");
    case Fields:
        return QStringLiteral("Fields");
    case Bytes:
        return QStringLiteral("Bytes");
    default:
        return {};
    }
}

QString TrafficModel::copyText(const std::vector<int>& shownRows) const {
    QString out;
    for (const int i : shownRows) {
        if (i < 0 || i >= rowCount()) {
            continue;
        }
        QStringList cells;
        for (int c = 0; c < ColumnCount; ++c) {
            cells << text(row(i), c, true);
        }
        out += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return out;
}

} // namespace zanst::app
