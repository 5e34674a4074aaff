#include "windows/history_window.hpp"

#include "bus/hex.hpp"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <QValueAxis>

#include <QSignalBlocker>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

namespace zanst::app {

namespace {

QString timeText(const QDateTime& t) {
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm")) : QString();
}

QString volts(std::optional<int> mv) {
    return mv ? QString::number(*mv / 1000.0, 'f', 3) + QStringLiteral(" V") : QStringLiteral("-");
}

QString celsius(std::optional<int> tenths) {
    return tenths ? QString::number(*tenths / 10.0, 'f', 1) + QStringLiteral(" \u00B0C")
                  : QStringLiteral("-");
}

QString versionsText(const std::vector<std::uint32_t>& versions) {
    QStringList texts;
    for (std::uint32_t v : versions) {
        texts << QString::fromStdString(bus::versionToString(v));
    }
    return texts.join(QStringLiteral(", "));
}

QString days(std::uint32_t seconds) {
    return QString::number(seconds / 86400.0, 'f', 1);
}

QStandardItem* item(const QString& text) {
    auto* i = new QStandardItem(text);
    i->setEditable(false);
    return i;
}

// Points the trend is drawn with: filled circles, open squares, triangles, so that the lines
// part in black and white as well.
void styleLine(QLineSeries* series, int n) {
    static const Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine};
    QPen pen = series->pen();
    pen.setWidth(2);
    pen.setStyle(kStyles[n % 3]);
    series->setPen(pen);
    series->setPointsVisible(true);
}

constexpr const char* kQuantities[] = {
    "Cell voltages (lowest, average, highest)",
    "Spread (highest minus lowest cell)",
    "Temperatures (lowest, highest)",
    "Cycles before end of life",
    "Life span",
    "Firmware versions",
};

} // namespace

void VisitListModel::setVisits(std::vector<servicelog::VisitSummary> visits) {
    beginResetModel();
    visits_ = std::move(visits);
    endResetModel();
}

int VisitListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(visits_.size());
}

int VisitListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant VisitListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(visits_.size())) {
        return {};
    }
    const servicelog::VisitSummary& v = visits_[static_cast<std::size_t>(index.row())];
    if (role == Qt::UserRole) {
        return v.id;
    }
    if (role == Qt::TextAlignmentRole && index.column() >= Balancers) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) {
        return {};
    }
    switch (index.column()) {
    case Started:
        return timeText(v.startedAt);
    case Ended:
        return v.endedAt.isValid() ? timeText(v.endedAt) : QStringLiteral("open");
    case Site:
        return v.site;
    case Technician:
        return v.technician;
    case Batteries:
        return v.serials.join(QStringLiteral(", "));
    case Balancers:
        return v.balancers;
    case Snapshots:
        return v.snapshots;
    case Actions:
        return v.actions;
    default:
        return {};
    }
}

QVariant VisitListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    static const char* const kHeaders[ColumnCount] = {"Started",   "Ended",     "Site",      "Technician",
                                                      "Batteries", "Balancers", "Snapshots", "Actions"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(kHeaders[section]) : QVariant();
}

HistoryWindow::HistoryWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("historyWindow"));
    setWindowTitle(QStringLiteral("Service history"));
    resize(1000, 760);

    chooseExportFile = [](QWidget* owner) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Export visits"),
                                            QStringLiteral("zanst-visits.json"),
                                            QStringLiteral("Service visits (*.json)"));
    };
    chooseImportFile = [](QWidget* owner) {
        return QFileDialog::getOpenFileName(owner, QStringLiteral("Import visits"), QString(),
                                            QStringLiteral("Service visits (*.json);;All files (*)"));
    };
    chooseChartFile = [this](ChartFormat format) {
        return askChartPath(this, format, QStringLiteral("zanst-trend-") + trendSerial_);
    };

    // The filter.
    site = new QLineEdit(this);
    site->setObjectName(QStringLiteral("historySite"));
    site->setPlaceholderText(QStringLiteral("any"));
    technician = new QLineEdit(this);
    technician->setObjectName(QStringLiteral("historyTechnician"));
    technician->setPlaceholderText(QStringLiteral("any"));
    serial = new QLineEdit(this);
    serial->setObjectName(QStringLiteral("historySerial"));
    serial->setPlaceholderText(QStringLiteral("any"));
    fromEnabled = new QCheckBox(QStringLiteral("&From"), this);
    from = new QDateEdit(QDate::currentDate().addYears(-1), this);
    from->setCalendarPopup(true);
    from->setEnabled(false);
    toEnabled = new QCheckBox(QStringLiteral("T&o"), this);
    to = new QDateEdit(QDate::currentDate(), this);
    to->setCalendarPopup(true);
    to->setEnabled(false);
    search = new QPushButton(QStringLiteral("&Search"), this);
    search->setObjectName(QStringLiteral("historySearch"));
    search->setDefault(true);
    found = new QLabel(this);
    found->setObjectName(QStringLiteral("historyFound"));
    site->setToolTip(QStringLiteral("Part of the site's name, in any case"));
    serial->setToolTip(QStringLiteral("Visits that found this battery"));
    from->setAccessibleName(QStringLiteral("From date"));
    to->setAccessibleName(QStringLiteral("To date"));

    auto* filterRow = new QHBoxLayout;
    for (const auto& [caption, edit] : {std::pair{"S&ite", site}, std::pair{"&Technician", technician},
                                        std::pair{"&Battery serial", serial}}) {
        auto* label = new QLabel(QString::fromLatin1(caption), this);
        label->setBuddy(edit);
        edit->setAccessibleName(label->text().remove(QLatin1Char('&')));
        filterRow->addWidget(label);
        filterRow->addWidget(edit, 1);
    }
    filterRow->addWidget(fromEnabled);
    filterRow->addWidget(from);
    filterRow->addWidget(toEnabled);
    filterRow->addWidget(to);
    filterRow->addWidget(search);
    filterRow->addWidget(found);

    // The visits.
    visits_ = new VisitListModel(this);
    list = new QTableView(this);
    list->setObjectName(QStringLiteral("historyList"));
    list->setAccessibleName(QStringLiteral("Visits"));
    list->setModel(visits_);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setStretchLastSection(false);
    list->horizontalHeader()->setSectionResizeMode(VisitListModel::Batteries, QHeaderView::Stretch);
    list->setWordWrap(false);

    compare = new QPushButton(QStringLiteral("&Compare"), this);
    compare->setObjectName(QStringLiteral("historyCompare"));
    compare->setToolTip(QStringLiteral("The two selected visits side by side, cell by cell"));
    report = new QPushButton(QStringLiteral("Service &report..."), this);
    report->setObjectName(QStringLiteral("historyReport"));
    exportVisits = new QPushButton(QStringLiteral("E&xport..."), this);
    exportVisits->setObjectName(QStringLiteral("historyExport"));
    exportVisits->setToolTip(QStringLiteral("The selected visits (all listed when none is) as a file for "
                                            "another machine"));
    importVisits = new QPushButton(QStringLiteral("I&mport..."), this);
    importVisits->setObjectName(QStringLiteral("historyImport"));
    importVisits->setToolTip(QStringLiteral("Visits exported on another machine; a visit already here "
                                            "only gains what it lacks"));
    message = new QLabel(this);
    message->setObjectName(QStringLiteral("historyMessage"));
    message->setWordWrap(true);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* actions = new QHBoxLayout;
    actions->addWidget(compare);
    actions->addWidget(report);
    actions->addStretch(1);
    actions->addWidget(exportVisits);
    actions->addWidget(importVisits);

    // One battery over its visits.
    battery = new QComboBox(this);
    battery->setObjectName(QStringLiteral("historyBattery"));
    battery->setEditable(true);
    battery->setMinimumContentsLength(12);
    battery->setAccessibleName(QStringLiteral("Battery serial of the trend"));
    quantity = new QComboBox(this);
    quantity->setObjectName(QStringLiteral("historyQuantity"));
    for (const char* q : kQuantities) {
        quantity->addItem(QString::fromLatin1(q));
    }
    quantity->setAccessibleName(QStringLiteral("Trend quantity"));
    chart_ = new QChart;
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    axisX_ = new QDateTimeAxis(chart_);
    axisX_->setFormat(QStringLiteral("yyyy-MM-dd"));
    axisX_->setTitleText(QStringLiteral("Visit"));
    axisValue_ = new QValueAxis(chart_);
    axisNames_ = new QCategoryAxis(chart_);
    axisNames_->setStartValue(-0.5);
    axisNames_->setTitleText(QStringLiteral("version"));
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisValue_, Qt::AlignLeft);
    chart_->addAxis(axisNames_, Qt::AlignLeft);
    chartView = new QChartView(chart_, this);
    chartView->setObjectName(QStringLiteral("historyChart"));
    chartView->setRenderHint(QPainter::Antialiasing);
    exportChart = makeChartExportButton(
        chartView, this, [this](ChartFormat format) { return chooseChartFile(format); },
        [this](const QString& text, bool failed) { showMessage(text, failed); });
    exportChart->setObjectName(QStringLiteral("historyChartExport"));
    trendTable_ = new QStandardItemModel(0, 11, this);
    trendTable_->setHorizontalHeaderLabels({"Visit", "Site", "Cells", "Lowest cell", "Highest cell", "Spread",
                                            "Average", "Temperatures", "Firmware", "Cycles left",
                                            "Life span (days)"});
    trendView = new QTableView(this);
    trendView->setObjectName(QStringLiteral("historyTrendTable"));
    trendView->setAccessibleName(QStringLiteral("Trend of the battery"));
    trendView->setModel(trendTable_);
    trendView->verticalHeader()->hide();
    auto* trendControls = new QHBoxLayout;
    auto* batteryCaption = new QLabel(QStringLiteral("B&attery"), this);
    batteryCaption->setBuddy(battery);
    trendControls->addWidget(batteryCaption);
    trendControls->addWidget(battery);
    trendControls->addWidget(quantity, 1);
    trendControls->addWidget(exportChart);
    auto* trendSplit = new QSplitter(Qt::Vertical, this);
    trendSplit->addWidget(chartView);
    trendSplit->addWidget(trendView);
    trendSplit->setSizes({330, 140}); // the plot first; the numbers below it
    auto* trendPage = new QWidget(this);
    auto* trendLayout = new QVBoxLayout(trendPage);
    trendLayout->addLayout(trendControls);
    trendLayout->addWidget(trendSplit, 1);

    // Two visits side by side.
    comparison_ = new QStandardItemModel(0, 9, this);
    comparison_->setHorizontalHeaderLabels({"Battery", "Cell", "Balancer A", "Voltage A", "Balancer B",
                                            "Voltage B", "Difference", "Temperature A", "Temperature B"});
    comparisonTitle = new QLabel(QStringLiteral("Select two visits and press \"Compare\""), this);
    comparisonTitle->setObjectName(QStringLiteral("historyComparisonTitle"));
    comparisonTitle->setWordWrap(true);
    comparisonView = new QTableView(this);
    comparisonView->setObjectName(QStringLiteral("historyComparison"));
    comparisonView->setAccessibleName(QStringLiteral("Two visits cell by cell"));
    comparisonView->setModel(comparison_);
    comparisonView->verticalHeader()->hide();
    auto* comparePage = new QWidget(this);
    auto* compareLayout = new QVBoxLayout(comparePage);
    compareLayout->addWidget(comparisonTitle);
    compareLayout->addWidget(comparisonView, 1);

    views = new QTabWidget(this);
    views->setObjectName(QStringLiteral("historyViews"));
    views->addTab(trendPage, QStringLiteral("Battery trend"));
    views->addTab(comparePage, QStringLiteral("Side by side"));

    auto* top = new QWidget(this);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addLayout(filterRow);
    topLayout->addWidget(list, 1);
    topLayout->addLayout(actions);
    topLayout->addWidget(message);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(top);
    split->addWidget(views);
    split->setSizes({240, 520});
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split);

    connect(fromEnabled, &QCheckBox::toggled, from, &QWidget::setEnabled);
    connect(toEnabled, &QCheckBox::toggled, to, &QWidget::setEnabled);
    const auto searchNow = [this] { refresh(); };
    connect(search, &QPushButton::clicked, this, searchNow);
    for (QLineEdit* edit : {site, technician, serial}) {
        connect(edit, &QLineEdit::returnPressed, this, searchNow);
    }
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &HistoryWindow::onSelection);
    connect(compare, &QPushButton::clicked, this, [this] {
        const QStringList ids = selectedVisits();
        if (ids.size() == 2) {
            // The older visit on the left.
            emit compareRequested(ids[1], ids[0]);
        }
    });
    connect(report, &QPushButton::clicked, this, [this] {
        const QStringList ids = selectedVisits();
        if (ids.size() == 1) {
            emit reportRequested(ids.front());
        }
    });
    connect(exportVisits, &QPushButton::clicked, this, [this] {
        QStringList ids = selectedVisits();
        if (ids.isEmpty()) {
            for (const servicelog::VisitSummary& v : visits_->visits()) {
                ids << v.id;
            }
        }
        if (ids.isEmpty()) {
            showMessage(QStringLiteral("No visit to export"), true);
            return;
        }
        const QString path = chooseExportFile(this);
        if (!path.isEmpty()) {
            emit exportRequested(ids, path);
        }
    });
    connect(importVisits, &QPushButton::clicked, this, [this] {
        const QString path = chooseImportFile(this);
        if (!path.isEmpty()) {
            emit importRequested(path);
        }
    });
    connect(battery, &QComboBox::activated, this, &HistoryWindow::requestTrend);
    connect(battery->lineEdit(), &QLineEdit::returnPressed, this, &HistoryWindow::requestTrend);
    connect(quantity, &QComboBox::currentIndexChanged, this, &HistoryWindow::drawTrend);
    onSelection();
    drawTrend();
}

void HistoryWindow::open() {
    show();
    raise();
    activateWindow();
    refresh();
}

servicelog::VisitFilter HistoryWindow::filter() const {
    servicelog::VisitFilter f;
    f.site = site->text().trimmed();
    f.technician = technician->text().trimmed();
    f.serial = serial->text().trimmed();
    if (fromEnabled->isChecked()) {
        f.from = from->date().startOfDay();
    }
    if (toEnabled->isChecked()) {
        f.to = to->date().addDays(1).startOfDay(); // the whole of the last day
    }
    return f;
}

QStringList HistoryWindow::selectedVisits() const {
    QStringList ids;
    QModelIndexList rows = list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& row : rows) {
        ids << row.data(Qt::UserRole).toString();
    }
    return ids;
}

void HistoryWindow::showVisits(const std::vector<servicelog::VisitSummary>& visits) {
    visits_->setVisits(visits);
    found->setText(visits.empty()       ? QStringLiteral("No visit matches")
                   : visits.size() == 1 ? QStringLiteral("1 visit")
                                        : QStringLiteral("%1 visits").arg(visits.size()));
    list->resizeColumnsToContents();
    onSelection();
}

void HistoryWindow::showMessage(const QString& text, bool failed) {
    message->setText(text);
    message->setStyleSheet(failed ? QStringLiteral("QLabel { color: red; }") : QString());
}

void HistoryWindow::onSelection() {
    const QStringList ids = selectedVisits();
    compare->setEnabled(ids.size() == 2);
    report->setEnabled(ids.size() == 1);
    if (ids.size() != 1) {
        return;
    }
    // The batteries of the visit chosen, for its trend.
    for (const servicelog::VisitSummary& v : visits_->visits()) {
        if (v.id != ids.front()) {
            continue;
        }
        const QString kept = battery->currentText();
        const QSignalBlocker quiet(battery);
        battery->clear();
        battery->addItems(v.serials);
        const int at = battery->findText(kept);
        battery->setCurrentIndex(at >= 0 ? at : 0);
        if (battery->currentText() != trendSerial_ && !battery->currentText().isEmpty()) {
            requestTrend();
        }
        break;
    }
}

void HistoryWindow::requestTrend() {
    const QString s = battery->currentText().trimmed();
    if (!s.isEmpty()) {
        emit trendRequested(s);
    }
}

void HistoryWindow::showTrend(const QString& serialText,
                              const std::vector<servicelog::BatteryTrendPoint>& points) {
    trendSerial_ = serialText;
    trend_ = points;
    trendTable_->setRowCount(0);
    for (const servicelog::BatteryTrendPoint& p : points) {
        QList<QStandardItem*> row;
        row << item(timeText(p.startedAt)) << item(p.site) << item(QString::number(p.cells))
            << item(p.minMv ? QStringLiteral("%1 (cell %2)").arg(volts(p.minMv)).arg(p.minCell)
                            : QStringLiteral("-"))
            << item(p.maxMv ? QStringLiteral("%1 (cell %2)").arg(volts(p.maxMv)).arg(p.maxCell)
                            : QStringLiteral("-"))
            << item(p.spreadMv ? QStringLiteral("%1 mV").arg(*p.spreadMv) : QStringLiteral("-"))
            << item(volts(p.avgMv))
            << item(QStringLiteral("%1 to %2").arg(celsius(p.minTenthsC), celsius(p.maxTenthsC)))
            << item(versionsText(p.fwVersions))
            << item(p.cyclesBeforeEOL ? QString::number(*p.cyclesBeforeEOL) : QStringLiteral("-"))
            << item(p.secsLifeSpan ? days(*p.secsLifeSpan) : QStringLiteral("-"));
        trendTable_->appendRow(row);
    }
    trendView->resizeColumnsToContents();
    drawTrend();
}

void HistoryWindow::drawTrend() {
    // The axes stay; only the lines are made anew (axes taken out of a chart leave their labels).
    chart_->removeAllSeries();
    for (const QString& label : axisNames_->categoriesLabels()) {
        axisNames_->remove(label);
    }
    const auto q = static_cast<Trend>(std::max(quantity->currentIndex(), 0));
    axisX_->setVisible(!trend_.empty());
    axisValue_->setVisible(!trend_.empty() && q != Trend::Firmware);
    axisNames_->setVisible(!trend_.empty() && q == Trend::Firmware);
    if (trend_.empty()) {
        chart_->setTitle(trendSerial_.isEmpty()
                             ? QStringLiteral("Choose a battery")
                             : QStringLiteral("No visit found battery %1").arg(trendSerial_));
        return;
    }
    chart_->setTitle(QStringLiteral("Battery %1: %2").arg(trendSerial_, quantity->currentText()));

    struct Line {
        QString name;
        std::function<std::optional<double>(const servicelog::BatteryTrendPoint&)> value;
    };
    std::vector<Line> lines;
    QString unit;
    // Firmware versions are drawn at the place of their version on an axis that names them.
    std::vector<std::uint32_t> versions;
    const auto place = [&versions](std::uint32_t v) {
        return static_cast<double>(std::lower_bound(versions.begin(), versions.end(), v) - versions.begin());
    };
    const auto mv = [](std::optional<int> v) {
        return v ? std::optional<double>(*v / 1000.0) : std::nullopt;
    };
    const auto c = [](std::optional<int> v) { return v ? std::optional<double>(*v / 10.0) : std::nullopt; };
    switch (q) {
    case Trend::Voltages:
        unit = QStringLiteral("V");
        lines = {{QStringLiteral("Lowest cell"), [mv](const auto& p) { return mv(p.minMv); }},
                 {QStringLiteral("Average"), [mv](const auto& p) { return mv(p.avgMv); }},
                 {QStringLiteral("Highest cell"), [mv](const auto& p) { return mv(p.maxMv); }}};
        break;
    case Trend::Spread:
        unit = QStringLiteral("mV");
        lines = {{QStringLiteral("Spread"), [](const auto& p) {
                      return p.spreadMv ? std::optional<double>(*p.spreadMv) : std::nullopt;
                  }}};
        break;
    case Trend::Temperatures:
        unit = QStringLiteral("\u00B0C");
        lines = {{QStringLiteral("Lowest"), [c](const auto& p) { return c(p.minTenthsC); }},
                 {QStringLiteral("Highest"), [c](const auto& p) { return c(p.maxTenthsC); }}};
        break;
    case Trend::Cycles:
        unit = QStringLiteral("cycles");
        lines = {{QStringLiteral("Cycles before end of life"), [](const auto& p) {
                      return p.cyclesBeforeEOL ? std::optional<double>(*p.cyclesBeforeEOL) : std::nullopt;
                  }}};
        break;
    case Trend::LifeSpan:
        unit = QStringLiteral("days");
        lines = {{QStringLiteral("Life span"), [](const auto& p) {
                      return p.secsLifeSpan ? std::optional<double>(*p.secsLifeSpan / 86400.0) : std::nullopt;
                  }}};
        break;
    case Trend::Firmware: {
        std::set<std::uint32_t> all;
        for (const auto& p : trend_) {
            all.insert(p.fwVersions.begin(), p.fwVersions.end());
        }
        versions.assign(all.begin(), all.end());
        lines = {{QStringLiteral("Oldest of its balancers"),
                  [place](const auto& p) {
                      return p.fwVersions.empty() ? std::nullopt
                                                  : std::optional<double>(place(p.fwVersions.front()));
                  }},
                 {QStringLiteral("Newest of its balancers"), [place](const auto& p) {
                      return p.fwVersions.empty() ? std::nullopt
                                                  : std::optional<double>(place(p.fwVersions.back()));
                  }}};
        break;
    }
    }

    QAbstractAxis* axisY = axisValue_;
    if (q == Trend::Firmware) {
        for (std::size_t i = 0; i < versions.size(); ++i) {
            axisNames_->append(QString::fromStdString(bus::versionToString(versions[i])),
                               static_cast<double>(i) + 0.5);
        }
        axisNames_->setRange(-0.5, static_cast<double>(versions.size()) - 0.5);
        axisY = axisNames_;
    } else {
        axisValue_->setTitleText(unit);
    }
    QDateTimeAxis* axisX = axisX_;

    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    for (std::size_t n = 0; n < lines.size(); ++n) {
        auto* series = new QLineSeries;
        series->setName(lines[n].name);
        for (const servicelog::BatteryTrendPoint& p : trend_) {
            if (const auto v = lines[n].value(p)) {
                series->append(static_cast<double>(p.startedAt.toMSecsSinceEpoch()), *v);
                low = std::min(low, *v);
                high = std::max(high, *v);
            }
        }
        chart_->addSeries(series);
        series->attachAxis(axisX);
        series->attachAxis(axisY);
        styleLine(series, static_cast<int>(n));
    }
    if (auto* numbers = qobject_cast<QValueAxis*>(axisY); numbers != nullptr && low <= high) {
        const double pad = std::max((high - low) * 0.1, std::abs(high) * 0.01 + 0.001);
        numbers->setRange(low - pad, high + pad);
    }
    // A day on either side, so that one visit is not drawn on the chart's edge.
    const qint64 first = trend_.front().startedAt.toMSecsSinceEpoch();
    const qint64 last = trend_.back().startedAt.toMSecsSinceEpoch();
    axisX->setRange(QDateTime::fromMSecsSinceEpoch(std::min(first, last) - 86400000),
                    QDateTime::fromMSecsSinceEpoch(std::max(first, last) + 86400000));
}

void HistoryWindow::showComparison(const servicelog::VisitComparison& c) {
    comparison_->setRowCount(0);
    comparisonTitle->setText(
        QStringLiteral("A: %1 at %2 (snapshot %3)  \u2014  B: %4 at %5 (snapshot %6)")
            .arg(timeText(c.a.startedAt), c.a.site.isEmpty() ? QStringLiteral("-") : c.a.site)
            .arg(c.seqA)
            .arg(timeText(c.b.startedAt), c.b.site.isEmpty() ? QStringLiteral("-") : c.b.site)
            .arg(c.seqB));
    for (const servicelog::CellDifference& d : c.cells) {
        const auto diff = d.diffMv();
        QList<QStandardItem*> row;
        row << item(d.serial) << item(QString::number(d.place))
            << item(d.balancerA > 0 ? QString::number(d.balancerA) : QStringLiteral("-"))
            << item(volts(d.mvA))
            << item(d.balancerB > 0 ? QString::number(d.balancerB) : QStringLiteral("-"))
            << item(volts(d.mvB))
            << item(
                   diff
                       ? QStringLiteral("%1%2 mV").arg(*diff > 0 ? QStringLiteral("+") : QString()).arg(*diff)
                       : QStringLiteral("-"))
            << item(celsius(d.tenthsCA)) << item(celsius(d.tenthsCB));
        comparison_->appendRow(row);
    }
    comparisonView->resizeColumnsToContents();
    views->setCurrentIndex(1);
}

} // namespace zanst::app
