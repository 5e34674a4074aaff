#pragma once
// Value types that travel between the engine's thread and the window's in queued signals.

#include "bank/bank_snapshot.hpp"
#include "tester/bank_computation.hpp"

#include <QMetaType>

Q_DECLARE_METATYPE(zanst::bank::BankSnapshot)
Q_DECLARE_METATYPE(zanst::bank::BankValues)

namespace zanst::app {

// Registers the types above for queued connections; safe to call more than once.
void registerMetaTypes();

} // namespace zanst::app
