#pragma once
// The one owner of "a recording runs": each recorder reports its start and stop here, and while
// any recording runs the tab strip is locked (the overlay covers the headers, the strip refuses a
// change and the engine vetoes a mode switch), so the mode cannot change under an open file.

#include <QObject>

class QTabWidget;

namespace zanst::app {

class RecordingLock : public QObject {
    Q_OBJECT
  public:
    enum class Recorder { BatteryTester, DataMonitor };

    using QObject::QObject;

    void setRecording(Recorder recorder, bool active);
    bool recording() const { return recording_; }
    bool recordingBattDataMonitor() const { return recordingBattDataMonitor_; }
    bool locked() const { return recording_ || recordingBattDataMonitor_; }

    // While locked, `strip` refuses a change before it happens: clicks and the wheel on its
    // headers, Ctrl+Tab and Ctrl+PgUp/PgDn, the arrows and Home/End on a focused tab bar.
    void guardStrip(QTabWidget* strip);

  signals:
    void lockChanged(bool locked);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QTabWidget* strip_ = nullptr;
    bool recording_ = false;
    bool recordingBattDataMonitor_ = false;
};

} // namespace zanst::app
