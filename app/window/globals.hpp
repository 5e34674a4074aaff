#pragma once
// Window-side state shared by the tabs: the tab overlay and the recorders' state. Owned by the
// main window and handed to the tabs by reference.

#include <QString>

class QWidget;

namespace zanst::app {

struct Globals {
    QWidget* overlay = nullptr;            // covers the tab headers while a recording runs
    QString activeFileName;                // battery tester recording file, empty when none
    QString activeFileNameBattDataMonitor; // data monitor recording file, empty when none
    bool recording = false;
    bool recordingBattDataMonitor = false;

    bool anyRecording() const { return recording || recordingBattDataMonitor; }
};

} // namespace zanst::app
