#include "tabs/metrics_matrix.hpp"

#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPainter>
#include <QPen>
#include <QStyle>

#include <algorithm>
#include <array>

namespace zanst::app {

namespace {

// Column widths in percent of the table's width.
constexpr std::array<double, MetricsMatrixTable::kColumns> kColumnShares{15, 17.5, 17.5, 17.5, 17.5, 15};

QString latin(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString cellText(std::uint32_t seconds, bool plainSeconds) {
    return plainSeconds ? QString::number(seconds)
                        : QString::fromStdString(metrics::metricsSecondsFormatting(seconds));
}

} // namespace

MetricsMatrixTable::MetricsMatrixTable(QWidget* parent) : QTableWidget(kRows, kColumns, parent) {
    setObjectName(QStringLiteral("MetricsMatrix"));
    setAccessibleName(QStringLiteral("Metrics matrix"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(kRowHeight);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrap(false);
    setFixedSize(569, 547);
    setColumnWidths();
    setDefaultMetricsMatrixData();
}

void MetricsMatrixTable::setDefaultMetricsMatrixData() {
    QFont labelFont(QStringLiteral("Segoe UI"));
    labelFont.setPointSize(8);
    const auto label = [&](int row, int column, const QString& text, Qt::Alignment alignment) {
        auto* item = new QTableWidgetItem(text);
        item->setTextAlignment(alignment);
        item->setFont(labelFont);
        item->setFlags(Qt::ItemIsEnabled);
        setItem(row, column, item);
    };
    for (int row = 1; row < kRows; ++row) {
        label(row, 0, latin(metrics::kSocLabels[static_cast<std::size_t>((row - 1) % 5)]),
              Qt::AlignVCenter | Qt::AlignRight);
    }
    for (int column = 1; column <= 4; ++column) {
        label(0, column, latin(metrics::kTemperatureLabels[static_cast<std::size_t>(column - 1)]),
              Qt::AlignCenter);
    }
    for (int block = 0; block < 5; ++block) {
        label(1 + 5 * block, 5, latin(metrics::kCRateLabels[static_cast<std::size_t>(block)]),
              Qt::AlignVCenter | Qt::AlignLeft);
    }
    // The number cells exist from the start, empty, each described by the ranges it counts.
    for (int row = 1; row < kRows; ++row) {
        const int soc = (row - 1) % 5;
        const int cRate = (row - 1) / 5;
        for (int column = 1; column <= 4; ++column) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            item->setForeground(Qt::black);
            item->setFlags(Qt::ItemIsEnabled);
            item->setData(Qt::AccessibleDescriptionRole,
                          latin(metrics::kSocLabels[static_cast<std::size_t>(soc)]) + QStringLiteral(", ") +
                              latin(metrics::kTemperatureLabels[static_cast<std::size_t>(column - 1)]) +
                              QStringLiteral(", ") +
                              latin(metrics::kCRateLabels[static_cast<std::size_t>(cRate)]));
            setItem(row, column, item);
        }
    }
}

void MetricsMatrixTable::showMatrix(const metrics::MatrixData& matrix) {
    data_ = matrix;
    numbersShown_ = true;
    writeNumbers();
}

void MetricsMatrixTable::clearNumbers() {
    numbersShown_ = false;
    writeNumbers();
}

void MetricsMatrixTable::setPlainSeconds(bool plain) {
    plainSeconds_ = plain;
    writeNumbers();
}

void MetricsMatrixTable::writeNumbers() {
    std::array<QString, (kRows - 1) * 4> texts;
    for (int row = 1; row < kRows; ++row) {
        for (int column = 1; column <= 4; ++column) {
            const std::uint32_t seconds =
                data_[static_cast<std::size_t>(row - 1)][static_cast<std::size_t>(column - 1)];
            texts[static_cast<std::size_t>((row - 1) * 4 + column - 1)] =
                numbersShown_ ? cellText(seconds, plainSeconds_) : QString();
        }
    }
    // The window's font, made smaller only as far as the longest number needs to fit its column
    // whole: no number is ever cut short.
    QFont numberFont = font();
    const int room = columnWidth(1) - 2 * textMargin();
    const auto widest = [&] {
        const QFontMetrics metrics(numberFont);
        int w = 0;
        for (const QString& t : texts) {
            w = std::max(w, metrics.horizontalAdvance(t));
        }
        return w;
    };
    while (numberFont.pointSizeF() > 6 && widest() > room) {
        numberFont.setPointSizeF(numberFont.pointSizeF() - 0.5);
    }
    for (int row = 1; row < kRows; ++row) {
        for (int column = 1; column <= 4; ++column) {
            QTableWidgetItem* cell = item(row, column);
            cell->setFont(numberFont);
            cell->setText(texts[static_cast<std::size_t>((row - 1) * 4 + column - 1)]);
        }
    }
}

int MetricsMatrixTable::textMargin() const {
    // What the style leaves on each side of an item's text.
    return style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
}

int MetricsMatrixTable::spanWidth(int first, int last) const {
    int width = 0;
    for (int column = first; column <= last; ++column) {
        width += columnWidth(column);
    }
    return width;
}

QString MetricsMatrixTable::numberText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell != nullptr ? cell->text() : QString();
}

void MetricsMatrixTable::setColumnWidths() {
    // The inner width: no headers, no scroll bars, so the viewport once it is laid out.
    const int width = contentsRect().width();
    int used = 0;
    for (int column = 0; column < kColumns; ++column) {
        // The last column takes what rounding left, so the columns fill the table exactly.
        const int w =
            column + 1 < kColumns
                ? static_cast<int>(width * kColumnShares[static_cast<std::size_t>(column)] / 100.0 + 0.5)
                : width - used;
        setColumnWidth(column, w);
        used += w;
    }
}

void MetricsMatrixTable::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    setColumnWidths();
}

void MetricsMatrixTable::paintEvent(QPaintEvent* event) {
    QTableWidget::paintEvent(event);
    QPainter painter(viewport());
    painter.setPen(QPen(Qt::black, 2));
    const int width = viewport()->width();
    const int height = viewport()->height();
    for (int column : {0, 4}) {
        const int x = columnViewportPosition(column) + columnWidth(column);
        painter.drawLine(x, 0, x, height);
    }
    for (int row : {0, 5, 10, 15, 20, 25}) {
        const int y = rowViewportPosition(row) + rowHeight(row);
        painter.drawLine(0, y, width, y);
    }
}

} // namespace zanst::app
