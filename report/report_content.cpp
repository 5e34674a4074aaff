#include "report/report_content.hpp"

#include "bank/bank_summary.hpp"
#include "bus/hex.hpp"
#include "servicelog/json.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace zanst::report {

namespace {

using servicelog::ActionKind;
using servicelog::Outcome;
using servicelog::SnapshotKind;
using servicelog::SnapshotRecord;
using servicelog::VisitRecord;

const SnapshotRecord* closingSnapshot(const VisitRecord& v) {
    const SnapshotRecord* chosen = nullptr;
    for (const SnapshotRecord& s : v.snapshots) {
        if (s.kind == SnapshotKind::End) {
            chosen = &s;
        }
    }
    if (!chosen && !v.snapshots.empty()) {
        chosen = &v.snapshots.back();
    }
    return chosen;
}

double rankValue(const std::vector<int>& sorted, double p) {
    const double rank = p * static_cast<double>(sorted.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(rank));
    const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
    const double frac = rank - static_cast<double>(lo);
    return sorted[lo] + (sorted[hi] - sorted[lo]) * frac;
}

// The batteries of a snapshot with their figures, and the metrics of the visit per serial. The
// versions are those the balancers last reported: an update may have enumerated them again after
// the snapshot that holds the last measurement.
std::vector<BatteryLine> batteriesOf(const SnapshotRecord& s, const VisitRecord& v) {
    std::vector<BatteryLine> list;
    std::vector<std::set<std::uint32_t>> fw;
    std::vector<std::set<std::uint32_t>> bl;
    std::map<int, const servicelog::BalancerRecord*> enumerated;
    for (const servicelog::BalancerRecord& b : v.balancers) {
        enumerated[b.balancer] = &b;
    }
    int place = 0;
    int number = 0;
    for (const bank::BalancerReading& r : s.bank.balancers) {
        ++number;
        if (list.empty() || list.back().battery != r.battery) {
            BatteryLine b;
            b.battery = r.battery;
            b.serial = QString::fromStdString(r.serial);
            b.productId = r.productId;
            b.capacity = r.capacity;
            list.push_back(b);
            fw.emplace_back();
            bl.emplace_back();
            place = 0;
        }
        BatteryLine& b = list.back();
        ++place;
        ++b.cells;
        const auto last = enumerated.find(number);
        const bool same =
            last != enumerated.end() && last->second->serial == QString::fromStdString(r.serial);
        fw.back().insert(same ? last->second->fwVersion : r.fwVersion);
        bl.back().insert(same ? last->second->blVersion : r.blVersion);
        if (!r.millivolts) {
            continue;
        }
        if (!b.minMv || *r.millivolts < *b.minMv) {
            b.minMv = r.millivolts;
            b.minPlace = place;
        }
        if (!b.maxMv || *r.millivolts > *b.maxMv) {
            b.maxMv = r.millivolts;
            b.maxPlace = place;
        }
        b.minTenthsC = b.minTenthsC ? std::min(*b.minTenthsC, r.tenthsCelsius) : r.tenthsCelsius;
        b.maxTenthsC = b.maxTenthsC ? std::max(*b.maxTenthsC, r.tenthsCelsius) : r.tenthsCelsius;
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        list[i].fwVersions.assign(fw[i].begin(), fw[i].end());
        list[i].blVersions.assign(bl[i].begin(), bl[i].end());
    }
    for (const servicelog::ActionRecord& a : v.actions) {
        if (a.kind != ActionKind::Metrics || !a.metrics) {
            continue;
        }
        const auto& m = a.metrics->metrics;
        for (BatteryLine& b : list) {
            // By serial; an instance fetched without a known serial goes by its number.
            const bool match = a.metrics->serial.isEmpty() ? b.battery == m.instanceNumber - 1
                                                           : b.serial == a.metrics->serial;
            if (!match) {
                continue;
            }
            LifetimeLine l;
            l.instance = m.instanceNumber;
            l.file = a.metrics->file;
            l.secsLifeSpan = m.secsLifeSpan;
            l.cyclesBeforeEOL = m.cyclesBeforeEOL;
            l.secsInUndervoltage = m.secsInUndervoltage;
            l.secsInOvervoltage = m.secsInOvervoltage;
            l.secsInSub01C = m.secsInSub01C;
            l.secsAtIRAbove150 = static_cast<std::uint32_t>(m.secsAtIRRange150_175perc) +
                                 m.secsAtIRRange175_200perc + m.secsAtIRRange200_225perc +
                                 m.secsAtIRAbove225perc;
            b.lifetime = l;
            break;
        }
    }
    return list;
}

QJsonValue opt(const std::optional<int>& v) {
    return v ? QJsonValue(*v) : QJsonValue();
}

QJsonValue optU(const std::optional<std::uint32_t>& v) {
    return v ? QJsonValue(static_cast<qint64>(*v)) : QJsonValue();
}

QJsonArray versions(const std::vector<std::uint32_t>& list) {
    QJsonArray a;
    for (std::uint32_t v : list) {
        a.append(versionText(v));
    }
    return a;
}

QString levelText(bank::VoltageLevel level) {
    switch (level) {
    case bank::VoltageLevel::Normal:
        return QStringLiteral("normal");
    case bank::VoltageLevel::Warning:
        return QStringLiteral("warning");
    case bank::VoltageLevel::Alarm:
        return QStringLiteral("alarm");
    }
    return {};
}

} // namespace

std::optional<Distribution> distributionOf(std::vector<int> millivolts) {
    if (millivolts.empty()) {
        return std::nullopt;
    }
    std::sort(millivolts.begin(), millivolts.end());
    Distribution d;
    d.count = static_cast<int>(millivolts.size());
    d.min = millivolts.front();
    d.max = millivolts.back();
    d.q1 = rankValue(millivolts, 0.25);
    d.median = rankValue(millivolts, 0.5);
    d.q3 = rankValue(millivolts, 0.75);
    return d;
}

QString versionText(std::uint32_t version) {
    return QString::fromStdString(bus::versionToString(version));
}

QString durationText(std::uint32_t seconds) {
    const std::uint32_t days = seconds / 86400;
    seconds %= 86400;
    return QStringLiteral("%1d %2h %3m %4s")
        .arg(days)
        .arg(seconds / 3600)
        .arg(seconds % 3600 / 60)
        .arg(seconds % 60);
}

QString millivoltText(int millivolts) {
    return QString::number(millivolts / 1000.0, 'f', 3) + QStringLiteral(" V");
}

QString tenthsCelsiusText(int tenths) {
    return QString::number(tenths / 10.0, 'f', 1) + QStringLiteral(" °C");
}

QString levelMark(const CellLine& cell) {
    switch (cell.level) {
    case bank::VoltageLevel::Normal:
        return {};
    case bank::VoltageLevel::Warning:
        return cell.below ? QStringLiteral("▼") : QStringLiteral("▲");
    case bank::VoltageLevel::Alarm:
        return cell.below ? QStringLiteral("▼▼") : QStringLiteral("▲▲");
    }
    return {};
}

ReportContent buildReport(const VisitRecord& visit, const std::optional<VisitRecord>& previous) {
    ReportContent c;
    c.visitId = visit.id;
    c.site = visit.site;
    c.technician = visit.technician;
    c.startedAt = visit.startedAt;
    c.endedAt = visit.endedAt;
    c.adapter = visit.adapter;
    c.port = visit.port;
    c.toolVersion = visit.toolVersion;
    c.notes = visit.notes;

    if (const SnapshotRecord* s = closingSnapshot(visit)) {
        c.snapshotSeq = s->seq;
        c.snapshotKind = s->kind;
        c.snapshotAt = s->takenAt;
        c.bankValues = s->values;
        c.health = s->health;
        c.batteries = batteriesOf(*s, visit);
        std::vector<int> voltages;
        int place = 0;
        int battery = -1;
        for (std::size_t i = 0; i < s->bank.balancers.size(); ++i) {
            const bank::BalancerReading& r = s->bank.balancers[i];
            place = r.battery == battery ? place + 1 : 1;
            battery = r.battery;
            CellLine cell;
            cell.balancer = static_cast<int>(i) + 1;
            cell.battery = r.battery;
            cell.serial = QString::fromStdString(r.serial);
            cell.place = place;
            cell.millivolts = r.millivolts;
            if (r.measuresCurrent()) {
                cell.milliamps = r.milliamps;
                cell.highRange = r.highRange();
            }
            cell.tenthsCelsius = r.tenthsCelsius;
            c.balancerCrcErrors += r.crcErrors;
            if (r.millivolts) {
                cell.level = bank::millivoltLevel(*r.millivolts);
                cell.below = *r.millivolts < 3000;
                voltages.push_back(*r.millivolts);
                if (cell.level != bank::VoltageLevel::Normal) {
                    ++c.cellsOutsideBand;
                }
            }
            c.cells.push_back(cell);
        }
        c.distribution = distributionOf(voltages);
        const bank::BankSummary summary = bank::summarizeBank(s->bank, s->values.balancerSetpoint);
        c.avgTenthsC = summary.averageTenthsCelsius;
        if (summary.maxTemperature) {
            c.maxTenthsC = summary.maxTemperature->value;
        }
        for (const bank::BalancerReading& r : s->bank.balancers) {
            if (r.millivolts) {
                c.minTenthsC = c.minTenthsC ? std::min(*c.minTenthsC, r.tenthsCelsius) : r.tenthsCelsius;
            }
        }
    }

    for (const servicelog::ActionRecord& a : visit.actions) {
        switch (a.kind) {
        case ActionKind::Calibration:
            if (a.calibration) {
                c.calibrations.push_back(*a.calibration);
            }
            break;
        case ActionKind::Parameters:
            if (a.parameters) {
                c.parameters.push_back(*a.parameters);
            }
            break;
        case ActionKind::Firmware:
            if (a.firmware) {
                for (const servicelog::FirmwareBalancerResult& r : a.firmware->balancers) {
                    FirmwareLine* last = c.firmware.empty() ? nullptr : &c.firmware.back();
                    if (last && last->at == a.at && last->lastBalancer + 1 == r.balancer &&
                        last->serial == r.serial && last->fromVersion == r.fromVersion &&
                        last->toVersion == r.toVersion && last->outcome == r.outcome) {
                        last->lastBalancer = r.balancer;
                        continue;
                    }
                    FirmwareLine line;
                    line.at = a.at;
                    line.file = a.firmware->file;
                    line.firstBalancer = line.lastBalancer = r.balancer;
                    line.serial = r.serial;
                    line.fromVersion = r.fromVersion;
                    line.toVersion = r.toVersion;
                    line.imageVersion = a.firmware->imageVersion;
                    line.outcome = r.outcome;
                    c.firmware.push_back(line);
                }
            }
            break;
        case ActionKind::Recording:
            if (a.recording) {
                c.recordings.push_back(*a.recording);
            }
            break;
        case ActionKind::Fault:
            if (a.fault) {
                c.faults.push_back(*a.fault);
            }
            break;
        case ActionKind::Metrics:
            break; // per battery, above
        }
    }

    if (previous) {
        c.previousVisitId = previous->id;
        c.previousStartedAt = previous->startedAt;
        c.previousSite = previous->site;
        std::vector<BatteryLine> before;
        if (const SnapshotRecord* s = closingSnapshot(*previous)) {
            before = batteriesOf(*s, *previous);
        }
        for (const BatteryLine& now : c.batteries) {
            const auto then = std::find_if(before.begin(), before.end(),
                                           [&](const BatteryLine& b) { return b.serial == now.serial; });
            if (then == before.end()) {
                continue;
            }
            ComparisonLine line;
            line.serial = now.serial;
            if (then->minMv && then->maxMv) {
                line.spreadBefore = *then->maxMv - *then->minMv;
            }
            if (now.minMv && now.maxMv) {
                line.spreadNow = *now.maxMv - *now.minMv;
            }
            line.weakestBefore = then->minMv;
            line.weakestPlaceBefore = then->minPlace;
            line.weakestNow = now.minMv;
            line.weakestPlaceNow = now.minPlace;
            if (then->lifetime) {
                line.cyclesBefore = then->lifetime->cyclesBeforeEOL;
            }
            if (now.lifetime) {
                line.cyclesNow = now.lifetime->cyclesBeforeEOL;
            }
            c.comparison.push_back(line);
        }
    }
    return c;
}

QByteArray reportJson(const ReportContent& c) {
    QJsonObject o;
    o[QStringLiteral("format")] = QStringLiteral("zanst-service-report");
    o[QStringLiteral("version")] = 1;
    o[QStringLiteral("visit")] = QJsonObject{
        {QStringLiteral("id"), c.visitId},
        {QStringLiteral("site"), c.site},
        {QStringLiteral("technician"), c.technician},
        {QStringLiteral("startedAt"), servicelog::timeText(c.startedAt)},
        {QStringLiteral("endedAt"),
         c.endedAt.isValid() ? QJsonValue(servicelog::timeText(c.endedAt)) : QJsonValue()},
        {QStringLiteral("adapter"), c.adapter},
        {QStringLiteral("port"), c.port},
        {QStringLiteral("toolVersion"), c.toolVersion},
        {QStringLiteral("notes"), c.notes},
    };
    o[QStringLiteral("snapshot")] = QJsonObject{
        {QStringLiteral("seq"), c.snapshotSeq},
        {QStringLiteral("kind"), servicelog::kindText(c.snapshotKind)},
        {QStringLiteral("takenAt"), servicelog::timeText(c.snapshotAt)},
        {QStringLiteral("setpointMv"), c.bankValues.balancerSetpoint},
        {QStringLiteral("bankMv"), c.bankValues.batVoltage},
        {QStringLiteral("bankMa"), c.bankValues.batCurrent},
    };
    o[QStringLiteral("ringHealth")] = QJsonObject{
        {QStringLiteral("framesSent"), static_cast<qint64>(c.health.framesSent)},
        {QStringLiteral("framesReceived"), static_cast<qint64>(c.health.framesReceived)},
        {QStringLiteral("crcErrors"), static_cast<qint64>(c.health.crcErrors)},
        {QStringLiteral("balancerCrcErrors"), static_cast<qint64>(c.balancerCrcErrors)},
        {QStringLiteral("unansweredPolls"), static_cast<qint64>(c.health.unansweredPolls)},
        {QStringLiteral("noAnswerAfter"), c.health.noAnswerAfter},
    };
    QJsonArray batteries;
    for (const BatteryLine& b : c.batteries) {
        QJsonObject j{
            {QStringLiteral("battery"), b.battery + 1},
            {QStringLiteral("serial"), b.serial},
            {QStringLiteral("productId"), QString::fromStdString(bus::ConvertHex1(b.productId, 4))},
            {QStringLiteral("capacityAh"), b.capacity},
            {QStringLiteral("cells"), b.cells},
            {QStringLiteral("firmware"), versions(b.fwVersions)},
            {QStringLiteral("bootLoader"), versions(b.blVersions)},
            {QStringLiteral("minMv"), opt(b.minMv)},
            {QStringLiteral("minCell"), b.minPlace},
            {QStringLiteral("maxMv"), opt(b.maxMv)},
            {QStringLiteral("maxCell"), b.maxPlace},
            {QStringLiteral("minTenthsC"), opt(b.minTenthsC)},
            {QStringLiteral("maxTenthsC"), opt(b.maxTenthsC)},
        };
        if (b.lifetime) {
            j[QStringLiteral("lifetime")] = QJsonObject{
                {QStringLiteral("instance"), b.lifetime->instance},
                {QStringLiteral("file"), b.lifetime->file},
                {QStringLiteral("secsLifeSpan"), static_cast<qint64>(b.lifetime->secsLifeSpan)},
                {QStringLiteral("cyclesBeforeEOL"), static_cast<qint64>(b.lifetime->cyclesBeforeEOL)},
                {QStringLiteral("secsInUndervoltage"), static_cast<qint64>(b.lifetime->secsInUndervoltage)},
                {QStringLiteral("secsInOvervoltage"), static_cast<qint64>(b.lifetime->secsInOvervoltage)},
                {QStringLiteral("secsInSub01C"), static_cast<qint64>(b.lifetime->secsInSub01C)},
                {QStringLiteral("secsAtIRAbove150perc"), static_cast<qint64>(b.lifetime->secsAtIRAbove150)},
            };
        }
        batteries.append(j);
    }
    o[QStringLiteral("batteries")] = batteries;
    QJsonArray cells;
    for (const CellLine& cell : c.cells) {
        cells.append(QJsonObject{
            {QStringLiteral("balancer"), cell.balancer},
            {QStringLiteral("battery"), cell.battery + 1},
            {QStringLiteral("serial"), cell.serial},
            {QStringLiteral("cell"), cell.place},
            {QStringLiteral("mv"), opt(cell.millivolts)},
            {QStringLiteral("ma"), opt(cell.milliamps)},
            {QStringLiteral("tenthsC"), cell.tenthsCelsius},
            {QStringLiteral("band"), levelText(cell.level)},
            {QStringLiteral("mark"), levelMark(cell)},
        });
    }
    o[QStringLiteral("cells")] = cells;
    if (c.distribution) {
        o[QStringLiteral("voltageDistribution")] = QJsonObject{
            {QStringLiteral("count"), c.distribution->count},
            {QStringLiteral("minMv"), c.distribution->min},
            {QStringLiteral("q1Mv"), c.distribution->q1},
            {QStringLiteral("medianMv"), c.distribution->median},
            {QStringLiteral("q3Mv"), c.distribution->q3},
            {QStringLiteral("maxMv"), c.distribution->max},
        };
    }
    o[QStringLiteral("temperatures")] = QJsonObject{
        {QStringLiteral("minTenthsC"), opt(c.minTenthsC)},
        {QStringLiteral("avgTenthsC"), opt(c.avgTenthsC)},
        {QStringLiteral("maxTenthsC"), opt(c.maxTenthsC)},
    };
    o[QStringLiteral("cellsOutsideBand")] = c.cellsOutsideBand;
    QJsonArray firmware;
    for (const FirmwareLine& f : c.firmware) {
        firmware.append(QJsonObject{
            {QStringLiteral("at"), servicelog::timeText(f.at)},
            {QStringLiteral("file"), f.file},
            {QStringLiteral("balancers"), QJsonArray{f.firstBalancer, f.lastBalancer}},
            {QStringLiteral("serial"), f.serial},
            {QStringLiteral("from"), versionText(f.fromVersion)},
            {QStringLiteral("to"), f.toVersion ? QJsonValue(versionText(*f.toVersion)) : QJsonValue()},
            {QStringLiteral("image"), versionText(f.imageVersion)},
            {QStringLiteral("outcome"), servicelog::outcomeText(f.outcome)},
        });
    }
    o[QStringLiteral("firmware")] = firmware;
    auto actionList = [](const auto& records, ActionKind kind, auto member) {
        QJsonArray list;
        for (const auto& r : records) {
            servicelog::ActionRecord a;
            a.kind = kind;
            a.at = r.at;
            a.*member = r;
            QJsonObject j = servicelog::actionDetails(a);
            j[QStringLiteral("at")] = servicelog::timeText(r.at);
            list.append(j);
        }
        return list;
    };
    o[QStringLiteral("calibrations")] =
        actionList(c.calibrations, ActionKind::Calibration, &servicelog::ActionRecord::calibration);
    o[QStringLiteral("parameters")] =
        actionList(c.parameters, ActionKind::Parameters, &servicelog::ActionRecord::parameters);
    o[QStringLiteral("recordings")] =
        actionList(c.recordings, ActionKind::Recording, &servicelog::ActionRecord::recording);
    o[QStringLiteral("faults")] = actionList(c.faults, ActionKind::Fault, &servicelog::ActionRecord::fault);
    if (!c.previousVisitId.isEmpty()) {
        QJsonArray lines;
        for (const ComparisonLine& l : c.comparison) {
            lines.append(QJsonObject{
                {QStringLiteral("serial"), l.serial},
                {QStringLiteral("spreadMvBefore"), opt(l.spreadBefore)},
                {QStringLiteral("spreadMvNow"), opt(l.spreadNow)},
                {QStringLiteral("weakestMvBefore"), opt(l.weakestBefore)},
                {QStringLiteral("weakestCellBefore"), l.weakestPlaceBefore},
                {QStringLiteral("weakestMvNow"), opt(l.weakestNow)},
                {QStringLiteral("weakestCellNow"), l.weakestPlaceNow},
                {QStringLiteral("cyclesBefore"), optU(l.cyclesBefore)},
                {QStringLiteral("cyclesNow"), optU(l.cyclesNow)},
            });
        }
        o[QStringLiteral("previousVisit")] = QJsonObject{
            {QStringLiteral("id"), c.previousVisitId},
            {QStringLiteral("startedAt"), servicelog::timeText(c.previousStartedAt)},
            {QStringLiteral("site"), c.previousSite},
            {QStringLiteral("batteries"), lines},
        };
    }
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

} // namespace zanst::report
