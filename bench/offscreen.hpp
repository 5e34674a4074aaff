#pragma once
// Where the benchmark programs show the window: offscreen, so that they run on a machine without
// a display, unless the caller chose a platform.

namespace zanst::bench {

enum class DisplayUse {
    Never,   // offscreen unless QT_QPA_PLATFORM names a platform
    WhenSet, // also on the display named in DISPLAY (a desktop, xvfb-run)
};

// Call before the QApplication is made: sets QT_QPA_PLATFORM to "offscreen" when the caller's
// environment chose neither a platform nor, with DisplayUse::WhenSet, a display. An empty
// variable counts as not set, as Qt reads it.
void setUpOffscreen(DisplayUse display = DisplayUse::Never);

} // namespace zanst::bench
