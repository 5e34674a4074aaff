#pragma once

namespace zanst::app {

// Shown on the console at start and beside the logo on the tabs.
inline constexpr char kLegalNotice[] =
    "Zanthe Service Tool (ZANST). Copyright (C) 2026 Kestrova Energy. For trained service personnel "
    "working on Zanthe battery banks. Provided as is, without warranty of any kind; the user is "
    "responsible for the safe handling of the batteries it is connected to.";

} // namespace zanst::app
