#pragma once
// One emulated cell on the "BMS tester" tab: a group "Cell n" with the voltage slider and entry
// (mV) and the temperature slider and entry (whole degC). The tab builds sixteen of them and
// serves each family of controls with one handler.

#include <QGroupBox>

class QLineEdit;
class QSlider;

namespace zanst::app {

class CellPanel : public QGroupBox {
    Q_OBJECT
  public:
    // `cell` counts from 0; the panel shows "Cell <cell + 1>". The entries report their keys and
    // focus changes to `entryFilter`.
    CellPanel(int cell, QObject* entryFilter, QWidget* parent = nullptr);

    int cell() const { return cell_; }

    QSlider* voltageSlider = nullptr;  // mVTrackbarCell<n>
    QLineEdit* voltageEntry = nullptr; // tbCell<n>Voltage
    QSlider* tempSlider = nullptr;     // TempTrackbarCell<n>
    QLineEdit* tempEntry = nullptr;    // tbTemp<n>

  private:
    int cell_;
};

// An entry of the tab: right-aligned, narrow, its keys and focus changes seen by `filter`.
QLineEdit* makeCellEntry(QWidget* parent, const QString& objectName, const QString& accessibleName,
                         const QString& tip, QObject* filter);

} // namespace zanst::app
