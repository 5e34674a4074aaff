#pragma once
// The "Updater" group of the "Battery tester" tab: the "Force update" check box, the list that
// takes a firmware file and shows the updater's log, and "Open HEX file...", which acts as a drop.
// Firmware files are read here, on the window's thread; the updater gets what was read.

#include "service/hex_image.hpp"
#include "service/updater.hpp"
#include "ui/file_drop_list.hpp"

#include <QGroupBox>
#include <QListWidget>
#include <QStringList>

class QCheckBox;
class QPushButton;

namespace zanst::app {

// A file larger than this is not read: no firmware image comes near it.
inline constexpr qint64 kMaxFirmwareFileBytes = 4 * 1024 * 1024;

// Reads one firmware file as the updater takes it; a file that cannot be read, or is too large,
// gives the updater's header lines, the reason and "Invalid update file".
service::HexReadResult readFirmwareFile(const QString& path);

// `listBox1`: the updater log, and the drop target for firmware files (local files only).
class UpdaterLog : public FileDropList {
    Q_OBJECT
  public:
    explicit UpdaterLog(QWidget* parent = nullptr);

    // A new last line, or with `newLine` clear, the last line replaced; the last line stays selected
    // and in view.
    void updaterLog(const QString& text, bool newLine);

  protected:
    QStringList droppedPaths(const QMimeData* mime) const override;
};

class UpdaterGroup : public QGroupBox {
    Q_OBJECT
  public:
    explicit UpdaterGroup(QWidget* parent = nullptr);

    QCheckBox* forceUpdate = nullptr;
    UpdaterLog* listBox1 = nullptr; // firmware file drop target and updater log
    QPushButton* openHexFile = nullptr;

    // Reads the files in turn, as a drop onto the log does.
    void takeFiles(const QStringList& paths);

    // What the updater did: its lines in the log.
    void showUpdaterReport(const zanst::service::UpdaterReport& report);

  signals:
    // One dropped or chosen file as it was read, in order.
    void firmwareRead(const zanst::service::HexReadResult& result);
    // "Force update", passed to the balancers in every block.
    void forceUpdateChanged(bool force);

  private:
    void chooseFiles();
};

} // namespace zanst::app
