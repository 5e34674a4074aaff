#include "ui/recording_lock.hpp"

#include <QEvent>
#include <QKeyEvent>
#include <QTabBar>
#include <QTabWidget>

namespace zanst::app {

void RecordingLock::setRecording(Recorder recorder, bool active) {
    const bool wasLocked = locked();
    (recorder == Recorder::DataMonitor ? recordingBattDataMonitor_ : recording_) = active;
    if (locked() != wasLocked) {
        emit lockChanged(locked());
    }
}

void RecordingLock::guardStrip(QTabWidget* strip) {
    strip_ = strip;
    strip->installEventFilter(this);
    strip->tabBar()->installEventFilter(this);
}

bool RecordingLock::eventFilter(QObject* watched, QEvent* event) {
    if (!locked() || strip_ == nullptr || (watched != strip_ && watched != strip_->tabBar())) {
        return QObject::eventFilter(watched, event);
    }
    const bool onBar = watched == strip_->tabBar();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
        return onBar;
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            return key->modifiers().testFlag(Qt::ControlModifier);
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
            return onBar;
        default:
            return false;
        }
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace zanst::app
