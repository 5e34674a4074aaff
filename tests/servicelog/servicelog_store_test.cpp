// The service log against a real database: SQLite in one binary, the throw-away PostgreSQL
// server in the other. Migrations, what a visit keeps, the history queries, export and import,
// a writer killed in the middle of a snapshot.

#include "sample_bank.hpp"
#include "test_database.hpp"

#include "servicelog/json.hpp"
#include "servicelog/owner.hpp"
#include "servicelog/schema.hpp"
#include "servicelog/service_log.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <random>

namespace zanst::servicelog {
namespace {

using test::sampleBank;
using test::sampleSnapshot;
using test::sampleTime;

class ServiceLogStore : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(db.ok()) << db.error().toStdString(); }

    QString beginVisit(ServiceLog& log, const QString& site, int day, const QString& technician = "A. Tech") {
        VisitStart start;
        start.startedAt = sampleTime(day);
        start.site = site;
        start.technician = technician;
        start.adapter = QStringLiteral("FT232R USB UART (FTDI)");
        start.port = QStringLiteral("/dev/ttyUSB0");
        start.toolVersion = QStringLiteral("1.0.0");
        QString id;
        EXPECT_TRUE(log.beginVisit(start, &id)) << log.lastError().message.toStdString();
        return id;
    }

    // A visit to a bank of `batteries` batteries: a start and an end snapshot, cells `offsetMv` off.
    QString visitWithBank(ServiceLog& log, const QString& site, int day, int batteries, int firstSerial,
                          int offsetMv, std::uint16_t cycles) {
        const QString id = beginVisit(log, site, day);
        const auto bank = sampleBank(batteries, 16, firstSerial, offsetMv, static_cast<unsigned>(day + 1));
        EXPECT_EQ(log.recordSnapshot(id, sampleSnapshot(bank, SnapshotKind::Start, sampleTime(day, 1))), 1);
        MetricsRecord m;
        m.at = sampleTime(day, 2);
        m.file = QStringLiteral("/data/Metrics/metrics_07-03-2025_14;05;11.txt");
        m.serial = QString::fromStdString(test::sampleSerial(firstSerial));
        m.metrics = test::sampleMetricsRecord(1, cycles, 1000u * static_cast<std::uint32_t>(day + 1));
        EXPECT_GT(log.recordMetrics(id, m), 0);
        EXPECT_EQ(log.recordSnapshot(id, sampleSnapshot(bank, SnapshotKind::End, sampleTime(day, 3))), 2);
        EXPECT_TRUE(log.endVisit(id, sampleTime(day, 4), EndReason::Closed));
        return id;
    }

    test::TestDatabase db;
};

QString json(const SnapshotRecord& s) {
    return QString::fromUtf8(QJsonDocument(toJson(s)).toJson(QJsonDocument::Compact));
}

// --- migrations -------------------------------------------------------------------------------

TEST_F(ServiceLogStore, EveryEarlierVersionIsBroughtToTheCurrentOne) {
    // A database as each earlier version of the log left it (0: empty), opened by this tool.
    for (int version = 0; version < currentSchemaVersion(); ++version) {
        SCOPED_TRACE(version);
        test::TestDatabase fresh;
        ASSERT_TRUE(fresh.ok()) << fresh.error().toStdString();
        if (version > 0) {
            test::RawConnection raw(fresh.location());
            ASSERT_TRUE(raw.ok());
            const std::vector<Migration> upTo(migrations().begin(), migrations().begin() + version);
            ASSERT_TRUE(migrate(raw.db(), test::kTestBackend, upTo).ok);
        }
        ServiceLog log;
        ASSERT_TRUE(log.open(fresh.location())) << log.lastError().message.toStdString();
        EXPECT_EQ(log.schemaVersionFound(), version);
        const QString id = beginVisit(log, QStringLiteral("Site"), 0);
        EXPECT_EQ(log.recordSnapshot(id, sampleSnapshot(sampleBank(1, 4), SnapshotKind::Start, sampleTime())),
                  1);
        log.close();
        ASSERT_TRUE(log.open(fresh.location()));
        EXPECT_EQ(log.schemaVersionFound(), currentSchemaVersion());
        EXPECT_TRUE(log.visit(id).has_value());
    }
}

TEST_F(ServiceLogStore, NewerVersionIsRefusedAndLeftAlone) {
    {
        ServiceLog log;
        ASSERT_TRUE(log.open(db.location()));
    }
    ASSERT_TRUE(
        db.execute(QStringLiteral("UPDATE zanst_schema SET version = %1").arg(currentSchemaVersion() + 1)));
    ServiceLog log;
    EXPECT_FALSE(log.open(db.location()));
    EXPECT_FALSE(log.isOpen());
    EXPECT_EQ(log.lastError().kind, ErrorKind::Refused);
    const std::string message = log.lastError().message.toStdString();
    EXPECT_NE(message.find("schema version " + std::to_string(currentSchemaVersion() + 1)), std::string::npos)
        << message;
    EXPECT_NE(message.find("newer Zanst"), std::string::npos) << message;
    test::RawConnection raw(db.location());
    EXPECT_EQ(schemaVersion(raw.db()), currentSchemaVersion() + 1);
}

// The runner itself, over a made-up history of three steps (not the log's own).
TEST_F(ServiceLogStore, MigrationRunnerStepsInOrderAndRollsBackAFailedStep) {
    auto step = [](int version, QStringList sql) {
        return Migration{version, QStringLiteral("step %1").arg(version), [sql](Backend) { return sql; }};
    };
    const std::vector<Migration> history{
        step(1, {QStringLiteral("CREATE TABLE zanst_schema (version INTEGER NOT NULL)"),
                 QStringLiteral("INSERT INTO zanst_schema (version) VALUES (0)"),
                 QStringLiteral("CREATE TABLE a (x INTEGER)")}),
        step(2, {QStringLiteral("ALTER TABLE a ADD COLUMN y INTEGER")}),
        step(3, {QStringLiteral("CREATE TABLE b (z INTEGER)")}),
    };
    for (int from = 0; from <= 3; ++from) {
        SCOPED_TRACE(from);
        test::TestDatabase fresh;
        ASSERT_TRUE(fresh.ok());
        test::RawConnection raw(fresh.location());
        if (from > 0) {
            ASSERT_TRUE(migrate(raw.db(), test::kTestBackend,
                                std::vector<Migration>(history.begin(), history.begin() + from))
                            .ok);
        }
        const MigrationResult r = migrate(raw.db(), test::kTestBackend, history);
        EXPECT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_EQ(r.from, from);
        EXPECT_EQ(r.to, 3);
        QSqlQuery q(raw.db());
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT x, y FROM a"))) << q.lastError().text().toStdString();
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT z FROM b")));
    }
    // Step 3 fails half-way: version 2 stays whole, nothing of step 3 is left.
    std::vector<Migration> broken = history;
    broken[2] = step(3, {QStringLiteral("CREATE TABLE b (z INTEGER)"), QStringLiteral("NOT SQL AT ALL")});
    test::TestDatabase fresh;
    test::RawConnection raw(fresh.location());
    const MigrationResult r = migrate(raw.db(), test::kTestBackend, broken);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.to, 2);
    EXPECT_NE(r.error.indexOf(QStringLiteral("migration to version 3")), -1) << r.error.toStdString();
    EXPECT_EQ(schemaVersion(raw.db()), 2);
    QSqlQuery q(raw.db());
    EXPECT_FALSE(q.exec(QStringLiteral("SELECT z FROM b")));
    // A history with a gap is refused before anything runs.
    test::TestDatabase gap;
    test::RawConnection rawGap(gap.location());
    const MigrationResult g = migrate(rawGap.db(), test::kTestBackend, {history[0], history[2]});
    EXPECT_FALSE(g.ok);
    EXPECT_NE(g.error.indexOf(QStringLiteral("no migration to version 2")), -1);
}

// --- what a visit keeps -------------------------------------------------------------------------

TEST_F(ServiceLogStore, AVisitReadsBackAsItWasWritten) {
    ServiceLog log;
    ASSERT_TRUE(log.open(db.location())) << log.lastError().message.toStdString();
    const QString id = beginVisit(log, QStringLiteral("Harbour depot"), 0);
    ASSERT_FALSE(id.isEmpty());
    const auto bank = sampleBank(10, 16); // 160 balancers
    SnapshotRecord start = sampleSnapshot(bank, SnapshotKind::Start, sampleTime(0, 10));
    start.bank.balancers[5].millivolts.reset(); // a balancer without a measurement yet
    start.bank.balancers[7].fwVersion = 0xFFFFFFFFu;
    start.health.framesSent = (1ull << 40) + 3;
    ASSERT_EQ(log.recordSnapshot(id, start), 1) << log.lastError().message.toStdString();

    CalibrationRecord cal;
    cal.at = sampleTime(0, 20);
    cal.step = CalibrationStep::Voltage;
    cal.balancer = 3;
    cal.serial = QStringLiteral("ZB000000001");
    cal.input = 3301;
    cal.before = CalibrationValues{32003, 16003, 3};
    cal.after = CalibrationValues{32110, 16003, 3};
    cal.outcome = Outcome::Succeeded;
    ParametersRecord par;
    par.at = sampleTime(0, 30);
    par.serial = QStringLiteral("ZB000000099");
    par.capacity = 200;
    par.productId = 0xA0C8;
    par.balancers = {1, 2, 3};
    par.previousSerials = {QStringLiteral("ZB000000001")};
    FirmwareRecord fw;
    fw.at = sampleTime(0, 40);
    fw.file = QStringLiteral("/tmp/balancer v1.04.hex");
    fw.imageVersion = 0x00010400;
    fw.forced = true;
    fw.balancers = {{1, QStringLiteral("ZB000000001"), 0x00010203, 0x00010400, Outcome::Succeeded},
                    {2, QStringLiteral("ZB000000001"), 0x00010203, std::nullopt, Outcome::Failed}};
    MetricsRecord met;
    met.at = sampleTime(0, 50);
    met.file = QStringLiteral("/x/metrics_07-03-2025_14;05;59.txt");
    met.serial = QStringLiteral("ZB000000001");
    met.metrics = test::sampleMetricsRecord(1, 2800, 90061);
    RecordingRecord rec{sampleTime(0, 60), RecordingKind::Sniffer,
                        QStringLiteral("/x/BattDataMonitorRecording_4.txt")};
    FaultRecord fault{sampleTime(0, 70), FaultKind::CrcErrors, 17, 4, QStringLiteral("17 records failed")};
    EXPECT_EQ(log.recordCalibration(id, cal), 1);
    EXPECT_EQ(log.recordParameters(id, par), 2);
    EXPECT_EQ(log.recordFirmware(id, fw), 3);
    EXPECT_EQ(log.recordMetrics(id, met), 4);
    EXPECT_EQ(log.recordRecording(id, rec), 5);
    EXPECT_EQ(log.recordFault(id, fault), 6);
    const SnapshotRecord end = sampleSnapshot(sampleBank(10, 16, 1, 5), SnapshotKind::End, sampleTime(0, 80));
    EXPECT_EQ(log.recordSnapshot(id, end), 2);
    EXPECT_TRUE(
        log.setVisitNotes(id, QStringLiteral("Cell 3 of the first battery replaced.\nAll others fine.")));
    EXPECT_TRUE(log.endVisit(id, sampleTime(0, 90), EndReason::Closed));

    const auto v = log.visit(id);
    ASSERT_TRUE(v) << log.lastError().message.toStdString();
    EXPECT_EQ(v->site, QStringLiteral("Harbour depot"));
    EXPECT_EQ(v->technician, QStringLiteral("A. Tech"));
    EXPECT_EQ(v->adapter, QStringLiteral("FT232R USB UART (FTDI)"));
    EXPECT_EQ(v->startedAt, sampleTime(0));
    EXPECT_EQ(v->endedAt, sampleTime(0, 90));
    EXPECT_EQ(v->endReason, EndReason::Closed);
    EXPECT_EQ(v->notes, QStringLiteral("Cell 3 of the first battery replaced.\nAll others fine."));
    ASSERT_EQ(v->balancers.size(), 160u);
    EXPECT_EQ(v->balancers[159].serial, QStringLiteral("ZB000000010"));
    EXPECT_EQ(v->balancers[159].battery, 9);
    ASSERT_EQ(v->snapshots.size(), 2u);
    start.seq = 1;
    SnapshotRecord endSeq = end;
    endSeq.seq = 2;
    EXPECT_EQ(json(v->snapshots[0]), json(start));
    EXPECT_EQ(json(v->snapshots[1]), json(endSeq));
    ASSERT_EQ(v->actions.size(), 6u);
    const ActionKind kinds[] = {ActionKind::Calibration, ActionKind::Parameters, ActionKind::Firmware,
                                ActionKind::Metrics,     ActionKind::Recording,  ActionKind::Fault};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(v->actions[i].kind, kinds[i]);
        EXPECT_EQ(v->actions[i].seq, static_cast<int>(i) + 1);
    }
    ASSERT_TRUE(v->actions[0].calibration);
    EXPECT_EQ(v->actions[0].calibration->after, (CalibrationValues{32110, 16003, 3}));
    EXPECT_EQ(v->actions[0].calibration->input, 3301);
    ASSERT_TRUE(v->actions[2].firmware);
    ASSERT_EQ(v->actions[2].firmware->balancers.size(), 2u);
    EXPECT_FALSE(v->actions[2].firmware->balancers[1].toVersion);
    EXPECT_EQ(v->actions[2].firmware->balancers[0].toVersion, 0x00010400u);
    ASSERT_TRUE(v->actions[3].metrics);
    EXPECT_EQ(v->actions[3].metrics->metrics, met.metrics);
    ASSERT_TRUE(v->actions[5].fault);
    EXPECT_EQ(v->actions[5].fault->count, 17u);
    EXPECT_EQ(v->actions[5].fault->balancer, 4);
}

TEST_F(ServiceLogStore, WritesForAnUnknownVisitAreRefusedWithoutATrace) {
    ServiceLog log;
    ASSERT_TRUE(log.open(db.location()));
    const QString unknown = newVisitId();
    EXPECT_EQ(log.recordSnapshot(unknown, sampleSnapshot(sampleBank(1, 4), SnapshotKind::Manual, {})), 0);
    EXPECT_EQ(log.lastError().kind, ErrorKind::NotFound);
    EXPECT_EQ(log.recordFault(unknown, FaultRecord{}), 0);
    EXPECT_EQ(log.lastError().kind, ErrorKind::NotFound);
    EXPECT_FALSE(log.endVisit(unknown, {}, EndReason::Closed));
    EXPECT_FALSE(log.visit(unknown));
    EXPECT_EQ(log.lastError().kind, ErrorKind::NotFound);
    // A visit id given twice is refused; the first visit stays as it was.
    VisitStart start;
    start.id = newVisitId();
    start.site = QStringLiteral("First");
    ASSERT_TRUE(log.beginVisit(start));
    start.site = QStringLiteral("Second");
    EXPECT_FALSE(log.beginVisit(start));
    EXPECT_EQ(log.visit(start.id)->site, QStringLiteral("First"));
    const auto all = log.visits();
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 1u);
}

TEST_F(ServiceLogStore, RemembersTheLastSiteAndTechnician) {
    ServiceLog log;
    ASSERT_TRUE(log.open(db.location()));
    EXPECT_EQ(log.remembered()->site, QString());
    beginVisit(log, QStringLiteral("Old site"), 0, QStringLiteral("Old tech"));
    beginVisit(log, QStringLiteral("New site"), 2, QStringLiteral("New tech"));
    beginVisit(log, QString(), 3, QString()); // left empty: the fields keep what was typed last
    const auto r = log.remembered();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->site, QStringLiteral("New site"));
    EXPECT_EQ(r->technician, QStringLiteral("New tech"));
}

// --- history --------------------------------------------------------------------------------------

TEST_F(ServiceLogStore, HistoryQueriesBySiteDateSerialAndBattery) {
    ServiceLog log;
    ASSERT_TRUE(log.open(db.location()));
    // Battery 1 (serial 1) is at "North 100%" on days 0 and 10, then moves to "South" on day 20.
    const QString v0 = visitWithBank(log, QStringLiteral("North 100%"), 0, 2, 1, 0, 3000);
    const QString v1 = visitWithBank(log, QStringLiteral("north 100% annex"), 10, 2, 1, -20, 2950);
    const QString other = visitWithBank(log, QStringLiteral("North 1000"), 15, 1, 50, 0, 100);
    const QString v2 = visitWithBank(log, QStringLiteral("South"), 20, 1, 1, -40, 2900);

    struct Row {
        const char* what;
        VisitFilter filter;
        QStringList expected; // newest first
    };
    VisitFilter site;
    site.site = QStringLiteral("NORTH 100%"); // '%' is a character here, not a wildcard
    VisitFilter dates;
    dates.from = sampleTime(10);
    dates.to = sampleTime(20);
    VisitFilter serial;
    serial.serial = QString::fromStdString(test::sampleSerial(1));
    VisitFilter serial2 = serial;
    serial2.serial = QString::fromStdString(test::sampleSerial(2));
    VisitFilter limited;
    limited.limit = 2;
    const Row rows[] = {
        {"all", {}, {v2, other, v1, v0}},      {"site", site, {v1, v0}},
        {"dates", dates, {other, v1}},         {"serial", serial, {v2, v1, v0}},
        {"second battery", serial2, {v1, v0}}, {"limit", limited, {v2, other}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto found = log.visits(row.filter);
        ASSERT_TRUE(found) << log.lastError().message.toStdString();
        QStringList ids;
        for (const VisitSummary& s : *found) {
            ids << s.id;
        }
        EXPECT_EQ(ids, row.expected);
    }
    const auto all = log.visits();
    ASSERT_TRUE(all);
    const VisitSummary& first = all->back();
    EXPECT_EQ(first.serials, (QStringList{QString::fromStdString(test::sampleSerial(1)),
                                          QString::fromStdString(test::sampleSerial(2))}));
    EXPECT_EQ(first.balancers, 32);
    EXPECT_EQ(first.snapshots, 2);
    EXPECT_EQ(first.actions, 1);

    // One battery over its visits: figures of its own cells only, from the visit's last snapshot.
    const auto trend = log.batteryTrend(serial.serial);
    ASSERT_TRUE(trend) << log.lastError().message.toStdString();
    ASSERT_EQ(trend->size(), 3u);
    const QString expectedVisits[] = {v0, v1, v2};
    const int offsets[] = {0, -20, -40};
    const std::uint16_t cycles[] = {3000, 2950, 2900};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const BatteryTrendPoint& p = (*trend)[i];
        EXPECT_EQ(p.visitId, expectedVisits[i]);
        const auto bank = sampleBank(i == 2 ? 1 : 2, 16, 1, offsets[i], static_cast<unsigned>(i * 10 + 1));
        int lo = 99999, hi = 0, loCell = 0, hiCell = 0, tLo = 9999, tHi = -9999;
        for (int c = 0; c < 16; ++c) {
            const auto& r = bank.balancers[static_cast<std::size_t>(c)];
            if (*r.millivolts < lo) {
                lo = *r.millivolts;
                loCell = c + 1;
            }
            if (*r.millivolts > hi) {
                hi = *r.millivolts;
                hiCell = c + 1;
            }
            tLo = std::min(tLo, r.tenthsCelsius);
            tHi = std::max(tHi, r.tenthsCelsius);
        }
        EXPECT_EQ(p.cells, 16);
        EXPECT_EQ(p.minMv, lo);
        EXPECT_EQ(p.minCell, loCell);
        EXPECT_EQ(p.maxMv, hi);
        EXPECT_EQ(p.maxCell, hiCell);
        EXPECT_EQ(p.spreadMv, hi - lo);
        EXPECT_EQ(p.minTenthsC, tLo);
        EXPECT_EQ(p.maxTenthsC, tHi);
        EXPECT_EQ(p.cyclesBeforeEOL, cycles[i]);
        EXPECT_EQ(p.secsLifeSpan, 1000u * static_cast<std::uint32_t>(i * 10 + 1));
        EXPECT_EQ(p.fwVersions, std::vector<std::uint32_t>{0x00010203});
    }
    EXPECT_TRUE(log.batteryTrend(QStringLiteral("NO SUCH"))->empty());

    // The previous visit of the same batteries, whatever happened at other banks between.
    EXPECT_EQ(log.previousVisit(v2), v1);
    EXPECT_EQ(log.previousVisit(v1), v0);
    EXPECT_EQ(log.previousVisit(v0), QString());
    EXPECT_EQ(log.previousVisit(other), QString());
}

TEST_F(ServiceLogStore, TwoVisitsSideBySideMatchCellsByBatteryAndPlace) {
    ServiceLog log;
    ASSERT_TRUE(log.open(db.location()));
    // Visit A: batteries 1 and 2. Visit B: battery 2 first, then battery 3 (1 was taken away).
    const QString a = beginVisit(log, QStringLiteral("X"), 0);
    const auto bankA = sampleBank(2, 4, 1, 0, 7);
    log.recordSnapshot(a, sampleSnapshot(bankA, SnapshotKind::Start, sampleTime(0, 1)));
    const QString b = beginVisit(log, QStringLiteral("X"), 5);
    auto bankB = sampleBank(2, 4, 2, 0, 9);
    log.recordSnapshot(b, sampleSnapshot(bankB, SnapshotKind::End, sampleTime(5, 1)));
    bankB.balancers[0].millivolts = 1; // a later manual snapshot does not replace the end one
    log.recordSnapshot(b, sampleSnapshot(bankB, SnapshotKind::Manual, sampleTime(5, 2)));

    const auto c = log.compareVisits(a, b);
    ASSERT_TRUE(c) << log.lastError().message.toStdString();
    EXPECT_EQ(c->seqA, 1);
    EXPECT_EQ(c->seqB, 1);
    ASSERT_EQ(c->cells.size(), 12u); // 4 only in A, 4 in both, 4 only in B
    const auto bankB1 = sampleBank(2, 4, 2, 0, 9);
    for (int place = 1; place <= 4; ++place) {
        SCOPED_TRACE(place);
        const CellDifference& onlyA = c->cells[static_cast<std::size_t>(place - 1)];
        EXPECT_EQ(onlyA.serial, QString::fromStdString(test::sampleSerial(1)));
        EXPECT_EQ(onlyA.balancerB, 0);
        EXPECT_FALSE(onlyA.diffMv());
        const CellDifference& both = c->cells[static_cast<std::size_t>(place + 3)];
        EXPECT_EQ(both.serial, QString::fromStdString(test::sampleSerial(2)));
        EXPECT_EQ(both.place, place);
        EXPECT_EQ(both.balancerA, place + 4);
        EXPECT_EQ(both.balancerB, place);
        const int mvA = *bankA.balancers[static_cast<std::size_t>(place + 3)].millivolts;
        const int mvB = *bankB1.balancers[static_cast<std::size_t>(place - 1)].millivolts;
        EXPECT_EQ(both.diffMv(), mvB - mvA);
        const CellDifference& onlyB = c->cells[static_cast<std::size_t>(place + 7)];
        EXPECT_EQ(onlyB.balancerA, 0);
        EXPECT_EQ(onlyB.balancerB, place + 4);
    }
    EXPECT_FALSE(log.compareVisits(a, newVisitId()));
    EXPECT_EQ(log.lastError().kind, ErrorKind::NotFound);
}

// --- export and import ------------------------------------------------------------------------

TEST_F(ServiceLogStore, ExportImportRoundTripMergesByIdWithoutDuplicates) {
    ServiceLog here;
    ASSERT_TRUE(here.open(db.location()));
    const QString v0 = visitWithBank(here, QStringLiteral("Depot \"7\" ÅÄÖ"), 0, 3, 1, 0, 3000);
    const QString v1 = beginVisit(here, QStringLiteral("Open visit"), 1);
    here.recordSnapshot(v1, sampleSnapshot(sampleBank(1, 16, 9), SnapshotKind::Start, sampleTime(1, 1)));
    const auto first = here.exportVisits();
    ASSERT_TRUE(first) << here.lastError().message.toStdString();

    const servicelog::Location elsewhere = db.sibling(QStringLiteral("elsewhere"));
    ServiceLog there;
    ASSERT_TRUE(there.open(elsewhere)) << there.lastError().message.toStdString();
    ImportResult r = there.importVisits(*first);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.visitsAdded, 2);
    EXPECT_EQ(r.snapshotsAdded, 3);
    EXPECT_EQ(r.actionsAdded, 1);
    const auto copy = there.exportVisits();
    ASSERT_TRUE(copy);
    EXPECT_EQ(*copy, *first); // the same visits, byte for byte

    r = there.importVisits(*first); // again: nothing doubles
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.visitsAdded, 0);
    EXPECT_EQ(r.visitsUnchanged, 2);
    EXPECT_EQ(*there.exportVisits(), *first);

    // The open visit goes on here; the next import there adds only what is new, and its end.
    here.recordSnapshot(v1, sampleSnapshot(sampleBank(1, 16, 9), SnapshotKind::End, sampleTime(1, 5)));
    here.recordFault(
        v1, FaultRecord{sampleTime(1, 6), FaultKind::LostConnection, 0, 0, QStringLiteral("/dev/ttyUSB0")});
    here.endVisit(v1, sampleTime(1, 7), EndReason::Lost);
    const auto second = here.exportVisits({v1});
    ASSERT_TRUE(second);
    r = there.importVisits(*second);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.visitsMerged, 1);
    EXPECT_EQ(r.snapshotsAdded, 1);
    EXPECT_EQ(r.actionsAdded, 1);
    EXPECT_EQ(*there.exportVisits(), *here.exportVisits());
    (void)v0;
}

TEST_F(ServiceLogStore, ABadImportFileChangesNothing) {
    ServiceLog log;
    ASSERT_TRUE(log.open(db.location()));
    const QString kept = visitWithBank(log, QStringLiteral("Kept"), 0, 1, 1, 0, 10);
    const QByteArray before = *log.exportVisits();
    QJsonObject doc = QJsonDocument::fromJson(before).object();
    QJsonArray visits = doc[QStringLiteral("visits")].toArray();
    QJsonObject fresh = visits[0].toObject();
    fresh[QStringLiteral("id")] = newVisitId();
    QJsonObject broken = fresh;
    broken[QStringLiteral("id")] = newVisitId();
    QJsonArray snaps = broken[QStringLiteral("snapshots")].toArray();
    QJsonObject s0 = snaps[0].toObject();
    s0[QStringLiteral("kind")] = QStringLiteral("sideways");
    snaps[0] = s0;
    broken[QStringLiteral("snapshots")] = snaps;
    const QByteArray withBad =
        QJsonDocument(QJsonObject{{QStringLiteral("format"), QStringLiteral("zanst-service-log")},
                                  {QStringLiteral("version"), 1},
                                  {QStringLiteral("visits"), QJsonArray{fresh, broken}}})
            .toJson();
    const struct {
        const char* what;
        QByteArray bytes;
        const char* reason;
    } rows[] = {
        {"not JSON", QByteArray("{\"format\": "), "not a JSON file"},
        {"other JSON", QByteArray("{\"visits\": []}"), "not a service log export"},
        {"newer export", QByteArray("{\"format\": \"zanst-service-log\", \"version\": 99, \"visits\": []}"),
         "export version 99"},
        {"one bad visit among good ones", withBad, "unknown kind \"sideways\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const ImportResult r = log.importVisits(row.bytes);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.indexOf(QLatin1String(row.reason)), -1) << r.error.toStdString();
        EXPECT_EQ(r.visitsAdded, 0);
        EXPECT_EQ(*log.exportVisits(), before);
    }
    EXPECT_TRUE(log.visit(kept));
}

// --- the owner ----------------------------------------------------------------------------------

TEST_F(ServiceLogStore, OwnerOnItsThreadRecordsAVisitAndPausesForAReplay) {
    QThread thread;
    auto* owner = new ServiceLogOwner;
    owner->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, owner, &QObject::deleteLater);
    thread.start();
    QSignalSpy status(owner, &ServiceLogOwner::statusChanged);
    QSignalSpy began(owner, &ServiceLogOwner::visitBegan);
    QSignalSpy written(owner, &ServiceLogOwner::snapshotWritten);
    QSignalSpy ended(owner, &ServiceLogOwner::visitEnded);
    auto post = [owner](auto fn) {
        QMetaObject::invokeMethod(
            owner, [owner, fn] { fn(*owner); }, Qt::QueuedConnection);
    };
    const Location where = db.location();
    post([where](ServiceLogOwner& o) { o.open(where); });
    ASSERT_TRUE(status.wait(5000));
    EXPECT_EQ(status.last().at(0).value<LogState>(), LogState::Ready);
    VisitStart start;
    start.site = QStringLiteral("Threaded");
    post([start](ServiceLogOwner& o) { o.beginVisit(start); });
    const auto bank = sampleBank(10, 16);
    post([bank](ServiceLogOwner& o) { o.takeSnapshot(sampleSnapshot(bank, SnapshotKind::Start, {})); });
    ASSERT_TRUE(written.wait(5000));
    ASSERT_EQ(began.size(), 1);
    const QString id = began.at(0).at(0).toString();
    // A replay: nothing is written meanwhile, and the visit goes on afterwards.
    post([](ServiceLogOwner& o) { o.setWritesEnabled(false); });
    post([bank](ServiceLogOwner& o) { o.takeSnapshot(sampleSnapshot(bank, SnapshotKind::Manual, {})); });
    post([](ServiceLogOwner& o) { o.recordFault(FaultRecord{{}, FaultKind::SelfEcho, 1, 0, {}}); });
    post([](ServiceLogOwner& o) { o.setWritesEnabled(true); });
    post([bank](ServiceLogOwner& o) { o.takeSnapshot(sampleSnapshot(bank, SnapshotKind::End, {})); });
    post([](ServiceLogOwner& o) { o.endVisit(EndReason::Closed); });
    ASSERT_TRUE(ended.wait(5000));
    EXPECT_EQ(written.size(), 2);
    EXPECT_EQ(written.last().at(1).toInt(), 2);
    QStringList states;
    for (const auto& args : status) {
        states << QString::number(static_cast<int>(args.at(0).value<LogState>()));
    }
    EXPECT_EQ(states, (QStringList{"1", "2", "1"})); // ready, paused, ready
    thread.quit();
    thread.wait();

    ServiceLog log;
    ASSERT_TRUE(log.open(db.location()));
    const auto v = log.visit(id);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->site, QStringLiteral("Threaded"));
    ASSERT_EQ(v->snapshots.size(), 2u);
    EXPECT_EQ(v->snapshots[1].kind, SnapshotKind::End);
    EXPECT_TRUE(v->actions.empty());
    EXPECT_TRUE(v->endedAt.isValid());
}

// --- a writer killed in the middle of a snapshot ------------------------------------------------

// The child writes snapshots of 160 balancers; told to, it stops inside the transaction of
// snapshot `hangAt` (after its first chunk of cells) and waits to be killed.
struct Child {
    QProcess process;
    QString lastLine;
    int committed = 0;

    bool start(const Location& where, const QString& visit, int hangAt) {
        process.setProgram(QStringLiteral(ZANST_SERVICELOG_CHILD));
        process.setArguments(
            {where.backend == Backend::Sqlite ? QStringLiteral("sqlite:") + where.path : where.displayName(),
             visit, QString::number(hangAt)});
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        return process.waitForStarted(5000);
    }
    // Reads lines until one starts with `prefix`; false after `ms`.
    bool waitFor(const QString& prefix, int ms) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            while (process.canReadLine()) {
                lastLine = QString::fromUtf8(process.readLine()).trimmed();
                if (lastLine.startsWith(QStringLiteral("committed "))) {
                    committed = lastLine.mid(10).toInt();
                }
                if (lastLine.startsWith(prefix)) {
                    return true;
                }
            }
            process.waitForReadyRead(100);
            if (process.state() == QProcess::NotRunning && !process.canReadLine()) {
                return false;
            }
        }
        return false;
    }
    void killHard() {
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(5000);
        // Lines written before the kill still count.
        while (process.canReadLine()) {
            lastLine = QString::fromUtf8(process.readLine()).trimmed();
            if (lastLine.startsWith(QStringLiteral("committed "))) {
                committed = lastLine.mid(10).toInt();
            }
        }
    }
};

void expectCompleteSnapshots(ServiceLog& log, const QString& visit, int expected) {
    const auto v = log.visit(visit);
    ASSERT_TRUE(v) << log.lastError().message.toStdString();
    ASSERT_EQ(static_cast<int>(v->snapshots.size()), expected);
    for (const SnapshotRecord& s : v->snapshots) {
        EXPECT_EQ(s.bank.balancers.size(), 160u) << "snapshot " << s.seq;
    }
    const auto trend = log.batteryTrend(QString::fromStdString(test::sampleSerial(10)));
    ASSERT_TRUE(trend);
    ASSERT_EQ(trend->size(), expected > 0 ? 1u : 0u);
}

TEST_F(ServiceLogStore, WriterKilledInsideASnapshotLosesOnlyThatSnapshot) {
    QString visit;
    {
        ServiceLog log;
        ASSERT_TRUE(log.open(db.location()));
        visit = beginVisit(log, QStringLiteral("Crash"), 0);
    }
    Child child;
    ASSERT_TRUE(child.start(db.location(), visit, 4));
    ASSERT_TRUE(child.waitFor(QStringLiteral("inside 4"), 20000)) << child.lastLine.toStdString();
    EXPECT_EQ(child.committed, 3);
    child.killHard();
    EXPECT_EQ(child.process.exitStatus(), QProcess::CrashExit);

    ServiceLog log;
    ASSERT_TRUE(log.open(db.location())) << log.lastError().message.toStdString();
    expectCompleteSnapshots(log, visit, 3);
    if (test::kTestBackend == Backend::Sqlite) {
        test::RawConnection raw(db.location());
        QSqlQuery q(raw.db());
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
        EXPECT_EQ(q.value(0).toString(), QStringLiteral("ok"));
    }
    // The log goes on where it stopped.
    EXPECT_EQ(log.recordSnapshot(visit, sampleSnapshot(sampleBank(10, 16), SnapshotKind::End, {})), 4);
}

TEST_F(ServiceLogStore, WriterKilledAtRandomMomentsLeavesWholeSnapshots) {
    QString visit;
    {
        ServiceLog log;
        ASSERT_TRUE(log.open(db.location()));
        visit = beginVisit(log, QStringLiteral("Crash"), 0);
    }
    std::mt19937 random(20250307);
    int before = 0;
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        Child child;
        ASSERT_TRUE(child.start(db.location(), visit, 0));
        ASSERT_TRUE(child.waitFor(QStringLiteral("committed"), 20000));
        QThread::msleep(std::uniform_int_distribution<unsigned>(5, 120)(random));
        child.killHard();
        ServiceLog log;
        ASSERT_TRUE(log.open(db.location())) << log.lastError().message.toStdString();
        const auto v = log.visit(visit);
        ASSERT_TRUE(v);
        const int have = static_cast<int>(v->snapshots.size());
        EXPECT_GE(have, std::max(before + 1, child.committed)); // nothing committed is lost
        EXPECT_LE(have, child.committed + 1);                   // a commit may beat its line
        expectCompleteSnapshots(log, visit, have);
        before = have;
    }
}

} // namespace
} // namespace zanst::servicelog
