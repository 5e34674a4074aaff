#pragma once
// Every value type that travels between the engine's thread and the window's in queued signals,
// registered in one place.

#include "bank/bank_snapshot.hpp"
#include "bank/bank_values.hpp"
#include "emulator/responder.hpp"
#include "engine/health_report.hpp"
#include "engine/port_control.hpp"
#include "metrics/fetch.hpp"
#include "metrics/record.hpp"
#include "service/updater.hpp"
#include "sniffer/sniffer_parser.hpp"
#include "tester/poll_engine.hpp"

#include <QMetaType>

Q_DECLARE_METATYPE(zanst::bank::BankSnapshot)
Q_DECLARE_METATYPE(zanst::bank::BankValues)
Q_DECLARE_METATYPE(zanst::tester::TickReport)
Q_DECLARE_METATYPE(zanst::sniffer::SnifferReport)
Q_DECLARE_METATYPE(zanst::emulator::ResponderReport)
Q_DECLARE_METATYPE(zanst::service::UpdaterReport)
Q_DECLARE_METATYPE(zanst::metrics::FetchReport)
Q_DECLARE_METATYPE(zanst::metrics::MetricsMetadata)
Q_DECLARE_METATYPE(zanst::metrics::FetchSummary)
Q_DECLARE_METATYPE(zanst::app::HealthReport)
Q_DECLARE_METATYPE(zanst::app::PortStatus)
Q_DECLARE_METATYPE(zanst::bus::Mode)

namespace zanst::app {

// Registers the types above (and the traffic batch) for queued connections; safe to call more than once.
void registerMetaTypes();

} // namespace zanst::app
