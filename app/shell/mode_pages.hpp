#pragma once
// The modes as the window shows them: one row per mode in strip order, with its captions, what it
// is for, how long its values stay fresh, whether only service mode shows it, and the page that
// shows it. Everything the window does per mode reads this table.

#include "bus/mode.hpp"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace zanst::app {

class RecordingLock;
class TabPage;

struct ModePageRow {
    bus::Mode mode;
    QString caption;       // on the tab strip
    QString statusCaption; // in the status bar
    QString purpose;       // the tab's tool tip
    int watchdogMs;        // values older than this count as old
    bool serviceOnly;      // start-up removes the tab unless in service mode
    std::function<TabPage*(RecordingLock& lock)> makePage;
};

// Strip order.
const std::vector<ModePageRow>& modePageTable();
// The row of a mode; every mode has one.
const ModePageRow& modePageRow(bus::Mode mode);

// The pages built from the table, owned by whoever shows them.
class ModePages {
  public:
    explicit ModePages(RecordingLock& lock);

    TabPage* page(bus::Mode mode) const;
    template <typename T> T* get(bus::Mode mode) const { return static_cast<T*>(page(mode)); }
    // The mode a page shows; empty for a widget that is no page.
    std::optional<bus::Mode> modeOf(const QWidget* page) const;
    // In strip order, with their rows.
    const std::vector<TabPage*>& pages() const { return pages_; }

  private:
    std::vector<TabPage*> pages_;
};

} // namespace zanst::app
