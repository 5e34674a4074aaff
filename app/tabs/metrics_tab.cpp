#include "tabs/metrics_tab.hpp"

#include "ui/widgets.hpp"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zanst::app {

namespace {

constexpr int kMatrixColumns = 6;
constexpr int kMatrixRows = 26;

const char* const kFieldCaptions[MetricsTab::kFields] = {
    "LifeSpan:",
    "cyclesBeforeEOL:",
    "secsAtIRRange100_110perc:",
    "secsAtIRRange110_120perc:",
    "secsAtIRRange120_130perc:",
    "secsAtIRRange130_150perc:",
    "secsAtIRRange150_175perc:",
    "secsAtIRRange175_200perc:",
    "secsAtIRRange200_225perc:",
    "secsAtIRAbove225perc:",
    "secsInUndervoltage:",
    "secsInOvervoltage:",
    "secsInSub01C:",
};

} // namespace

MetricsTab::MetricsTab(QWidget* parent) : QWidget(parent) {
    auto* left = new QVBoxLayout;
    left->addWidget(buildFetchGroup());
    left->addWidget(buildDataGroup(), 1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(buildMatrixGroup(), 1);
}

QGroupBox* MetricsTab::buildFetchGroup() {
    auto* group = new QGroupBox(QStringLiteral("Fetching Metrics"), this);
    group->setAccessibleName(group->title());
    listBox2 = new QListWidget(group);
    listBox2->setObjectName(QStringLiteral("listBox2"));
    listBox2->setAccessibleName(QStringLiteral("Metrics file drop target"));
    listBox2->addItem(QStringLiteral("Drop metrics .txt here"));
    listBox2->setMaximumHeight(48);

    auto* instanceBox = new QGroupBox(group);
    instanceLabel = new QLabel(QStringLiteral("Instance: -"), instanceBox);
    previousInstance = makeButton(QStringLiteral("<"), instanceBox);
    previousInstance->setAccessibleName(QStringLiteral("Previous instance"));
    nextInstance = makeButton(QStringLiteral(">"), instanceBox);
    nextInstance->setAccessibleName(QStringLiteral("Next instance"));
    auto* instanceRow = new QHBoxLayout(instanceBox);
    instanceRow->addWidget(previousInstance);
    instanceRow->addWidget(instanceLabel, 1, Qt::AlignCenter);
    instanceRow->addWidget(nextInstance);

    getAllMetrics = makeButton(QStringLiteral("Get All Metrics"), group);
    console = new QListWidget(group);
    console->setObjectName(QStringLiteral("metricsConsole"));
    console->setAccessibleName(QStringLiteral("Metrics console"));

    auto* column = new QVBoxLayout(group);
    column->addWidget(listBox2);
    column->addWidget(instanceBox);
    column->addWidget(getAllMetrics);
    column->addWidget(console, 1);
    return group;
}

QGroupBox* MetricsTab::buildDataGroup() {
    auto* group = new QGroupBox(QStringLiteral("Metrics Data"), this);
    group->setAccessibleName(group->title());
    auto* form = new QFormLayout(group);
    for (int i = 0; i < kFields; ++i) {
        auto* box = new QLineEdit(group);
        box->setReadOnly(true);
        fields[static_cast<std::size_t>(i)] = box;
        form->addRow(makeCaption(QString::fromLatin1(kFieldCaptions[i]), box, group), box);
    }
    return group;
}

QGroupBox* MetricsTab::buildMatrixGroup() {
    auto* group = new QGroupBox(QStringLiteral("Metrics Matrix"), this);
    group->setAccessibleName(group->title());
    MetricsMatrix = new QTableWidget(kMatrixRows, kMatrixColumns, group);
    MetricsMatrix->setObjectName(QStringLiteral("MetricsMatrix"));
    MetricsMatrix->setAccessibleName(QStringLiteral("Metrics matrix"));
    MetricsMatrix->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MetricsMatrix->horizontalHeader()->hide();
    MetricsMatrix->verticalHeader()->hide();
    MetricsMatrix->setFixedSize(569, 547);
    toggleFormatting = makeButton(QStringLiteral("Toggle formatting"), group);
    setDefaultMetricsMatrixData();

    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Time in temperature range"), group), 0, 1, Qt::AlignCenter);
    grid->addWidget(new QLabel(QStringLiteral("Time in SoC% range"), group), 1, 0, Qt::AlignVCenter);
    grid->addWidget(MetricsMatrix, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Time in C-rate range"), group), 1, 2, Qt::AlignVCenter);
    grid->addWidget(toggleFormatting, 2, 1, Qt::AlignLeft);
    return group;
}

void MetricsTab::setDefaultMetricsMatrixData() {
    static const char* const soc[] = {"0-10% SoC", "10-30% SoC", "30-70% SoC", "70-90% SoC", "90-100% SoC"};
    static const char* const temperature[] = {"<0C°", "0-20C°", "20-40C°", "40-60C°"};
    static const char* const cRate[] = {"0-0.5C", "0.5-1C", "1.0-1.5C", "1.5-2.0C", ">2.0C"};
    const auto label = [this](int row, int column, const QString& text, Qt::Alignment alignment) {
        auto* item = new QTableWidgetItem(text);
        item->setTextAlignment(alignment);
        MetricsMatrix->setItem(row, column, item);
    };
    for (int row = 1; row < kMatrixRows; ++row) {
        label(row, 0, QString::fromLatin1(soc[(row - 1) % 5]), Qt::AlignVCenter | Qt::AlignRight);
    }
    for (int column = 1; column <= 4; ++column) {
        label(0, column, QString::fromUtf8(temperature[column - 1]), Qt::AlignCenter);
    }
    for (int block = 0; block < 5; ++block) {
        label(1 + 5 * block, 5, QString::fromLatin1(cRate[block]), Qt::AlignVCenter | Qt::AlignLeft);
    }
}

} // namespace zanst::app
