#pragma once
// Where the tool keeps its files: the per-user application-data folder.

#include <QString>

namespace zanst::app {

// $APPDATA when set, else the user's data folder (XDG data home), then
// "Kestrova Energy/Zanthe Service Tool".
QString appDataFolder();

// The recordings and their number files.
QString recordingsFolder();

// The metrics files, one per fetch.
QString metricsFolder();

} // namespace zanst::app
