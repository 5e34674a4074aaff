#pragma once
// The one owner of "a recording runs": each recorder reports its start and stop here, and while
// any recording runs the tab strip is locked (the overlay covers the headers, the strip refuses a
// change and the engine vetoes a mode switch), so the mode cannot change under an open file.

#include <QObject>

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

  signals:
    void lockChanged(bool locked);

  private:
    bool recording_ = false;
    bool recordingBattDataMonitor_ = false;
};

} // namespace zanst::app
