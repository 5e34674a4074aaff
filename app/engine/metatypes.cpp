#include "engine/metatypes.hpp"

#include "engine/capture_feature.hpp"

namespace zanst::app {

void registerMetaTypes() {
    qRegisterMetaType<bank::BankSnapshot>();
    qRegisterMetaType<bank::BankValues>();
    qRegisterMetaType<tester::TickReport>();
    qRegisterMetaType<sniffer::SnifferReport>();
    qRegisterMetaType<emulator::ResponderReport>();
    qRegisterMetaType<service::UpdaterReport>();
    qRegisterMetaType<metrics::FetchReport>();
    qRegisterMetaType<metrics::MetricsMetadata>();
    qRegisterMetaType<metrics::FetchSummary>();
    qRegisterMetaType<HealthReport>();
    qRegisterMetaType<TrafficBatch>();
    qRegisterMetaType<PortStatus>();
    qRegisterMetaType<bus::Mode>();
}

} // namespace zanst::app
