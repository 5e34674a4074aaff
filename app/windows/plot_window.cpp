#include "windows/plot_window.hpp"

#include "ui/cell_grid.hpp"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <limits>
#include <set>

namespace zanst::app {

namespace {

constexpr int kRedrawMs = 1000;
constexpr int kLegendLimit = 16; // more lines than this make the legend useless
constexpr int kSpanSeconds[] = {5 * 60, 15 * 60, 60 * 60};

struct Range {
    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    void take(double v) {
        low = std::min(low, v);
        high = std::max(high, v);
    }
    bool valid() const { return low <= high; }
};

void setRange(QValueAxis* axis, Range range, double minimumSpan) {
    if (!range.valid()) {
        axis->setRange(0.0, 1.0);
        return;
    }
    const double pad = std::max((range.high - range.low) * 0.05, minimumSpan / 2.0);
    axis->setRange(range.low - pad, range.high + pad);
}

} // namespace

PlotWindow::PlotWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("plotWindow"));
    setWindowTitle(QStringLiteral("Plots"));
    resize(900, 560);

    quantity = new QComboBox(this);
    quantity->setObjectName(QStringLiteral("plotQuantity"));
    quantity->addItems({QStringLiteral("Cell voltages"), QStringLiteral("Cell temperatures"),
                        QStringLiteral("Bank voltage and current")});
    scope = new QComboBox(this);
    scope->setObjectName(QStringLiteral("plotScope"));
    scope->addItem(QStringLiteral("All cells"));
    span = new QComboBox(this);
    span->setObjectName(QStringLiteral("plotSpan"));
    span->addItems(
        {QStringLiteral("Last 5 minutes"), QStringLiteral("Last 15 minutes"), QStringLiteral("Last hour")});
    span->setCurrentIndex(1);
    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    clear->setObjectName(QStringLiteral("plotClear"));
    note_ = new QLabel(
        QStringLiteral("Lines: the cells ticked in the table's \"Select\" column; grey: the range of "
                       "all cells shown"),
        this);
    note_->setWordWrap(true);

    chart_ = new QChart;
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->setAlignment(Qt::AlignRight);
    axisX_ = new QDateTimeAxis(chart_);
    axisX_->setFormat(QStringLiteral("hh:mm:ss"));
    axisX_->setTitleText(QStringLiteral("Time"));
    axisY_ = new QValueAxis(chart_);
    axisCurrent_ = new QValueAxis(chart_);
    axisCurrent_->setTitleText(QStringLiteral("A"));
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    chart_->addAxis(axisCurrent_, Qt::AlignRight);

    bandLow_ = new QLineSeries(chart_);
    bandHigh_ = new QLineSeries(chart_);
    band_ = new QAreaSeries(bandHigh_, bandLow_);
    band_->setName(QStringLiteral("All cells shown"));
    band_->setColor(QColor(0xD0, 0xD0, 0xD0));
    band_->setBorderColor(QColor(0xB0, 0xB0, 0xB0));
    bankVoltage_ = new QLineSeries;
    bankVoltage_->setName(QStringLiteral("Bank voltage [V]"));
    bankCurrent_ = new QLineSeries;
    bankCurrent_->setName(QStringLiteral("Bank current [A]"));
    for (QAbstractSeries* s : std::initializer_list<QAbstractSeries*>{band_, bankVoltage_, bankCurrent_}) {
        chart_->addSeries(s);
        s->attachAxis(axisX_);
    }
    band_->attachAxis(axisY_);
    bankVoltage_->attachAxis(axisY_);
    bankCurrent_->attachAxis(axisCurrent_);

    view_ = new QChartView(chart_, this);
    view_->setObjectName(QStringLiteral("plotView"));
    view_->setRenderHint(QPainter::Antialiasing, false); // hundreds of lines: speed over smoothness

    // What is drawn, as drawn: the picture, or the numbers of the band and the lines shown.
    chooseExportPath = [this](ChartFormat format) {
        return askChartPath(this, format,
                            QStringLiteral("zanst-plot-") +
                                QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    };
    exportNote = new QLabel(this);
    exportNote->setObjectName(QStringLiteral("plotExportNote"));
    exportNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
    exportNote->hide();
    exportButton = makeChartExportButton(
        view_, this, [this](ChartFormat format) { return chooseExportPath(format); },
        [this](const QString& message, bool failed) {
            exportNote->setText(message);
            exportNote->setStyleSheet(failed ? QStringLiteral("QLabel { color: red; }") : QString());
            exportNote->show();
        });
    exportButton->setObjectName(QStringLiteral("plotExport"));

    auto* controls = new QHBoxLayout;
    controls->addWidget(quantity);
    controls->addWidget(scope);
    controls->addWidget(span);
    controls->addStretch(1);
    controls->addWidget(exportButton);
    controls->addWidget(clear);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(view_, 1);
    layout->addWidget(note_);
    layout->addWidget(exportNote);

    redraw_ = new QTimer(this);
    redraw_->setInterval(kRedrawMs);
    connect(redraw_, &QTimer::timeout, this, [this] {
        if (isVisible()) {
            refresh();
        }
    });
    const auto redrawNow = [this] {
        dirty_ = true;
        refresh();
    };
    connect(quantity, &QComboBox::currentIndexChanged, this, redrawNow);
    connect(scope, &QComboBox::currentIndexChanged, this, redrawNow);
    connect(span, &QComboBox::currentIndexChanged, this, redrawNow);
    connect(clear, &QPushButton::clicked, this, [this, redrawNow] {
        history_.clear();
        redrawNow();
    });
    refresh();
}

void PlotWindow::setSelectionSource(const CellTableModel* model) {
    if (selection_ == model) {
        return;
    }
    if (selection_) {
        disconnect(selection_, nullptr, this, nullptr);
    }
    selection_ = model;
    if (model != nullptr) {
        // Also fires on every refresh of the table; it only marks the plot for the next redraw.
        connect(model, &QAbstractItemModel::dataChanged, this, [this] { dirty_ = true; });
    }
    dirty_ = true;
}

void PlotWindow::addSnapshot(const bank::BankSnapshot& snapshot) {
    addSample(QDateTime::currentMSecsSinceEpoch(), snapshot);
}

void PlotWindow::addSample(std::int64_t atMs, const bank::BankSnapshot& snapshot) {
    if (history_.add(atMs, snapshot)) {
        updateScopes(snapshot);
        dirty_ = true;
    }
}

void PlotWindow::addBankValues(const bank::BankValues& values) {
    history_.setBank(values.batVoltage, values.batCurrent);
}

void PlotWindow::updateScopes(const bank::BankSnapshot& snapshot) {
    batteryOf_.resize(snapshot.balancers.size());
    int batteries = 0;
    for (std::size_t i = 0; i < snapshot.balancers.size(); ++i) {
        batteryOf_[i] = snapshot.balancers[i].battery;
        batteries = std::max(batteries, snapshot.balancers[i].battery + 1);
    }
    if (batteries == batteries_) {
        return;
    }
    batteries_ = batteries;
    const int chosen = scope->currentIndex();
    const QSignalBlocker quiet(scope);
    scope->clear();
    scope->addItem(QStringLiteral("All cells"));
    for (int b = 1; b <= batteries; ++b) {
        scope->addItem(QStringLiteral("Battery %1").arg(b));
    }
    scope->setCurrentIndex(chosen >= 0 && chosen < scope->count() ? chosen : 0);
}

std::vector<int> PlotWindow::cellsInScope() const {
    std::vector<int> cells;
    if (history_.empty()) {
        return cells;
    }
    const int battery = scope->currentIndex() - 1; // -1: all cells
    const std::size_t count = history_.latest().millivolts.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (battery < 0 || (i < batteryOf_.size() && batteryOf_[i] == battery)) {
            cells.push_back(static_cast<int>(i));
        }
    }
    return cells;
}

QLineSeries* PlotWindow::cellSeries(int cell) {
    auto found = cellSeries_.find(cell);
    if (found != cellSeries_.end()) {
        return found->second;
    }
    auto* series = new QLineSeries;
    series->setName(QStringLiteral("Cell %1").arg(cell + 1));
    chart_->addSeries(series);
    series->attachAxis(axisX_);
    series->attachAxis(axisY_);
    QPen pen = series->pen();
    pen.setWidth(2);
    series->setPen(pen);
    cellSeries_.emplace(cell, series);
    return series;
}

void PlotWindow::refresh() {
    if (!dirty_) {
        return;
    }
    dirty_ = false;
    const auto q = static_cast<Quantity>(std::max(quantity->currentIndex(), 0));
    std::size_t first = 0;
    std::size_t stride = 1;
    if (!history_.empty()) {
        const std::int64_t latest = history_.latest().atMs;
        const std::int64_t spanMs =
            static_cast<std::int64_t>(kSpanSeconds[std::clamp(span->currentIndex(), 0, 2)]) * 1000;
        first = history_.firstAtOrAfter(latest - spanMs);
        const std::size_t n = history_.size() - first;
        stride = std::max<std::size_t>(1, (n + kMaxPointsPerSeries - 1) / kMaxPointsPerSeries);
        xRange_ = std::make_pair(QDateTime::fromMSecsSinceEpoch(latest - spanMs),
                                 QDateTime::fromMSecsSinceEpoch(latest));
    } else {
        xRange_.reset();
    }
    if (q == Quantity::Bank) {
        drawBank(first, stride);
    } else {
        drawCells(first, stride);
    }
}

void PlotWindow::drawCells(std::size_t first, std::size_t stride) {
    const bool volts = quantity->currentIndex() == static_cast<int>(Quantity::Voltage);
    bankVoltage_->clear();
    bankCurrent_->clear();
    bankVoltage_->setVisible(false);
    bankCurrent_->setVisible(false);
    axisCurrent_->setVisible(false);
    band_->setVisible(true);
    axisY_->setTitleText(volts ? QStringLiteral("V") : QStringLiteral("\u00B0C"));

    if (history_.empty()) {
        // Cleared: the lines stay, empty, so that the next sample does not have to make them again.
        for (auto& [cell, series] : cellSeries_) {
            series->clear();
        }
        bandLow_->clear();
        bandHigh_->clear();
        return;
    }
    const std::vector<int> cells = cellsInScope();
    std::vector<int> chosen;
    for (const int cell : cells) {
        if (selection_ && selection_->isSelected(cell)) {
            chosen.push_back(cell);
        }
    }
    // Drop the lines of cells no longer chosen.
    const std::set<int> keep(chosen.begin(), chosen.end());
    for (auto it = cellSeries_.begin(); it != cellSeries_.end();) {
        if (keep.count(it->first) == 0) {
            chart_->removeSeries(it->second);
            delete it->second;
            it = cellSeries_.erase(it);
        } else {
            ++it;
        }
    }

    const double scale = volts ? 0.001 : 0.1;
    const auto value = [volts](const bank::BankSample& s, int cell) {
        const auto at = static_cast<std::size_t>(cell);
        const auto& values = volts ? s.millivolts : s.tenthsCelsius;
        return at < values.size() ? values[at] : bank::kNoReading;
    };

    QList<QPointF> low;
    QList<QPointF> high;
    std::vector<QList<QPointF>> lines(chosen.size());
    Range range;
    for (std::size_t k = first; k < history_.size(); k += stride) {
        const bank::BankSample& s = history_.at(k);
        const auto t = static_cast<double>(s.atMs);
        Range sample;
        for (const int cell : cells) {
            const std::int16_t v = value(s, cell);
            if (v != bank::kNoReading) {
                sample.take(v * scale);
            }
        }
        if (!sample.valid()) {
            continue;
        }
        low.append(QPointF(t, sample.low));
        high.append(QPointF(t, sample.high));
        range.take(sample.low);
        range.take(sample.high);
        for (std::size_t c = 0; c < chosen.size(); ++c) {
            const std::int16_t v = value(s, chosen[c]);
            if (v != bank::kNoReading) {
                lines[c].append(QPointF(t, v * scale));
            }
        }
    }
    // Each change of an axis re-maps every point of every line: empty the lines first, so that
    // the new points are mapped once, after the axes moved.
    for (auto& [cell, series] : cellSeries_) {
        series->clear();
    }
    bandLow_->clear();
    bandHigh_->clear();
    setRange(axisY_, range, volts ? 0.02 : 1.0);
    if (xRange_) {
        axisX_->setRange(xRange_->first, xRange_->second);
    }
    bandLow_->replace(low);
    bandHigh_->replace(high);
    // The legend lays itself out again for every line added: hidden, it costs nothing.
    chart_->legend()->setVisible(false);
    for (std::size_t c = 0; c < chosen.size(); ++c) {
        cellSeries(chosen[c])->replace(lines[c]);
    }
    chart_->legend()->setVisible(static_cast<int>(cellSeries_.size()) <= kLegendLimit);
}

void PlotWindow::drawBank(std::size_t first, std::size_t stride) {
    for (auto& [cell, series] : cellSeries_) {
        chart_->removeSeries(series);
        delete series;
    }
    cellSeries_.clear();
    bandLow_->clear();
    bandHigh_->clear();
    band_->setVisible(false);
    bankVoltage_->setVisible(true);
    bankCurrent_->setVisible(true);
    axisCurrent_->setVisible(true);
    axisY_->setTitleText(QStringLiteral("V"));

    QList<QPointF> voltage;
    QList<QPointF> current;
    Range vRange;
    Range iRange;
    for (std::size_t k = first; k < history_.size(); k += stride) {
        const bank::BankSample& s = history_.at(k);
        const auto t = static_cast<double>(s.atMs);
        if (s.bankMv) {
            voltage.append(QPointF(t, *s.bankMv / 1000.0));
            vRange.take(*s.bankMv / 1000.0);
        }
        if (s.bankMa) {
            current.append(QPointF(t, *s.bankMa / 1000.0));
            iRange.take(*s.bankMa / 1000.0);
        }
    }
    bankVoltage_->clear();
    bankCurrent_->clear();
    setRange(axisY_, vRange, 0.2);
    setRange(axisCurrent_, iRange, 1.0);
    if (xRange_) {
        axisX_->setRange(xRange_->first, xRange_->second);
    }
    bankVoltage_->replace(voltage);
    bankCurrent_->replace(current);
    chart_->legend()->setVisible(true);
}

void PlotWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    dirty_ = true;
    refresh();
    redraw_->start();
}

void PlotWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    redraw_->stop(); // samples keep coming in; drawing waits until the window shows again
}

} // namespace zanst::app
