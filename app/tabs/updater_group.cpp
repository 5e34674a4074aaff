#include "tabs/updater_group.hpp"

#include "ui/widgets.hpp"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace zanst::app {

service::HexReadResult readFirmwareFile(const QString& path) {
    const std::string name = path.toStdString();
    if (!path.endsWith(QStringLiteral("hex"))) {
        return service::readHexImage(name, std::string_view()); // refused by its name alone
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return service::unreadableHexFile(name, "Cannot read the file: " + file.errorString().toStdString());
    }
    if (file.size() > kMaxFirmwareFileBytes) {
        return service::unreadableHexFile(name, "File too large: " + std::to_string(file.size()) + " bytes");
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return service::unreadableHexFile(name, "Cannot read the file: " + file.errorString().toStdString());
    }
    return service::readHexImage(name,
                                 std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}

UpdaterLog::UpdaterLog(QWidget* parent) : FileDropList(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QStringList UpdaterLog::droppedPaths(const QMimeData* mime) const {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    return paths;
}

void UpdaterLog::updaterLog(const QString& text, bool newLine) {
    QListWidgetItem* item = count() > 0 && !newLine ? this->item(count() - 1) : nullptr;
    if (item == nullptr) {
        item = new QListWidgetItem(this);
    }
    item->setText(text);
    item->setData(Qt::AccessibleTextRole, text);
    setCurrentItem(item);
    scrollToItem(item);
}

UpdaterGroup::UpdaterGroup(QWidget* parent) : QGroupBox(QStringLiteral("Updater"), parent) {
    setObjectName(QStringLiteral("updaterGroup"));
    setAccessibleName(title());
    forceUpdate = new QCheckBox(QStringLiteral("Force update"), this);
    forceUpdate->setObjectName(QStringLiteral("forceUpdate"));
    forceUpdate->setAccessibleName(forceUpdate->text());
    openHexFile = makeButton(QStringLiteral("Open HEX file..."), this);
    openHexFile->setObjectName(QStringLiteral("openHexFile"));
    listBox1 = new UpdaterLog(this);
    listBox1->setObjectName(QStringLiteral("listBox1"));
    listBox1->setAccessibleName(QStringLiteral("Firmware file and updater log"));
    listBox1->setMaximumHeight(80);
    forceUpdate->setToolTip(
        QStringLiteral("Balancers install the image even when they run the same version"));
    openHexFile->setToolTip(QStringLiteral("Choose an Intel HEX firmware image and update every balancer"));
    listBox1->setToolTip(QStringLiteral("Drop an Intel HEX file here to update every balancer; the update's "
                                        "progress shows here"));
    auto* top = new QHBoxLayout;
    top->addWidget(forceUpdate);
    top->addStretch(1);
    top->addWidget(openHexFile);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(listBox1);

    connect(listBox1, &UpdaterLog::filesDropped, this, &UpdaterGroup::takeFiles);
    connect(openHexFile, &QPushButton::clicked, this, &UpdaterGroup::chooseFiles);
    connect(forceUpdate, &QCheckBox::toggled, this, &UpdaterGroup::forceUpdateChanged);
}

void UpdaterGroup::showUpdaterReport(const service::UpdaterReport& report) {
    for (const service::UpdaterLogLine& line : report.log) {
        listBox1->updaterLog(QString::fromStdString(line.text), line.newLine);
    }
}

void UpdaterGroup::takeFiles(const QStringList& paths) {
    for (const QString& path : paths) {
        emit firmwareRead(readFirmwareFile(path));
    }
}

void UpdaterGroup::chooseFiles() {
    const QStringList paths =
        QFileDialog::getOpenFileNames(this, QStringLiteral("Open HEX file"), QString(),
                                      QStringLiteral("Intel HEX files (*.hex);;All files (*)"));
    takeFiles(paths);
}

} // namespace zanst::app
