#include "ui/recording_lock.hpp"

namespace zanst::app {

void RecordingLock::setRecording(Recorder recorder, bool active) {
    const bool wasLocked = locked();
    (recorder == Recorder::DataMonitor ? recordingBattDataMonitor_ : recording_) = active;
    if (locked() != wasLocked) {
        emit lockChanged(locked());
    }
}

} // namespace zanst::app
