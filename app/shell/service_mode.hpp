#pragma once
// Whether the service tools show. Ordinary start-up hides them at the end of the first showing of
// the window: the "Actions", "Calibration" and "Metrics" tabs leave the strip (they stay built)
// and every tab hides its risky controls. In service mode nothing is hidden. This is the one
// place that decides it.

namespace zanst::app {

class diag_form;

enum class ServiceMode { Off, On };

// Run once, at the end of the window's first showing.
void applyServiceMode(ServiceMode mode, diag_form& window);

} // namespace zanst::app
