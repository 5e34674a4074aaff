#pragma once
// Wires the service tools of the window (the "Actions" and "Calibration" tabs, the "Updater" and
// "Gain" groups of "Battery tester") to the engine's service feature.

namespace zanst::app {

class diag_form;

void connectServiceTools(diag_form& window);

} // namespace zanst::app
