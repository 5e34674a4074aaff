#pragma once
// Banks, snapshots and visits to write into a service log in tests and benchmarks.

#include "servicelog/records.hpp"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <string>

namespace zanst::test {

// A bank of `batteries` batteries of `cellsEach` cells, serials "ZB" + 9 digits from `firstSerial`;
// voltages around 3300 mV, shifted by `offsetMv` and varied by `seed`.
bank::BankSnapshot sampleBank(int batteries, int cellsEach, int firstSerial = 1, int offsetMv = 0,
                              unsigned seed = 1);

std::string sampleSerial(int n);

servicelog::SnapshotRecord sampleSnapshot(const bank::BankSnapshot& bank, servicelog::SnapshotKind kind,
                                          const QDateTime& at);

metrics::MetricsMetadata sampleMetricsRecord(int instance, std::uint16_t cycles, std::uint32_t lifeSpan);

// A fixed time to build visits from: 2025-03-07 14:05:09 UTC plus `days`.
QDateTime sampleTime(int days = 0, int seconds = 0);

} // namespace zanst::test
