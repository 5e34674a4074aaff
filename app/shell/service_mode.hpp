#pragma once
// Whether the service tools show. Ordinary start-up hides them at the end of the first showing of
// the window: the service-only tabs of the mode table leave the strip (they stay built) and every
// page hides its risky controls. In service mode nothing is hidden. This is the one place that
// decides it.

class QTabWidget;
class QWidget;

namespace zanst::app {

class ModePages;

enum class ServiceMode { Off, On };

// Run once, at the end of the window's first showing; `owner` keeps the removed pages.
void applyServiceMode(ServiceMode mode, const ModePages& pages, QTabWidget& strip, QWidget& owner);

} // namespace zanst::app
