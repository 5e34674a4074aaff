#pragma once
// What scan and watch print: the balancers of a snapshot as an aligned table, JSON or CSV, and a
// line per watch tick. Numbers are made from the snapshot's integers with a '.', whatever the
// locale, so that scripts read them the same everywhere.

#include "bank/bank_snapshot.hpp"
#include "bank/bank_values.hpp"
#include "tester/bank_computation.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace zanst::cli {

// Whether any balancer of the snapshot reported a voltage.
bool anyMeasured(const bank::BankSnapshot& snapshot);

// scan: one row per balancer, a header row on top, columns padded to their widest cell.
std::string scanTable(const bank::BankSnapshot& snapshot);
// scan --json: {"balancers": [{"id": 1, "battery": 1, ...}, ...]} and a line end.
std::string scanJson(const bank::BankSnapshot& snapshot);
// scan --csv: id,battery,serial,voltage [V],current [A],current range,temperature [degC],firmware,
// boot loader,product id; lines end in CRLF as the recordings' CSV does.
std::string scanCsv(const bank::BankSnapshot& snapshot);

// sniff: one balancer as a line, "cell 3: battery 1, SIMA602B001, 3.301 V, L: 0.120 A, 25.5 degC,
// firmware v01.04, boot loader v02.01, product A602".
std::string balancerLine(int number, const bank::BalancerReading& reading);

// watch: one line a tick ("2026-12-09T03:04:05.123Z 16 cells, 3.301..3.312 V (cells 4, 9), ...").
std::string watchLine(std::chrono::system_clock::time_point at, const bank::BankSnapshot& snapshot,
                      const std::optional<bank::BankValues>& bank);
// watch --json: one object a line with the time, the bank values and every balancer.
std::string watchJsonLine(std::chrono::system_clock::time_point at, const bank::BankSnapshot& snapshot,
                          const std::optional<bank::BankValues>& bank);
// watch --csv: the recordings' CSV with every value, the header once, then the rows of each tick.
std::string watchCsvHeader();
std::string watchCsvRows(std::chrono::system_clock::time_point at, const bank::BankSnapshot& snapshot);

} // namespace zanst::cli
