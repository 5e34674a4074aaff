#include "tabs/metrics_tab.hpp"

#include "files/app_data.hpp"
#include "metrics/files.hpp"
#include "ui/widgets.hpp"

#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <filesystem>
#include <string>
#include <vector>

namespace zanst::app {

namespace {

// Far beyond any metrics file (a block is about 2 KB): such a file is refused before it is read,
// so that a wrong drop never keeps the window busy.
constexpr qint64 kLargestMetricsFile = 16 * 1024 * 1024;

} // namespace

QStringList MetricsDropList::droppedPaths(const QMimeData* mime) const {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) { // nothing else could be opened
            paths << url.toLocalFile();
        }
    }
    return paths;
}

MetricsTab::MetricsTab(QWidget* parent) : TabPage(parent), archive_(metricsFolder()) {
    chooseMetricsFiles = [](QWidget* owner) {
        return QFileDialog::getOpenFileNames(owner, QStringLiteral("Open metrics file"), metricsFolder(),
                                             QStringLiteral("Metrics files (*.txt);;All files (*)"));
    };
    auto* left = new QVBoxLayout;
    left->addWidget(buildFetchGroup(), 1);
    left->addWidget(buildDataGroup());
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addWidget(buildMatrixGroup());

    connect(listBox2, &MetricsDropList::filesDropped, this, &MetricsTab::openMetricsFiles);
    connect(openMetricsFile, &QPushButton::clicked, this, [this] {
        const QStringList paths = chooseMetricsFiles(this);
        if (!paths.isEmpty()) {
            openMetricsFiles(paths);
        }
    });
    connect(previousInstance, &QPushButton::clicked, this, &MetricsTab::decrementSelectedMetricToDisplay);
    connect(nextInstance, &QPushButton::clicked, this, &MetricsTab::incrementSelectedMetricToDisplay);
    connect(toggleFormatting, &QPushButton::clicked, this, &MetricsTab::metricsToggleFormatting);
    connect(getAllMetrics, &QPushButton::clicked, this, &MetricsTab::getAllMetricsRequested);
}

QGroupBox* MetricsTab::buildFetchGroup() {
    auto* group = new QGroupBox(QStringLiteral("Fetching Metrics"), this);
    group->setAccessibleName(group->title());
    listBox2 = new MetricsDropList(group);
    listBox2->setObjectName(QStringLiteral("listBox2"));
    listBox2->setAccessibleName(QStringLiteral("Metrics file drop target"));
    listBox2->addItem(QStringLiteral("Drop metrics .txt here"));
    listBox2->setMaximumHeight(48);
    openMetricsFile = makeButton(QStringLiteral("Open metrics file..."), group);

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
    // A long line (a file's path, why it cannot be shown) wraps rather than hides behind a scroll bar.
    console->setWordWrap(true);
    console->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    console->setResizeMode(QListView::Adjust);

    listBox2->setToolTip(QStringLiteral("Drop a metrics file saved earlier to show it"));
    previousInstance->setToolTip(QStringLiteral("The metrics of the previous battery"));
    nextInstance->setToolTip(QStringLiteral("The metrics of the next battery"));
    getAllMetrics->setToolTip(
        QStringLiteral("Ask every battery for its lifetime metrics; each answer is saved "
                       "to a file"));

    auto* column = new QVBoxLayout(group);
    column->addWidget(listBox2);
    column->addWidget(openMetricsFile);
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
        const std::string_view caption = metrics::kFieldCaptions[static_cast<std::size_t>(i)];
        form->addRow(makeCaption(QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())),
                                 box, group),
                     box);
    }
    return group;
}

QGroupBox* MetricsTab::buildMatrixGroup() {
    auto* group = new QGroupBox(QStringLiteral("Metrics Matrix"), this);
    group->setAccessibleName(group->title());
    MetricsMatrix = new MetricsMatrixTable(group);
    toggleFormatting = makeButton(QStringLiteral("Toggle formatting"), group);
    toggleFormatting->setToolTip(
        QStringLiteral("Show the times as plain seconds or as days, hours, minutes and "
                       "seconds"));

    // Each axis caption stands above the columns it names: the state-of-charge labels, the four
    // temperature columns, the C-rate labels.
    auto* captions = new QHBoxLayout;
    captions->setSpacing(0);
    captions->setContentsMargins(MetricsMatrix->frameWidth(), 0, 0, 0);
    const auto caption = [&](const QString& text, int first, int last) {
        auto* label = new QLabel(text, group);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        label->setFixedWidth(MetricsMatrix->spanWidth(first, last));
        captions->addWidget(label);
    };
    caption(QStringLiteral("Time in SoC% range"), 0, 0);
    caption(QStringLiteral("Time in temperature range"), 1, 4);
    caption(QStringLiteral("Time in C-rate range"), 5, 5);
    captions->addStretch(1);

    auto* column = new QVBoxLayout(group);
    column->addLayout(captions);
    column->addWidget(MetricsMatrix);
    column->addWidget(toggleFormatting, 0, Qt::AlignLeft);
    column->addStretch(1);
    return group;
}

void MetricsTab::addItemToMetricsConsoleListBox(const QString& line) {
    console->addItem(line);
    console->scrollToBottom();
}

void MetricsTab::resetMetricsDisplay() {
    instanceLabel->setText(QString::fromStdString(metrics::instanceLabelText(std::nullopt)));
}

void MetricsTab::showFetchReport(const metrics::FetchReport& report) {
    if (report.started) {
        fetchBegan();
    }
    for (const metrics::MetricsMetadata& record : report.recordsReceived) {
        recordFetched(record);
    }
    for (const std::string& line : report.consoleLines) {
        addItemToMetricsConsoleListBox(QString::fromStdString(line));
    }
    if (report.ended) {
        fetchFinished(*report.ended);
    }
}

void MetricsTab::fetchBegan() {
    resetMetricsDisplay();
    selectedMetricInstanceToDisplay_ = 0;
    selectedMetricsFileToDisplay_.clear();
    selectedMetricsFileNrOfInstances_ = 0;
    archive_.fetchBegan();
}

void MetricsTab::recordFetched(const metrics::MetricsMetadata& record) {
    const QString problem = archive_.store(record);
    if (!problem.isEmpty()) {
        addItemToMetricsConsoleListBox(problem);
    }
}

void MetricsTab::fetchFinished(const metrics::FetchSummary& summary) {
    addItemToMetricsConsoleListBox(archive_.finishedLine(summary));
    if (archive_.stored() > 0) {
        selectedMetricsFileToDisplay_ = archive_.activeFile();
        selectedMetricInstanceToDisplay_ = 1;
        displayMetricData();
    }
}

void MetricsTab::openMetricsFiles(const QStringList& paths) {
    std::vector<std::string> texts;
    texts.reserve(static_cast<std::size_t>(paths.size()));
    for (const QString& path : paths) {
        texts.push_back(path.toStdString());
    }
    const auto chosen = metrics::pickDroppedMetricsFile(texts);
    if (!chosen) {
        addItemToMetricsConsoleListBox(QStringLiteral("Not a metrics file (the name must end in txt): ") +
                                       paths.join(QStringLiteral(", ")));
        return;
    }
    selectedMetricsFileToDisplay_ = QString::fromStdString(*chosen);
    displayMetricData();
}

void MetricsTab::displayMetricData() {
    if (selectedMetricsFileToDisplay_.isEmpty()) {
        resetMetricsDisplay();
        return;
    }
    if (selectedMetricInstanceToDisplay_ < 1) {
        selectedMetricInstanceToDisplay_ = 1;
    }
    const QFileInfo file(selectedMetricsFileToDisplay_);
    metrics::MetricsFileRead read;
    if (file.size() > kLargestMetricsFile) {
        read.reason = "the file is too large to be a metrics file";
    } else {
        read = metrics::readMetricsInstance(
            std::filesystem::path(selectedMetricsFileToDisplay_.toStdU16String()),
            selectedMetricInstanceToDisplay_);
    }
    selectedMetricsFileNrOfInstances_ = std::max(read.nrOfInstances, 0);
    // The battery whose values these are: a block's own "Instance: n", which differs from its place
    // in the file once an instance did not answer.
    instanceLabel->setText(QString::fromStdString(metrics::instanceLabelText(read.instanceInFile)));
    if (!read.view) {
        // Nothing of another instance may stand beside this label: the fields and numbers empty.
        for (QLineEdit* field : fields) {
            field->clear();
        }
        MetricsMatrix->clearNumbers();
        addItemToMetricsConsoleListBox(file.fileName() + QStringLiteral(", instance ") +
                                       QString::number(selectedMetricInstanceToDisplay_) +
                                       QStringLiteral(" not shown: ") + QString::fromStdString(read.reason));
        return;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        fields[i]->setText(QString::fromStdString(read.view->fields[i]));
    }
    MatrixDataContainsActualData_ = true;
    MetricsMatrix->showMatrix(read.view->matrix);
}

void MetricsTab::incrementSelectedMetricToDisplay() {
    if (selectedMetricInstanceToDisplay_ + 1 <= selectedMetricsFileNrOfInstances_) {
        ++selectedMetricInstanceToDisplay_;
        displayMetricData();
    } else {
        selectedMetricInstanceToDisplay_ = selectedMetricsFileNrOfInstances_;
    }
}

void MetricsTab::decrementSelectedMetricToDisplay() {
    if (selectedMetricInstanceToDisplay_ - 1 >= 1) {
        --selectedMetricInstanceToDisplay_;
        displayMetricData();
    } else {
        selectedMetricInstanceToDisplay_ = 1;
    }
}

void MetricsTab::metricsToggleFormatting() {
    MetricsMatrix->setPlainSeconds(!MetricsMatrix->plainSeconds());
}

} // namespace zanst::app
