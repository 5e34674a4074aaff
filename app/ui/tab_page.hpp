#pragma once
// One page of the tab strip, as the main window calls every page: it never needs to know which
// tab it holds.

#include <QString>
#include <QWidget>

namespace zanst::app {

class RecorderPanel;

class TabPage : public QWidget {
    Q_OBJECT
  public:
    using QWidget::QWidget;

    // The window is shown for the first time.
    virtual void shown() {}
    // The window made the page the current one (true), or another one (false).
    void setCurrent(bool current) {
        onCurrent(current);
        emit madeCurrent(current);
    }
    // Start-up without the service tools: hide what a technician must not reach by accident.
    virtual void hideRiskyTools() {}
    // What the page shows is old: no valid answer for longer than its mode's watchdog.
    virtual void setStale(bool stale, const QString& age) {
        (void)stale;
        (void)age;
    }
    // A warning about the adapter that the page's mode depends on (empty: none). Only the pages
    // where the ring waits for the tool show it.
    virtual void setAdapterWarning(const QString& text) { (void)text; }
    // The page's recorder, for Ctrl+R; none on most pages.
    virtual RecorderPanel* recorder() const { return nullptr; }

  signals:
    void madeCurrent(bool current);

  protected:
    virtual void onCurrent(bool current) { (void)current; }
};

} // namespace zanst::app
