#pragma once
// Value types that travel between the engine's thread and the window's in queued signals.

#include "tester/bank_computation.hpp"
#include "tester/bank_snapshot.hpp"

#include <QMetaType>

Q_DECLARE_METATYPE(zanst::tester::BankSnapshot)
Q_DECLARE_METATYPE(zanst::tester::BankValues)

namespace zanst::app {

// Registers the types above for queued connections; safe to call more than once.
void registerMetaTypes();

} // namespace zanst::app
