#pragma once
// Value types that travel between the engine's thread and the window's in queued signals.

#include "tester/cell_rows.hpp"

#include <QMetaType>

Q_DECLARE_METATYPE(zanst::tester::CellTable)
