#pragma once
// The lifetime metrics each simulated battery keeps and answers a metrics request with.

#include "metrics/record.hpp"
#include "sim/simulated_bank.hpp"

namespace zanst::sim {

// Battery `battery` (1-based, its instance number) of the bank: the older the battery, the longer
// its life span and the fewer cycles it has left; its time matrix adds up to its life span. The
// same seed and battery always give the same metrics. The record carries the layout version the
// tool reads and the balancer's checksum over all of it.
metrics::MetricsMetadata simulatedMetrics(const BankConfig& config, int battery);

} // namespace zanst::sim
