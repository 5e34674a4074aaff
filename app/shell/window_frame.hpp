#pragma once
// What the main window offers the wiring of its features, so that no wiring needs the window
// itself: the title and status line that report the connection, the port choice, the strip, and
// the corner where the views beside the strip have their openers.

#include "bus/mode.hpp"

#include <QString>

class QWidget;

namespace zanst::app {

class RecordingLock;

class WindowFrame {
  public:
    // The window, as the parent of what a wiring builds.
    virtual QWidget* frameWidget() = 0;
    // Title suffix and the status bar's port field: " - <text>" after the caption.
    virtual void showConnection(const QString& text) = 0;
    // Empties the port list's choice (a replay or a lost port took its place).
    virtual void clearPortChoice() = 0;
    // Selects the page of `mode` as a click would; false when it cannot (hidden without service
    // mode, a recording running) or needs not (already shown).
    virtual bool selectMode(bus::Mode mode) = 0;
    // A view's opener, in the strip's free corner, after those added before.
    virtual void addViewOpener(QWidget* opener) = 0;
    virtual RecordingLock& recordingLock() = 0;

  protected:
    ~WindowFrame() = default;
};

} // namespace zanst::app
