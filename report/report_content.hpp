#pragma once
// What the service report says about one visit, worked out once from the log's records and then
// written as a PDF for the customer or as JSON for machines: the same content in both.

#include "bank/cell_rows.hpp"
#include "servicelog/records.hpp"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace zanst::report {

struct CellLine {
    int balancer = 0;
    int battery = 0; // 0-based
    QString serial;
    int place = 0; // 1-based within the battery
    std::optional<int> millivolts;
    std::optional<int> milliamps; // where the balancer measures current
    bool highRange = false;
    int tenthsCelsius = 0;
    bank::VoltageLevel level = bank::VoltageLevel::Normal;
    bool below = false; // outside the band on the low side
};

struct LifetimeLine {
    int instance = 0;
    QString file;
    std::uint32_t secsLifeSpan = 0;
    std::uint32_t cyclesBeforeEOL = 0;
    std::uint32_t secsInUndervoltage = 0;
    std::uint32_t secsInOvervoltage = 0;
    std::uint32_t secsInSub01C = 0;
    std::uint32_t secsAtIRAbove150 = 0; // the four ranges from 150 % up
};

struct BatteryLine {
    int battery = 0;
    QString serial;
    std::uint16_t productId = 0;
    std::uint16_t capacity = 0;
    int cells = 0;
    std::vector<std::uint32_t> fwVersions; // ascending, distinct
    std::vector<std::uint32_t> blVersions;
    std::optional<int> minMv;
    int minPlace = 0;
    std::optional<int> maxMv;
    int maxPlace = 0;
    std::optional<int> minTenthsC;
    std::optional<int> maxTenthsC;
    std::optional<LifetimeLine> lifetime; // the last metrics fetched for it in the visit
};

// Lowest, quartiles (linear between ranks), median and highest cell voltage, in mV.
struct Distribution {
    int count = 0;
    double min = 0;
    double q1 = 0;
    double median = 0;
    double q3 = 0;
    double max = 0;
};

std::optional<Distribution> distributionOf(std::vector<int> millivolts);

// A run of balancers that went from one version to another with the same outcome.
struct FirmwareLine {
    QDateTime at;
    QString file;
    int firstBalancer = 0;
    int lastBalancer = 0;
    QString serial;
    std::uint32_t fromVersion = 0;
    std::optional<std::uint32_t> toVersion;
    std::uint32_t imageVersion = 0;
    servicelog::Outcome outcome = servicelog::Outcome::Unknown;
};

struct ComparisonLine {
    QString serial;
    std::optional<int> spreadBefore; // mV, at the previous visit
    std::optional<int> spreadNow;
    std::optional<int> weakestBefore; // the lowest cell, mV
    int weakestPlaceBefore = 0;
    std::optional<int> weakestNow;
    int weakestPlaceNow = 0;
    std::optional<std::uint32_t> cyclesBefore;
    std::optional<std::uint32_t> cyclesNow;
};

struct ReportContent {
    QString visitId;
    QString site;
    QString technician;
    QDateTime startedAt;
    QDateTime endedAt;
    QString adapter;
    QString port;
    QString toolVersion;
    QString notes;

    // The snapshot the figures come from: the end snapshot, else the last one.
    int snapshotSeq = 0;
    servicelog::SnapshotKind snapshotKind = servicelog::SnapshotKind::Manual;
    QDateTime snapshotAt;
    bank::BankValues bankValues;
    servicelog::RingHealth health;

    std::vector<BatteryLine> batteries;
    std::vector<CellLine> cells;
    std::optional<Distribution> distribution;
    std::optional<int> minTenthsC;
    std::optional<int> avgTenthsC;
    std::optional<int> maxTenthsC;
    int cellsOutsideBand = 0;
    std::uint64_t balancerCrcErrors = 0; // the balancers' own counts, summed

    std::vector<FirmwareLine> firmware;
    std::vector<servicelog::CalibrationRecord> calibrations;
    std::vector<servicelog::ParametersRecord> parameters;
    std::vector<servicelog::RecordingRecord> recordings;
    std::vector<servicelog::FaultRecord> faults;

    QString previousVisitId; // empty without one
    QDateTime previousStartedAt;
    QString previousSite;
    std::vector<ComparisonLine> comparison;
};

ReportContent buildReport(const servicelog::VisitRecord& visit,
                          const std::optional<servicelog::VisitRecord>& previous = std::nullopt);

// The same content for machines.
QByteArray reportJson(const ReportContent& content);

// Texts shared by the PDF and the JSON.
QString versionText(std::uint32_t version);
QString durationText(std::uint32_t seconds); // "49710d 6h 28m 15s"
QString millivoltText(int millivolts);       // "3.301 V"
QString tenthsCelsiusText(int tenths);       // "21.5 °C"
QString levelMark(const CellLine& cell);     // "", "▲", "▲▲", "▼", "▼▼"

} // namespace zanst::report
