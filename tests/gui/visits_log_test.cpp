// Visits written through the service log's owner on its own thread into a real database (an
// SQLite file here; the same cases against the PostgreSQL test server in visits_pg_tests), read
// back with a connection of the test's own; replays that pause the writes; logs that cannot be
// used, which give one message and leave the tool going.

#include "visits/visit_session.hpp"

#include "sample_bank.hpp"
#include "servicelog/json.hpp"
#include "support/qt_wait.hpp"
#include "test_database.hpp"

#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace zanst::test {
namespace {

using app::PortStatus;
using servicelog::ActionKind;
using servicelog::LogState;
using servicelog::ServiceLogOwner;
using servicelog::SnapshotKind;

bool contains(const QString& text, const char* part) {
    return text.contains(QString::fromUtf8(part));
}

// Waits until everything posted to the owner so far has run, then for its signals to arrive here.
void settle(app::VisitSession& session) {
    session.host().runBlocking([](ServiceLogOwner&) {});
    pump(std::chrono::milliseconds(20));
}

bool openAndWait(app::VisitSession& session, const servicelog::Location& where) {
    session.openLog(where);
    return waitUntil([&] { return session.logState() != LogState::Closed; }) &&
           session.logState() == LogState::Ready;
}

void openPort(app::VisitRecorder& rec, const QString& port) {
    rec.portStatus(PortStatus::Opening, port, {});
    rec.portStatus(PortStatus::Open, port, {});
}

class VisitLogTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(db.ok()) << db.error().toStdString(); }

    std::optional<servicelog::VisitRecord> readBack(const QString& id) {
        servicelog::ServiceLog reader;
        if (!reader.open(db.location())) {
            ADD_FAILURE() << reader.lastError().message.toStdString();
            return std::nullopt;
        }
        return reader.visit(id);
    }

    TestDatabase db;
};

TEST_F(VisitLogTest, AVisitIsWrittenOnTheOwnersThreadAndReadsBackWhole) {
    app::VisitSession session;
    ASSERT_NE(session.host().owner()->thread(), QThread::currentThread());
    ASSERT_TRUE(openAndWait(session, db.location())) << session.logMessage().toStdString();
    app::VisitRecorder& rec = session.recorder();
    rec.setAdapterDescriber([](const QString&) { return QStringLiteral("FTDI, USB id 0403:6001"); });
    rec.setDetails(QStringLiteral("Depot 5"), QStringLiteral("Ben"));
    openPort(rec, QStringLiteral("/dev/ttyUSB1"));
    const bank::BankSnapshot bank = sampleBank(2, 4, 40);
    rec.bankSnapshot(bank);
    rec.takeSnapshot();
    rec.calibrationRequested(0, service::CalibrationKind::Voltage, 3301);
    tester::TickReport t;
    t.polled = true;
    t.snapshot = bank;
    t.snapshot.balancers[0].vGain = 31000;
    for (tester::PollRequest sent :
         {tester::PollRequest::CalibrationData, tester::PollRequest::CalibrationData,
          tester::PollRequest::Measurement}) {
        t.sent = sent;
        rec.tick(t);
    }
    metrics::FetchReport fetched;
    fetched.recordsReceived = {sampleMetricsRecord(2, 2950, 86400)};
    rec.metricsFetched(fetched, QStringLiteral("/m/metrics_1.txt"));
    rec.recordingStarted(servicelog::RecordingKind::Tester, QStringLiteral("/r/BatteryTester_3.txt"));
    rec.setNotes(QStringLiteral("Cell 3 of the second battery low"));
    rec.portStatus(PortStatus::Idle, {}, {});
    settle(session);
    ASSERT_FALSE(session.lastVisit().isEmpty());
    EXPECT_TRUE(session.currentVisit().isEmpty());

    const auto v = readBack(session.lastVisit());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->site, "Depot 5");
    EXPECT_EQ(v->technician, "Ben");
    EXPECT_EQ(v->adapter, "FTDI, USB id 0403:6001");
    EXPECT_EQ(v->port, "/dev/ttyUSB1");
    EXPECT_EQ(v->notes, "Cell 3 of the second battery low");
    EXPECT_EQ(v->endReason, servicelog::EndReason::Closed);
    EXPECT_TRUE(v->endedAt.isValid());
    ASSERT_EQ(v->snapshots.size(), 3U);
    EXPECT_EQ(v->snapshots[0].kind, SnapshotKind::Start);
    EXPECT_EQ(v->snapshots[1].kind, SnapshotKind::Manual);
    EXPECT_EQ(v->snapshots[2].kind, SnapshotKind::End);
    EXPECT_EQ(v->snapshots[2].bank.balancers.size(), 8U);
    EXPECT_EQ(v->balancers.size(), 8U);
    ASSERT_EQ(v->actions.size(), 3U);
    EXPECT_EQ(v->actions[0].kind, ActionKind::Calibration);
    ASSERT_TRUE(v->actions[0].calibration && v->actions[0].calibration->after);
    EXPECT_EQ(v->actions[0].calibration->after->vGain, 31000);
    EXPECT_EQ(v->actions[1].kind, ActionKind::Metrics);
    EXPECT_EQ(v->actions[1].metrics->serial, QString::fromStdString(sampleSerial(41)));
    EXPECT_EQ(v->actions[2].kind, ActionKind::Recording);

    // The next session offers the site and technician typed last.
    app::VisitSession next;
    QSignalSpy remembered(&next, &app::VisitSession::rememberedRead);
    ASSERT_TRUE(openAndWait(next, db.location()));
    ASSERT_TRUE(waitUntil([&] { return !remembered.isEmpty(); }));
    EXPECT_EQ(remembered.at(0).at(0).toString(), "Depot 5");
    EXPECT_EQ(remembered.at(0).at(1).toString(), "Ben");
}

TEST_F(VisitLogTest, NothingIsWrittenWhileACaptureIsReplayedAndTheNextVisitIsWrittenAgain) {
    app::VisitSession session;
    QSignalSpy status(&session, &app::VisitSession::logStatusChanged);
    ASSERT_TRUE(openAndWait(session, db.location()));
    app::VisitRecorder& rec = session.recorder();
    rec.setAdapterDescriber([](const QString&) { return QString(); });
    const bank::BankSnapshot bank = sampleBank(1, 4);
    openPort(rec, QStringLiteral("a"));
    rec.bankSnapshot(bank);
    rec.portStatus(PortStatus::Idle, {}, {}); // the replay closes the port
    rec.setReplaying(true);
    settle(session);
    EXPECT_EQ(session.logState(), LogState::Paused);
    // What a replay plays cannot open a visit; a snapshot taken meanwhile has no visit to go to.
    rec.portStatus(PortStatus::Open, QStringLiteral("replayed"), {});
    rec.bankSnapshot(bank);
    rec.setReplaying(false);
    openPort(rec, QStringLiteral("b"));
    rec.bankSnapshot(bank);
    rec.quit();
    settle(session);
    EXPECT_EQ(session.logState(), LogState::Ready);

    servicelog::ServiceLog reader;
    ASSERT_TRUE(reader.open(db.location()));
    const auto visits = reader.visits();
    ASSERT_TRUE(visits);
    ASSERT_EQ(visits->size(), 2U);
    EXPECT_EQ(reader.visit(visits->at(0).id)->port, "b");
    EXPECT_EQ(reader.visit(visits->at(0).id)->endReason, servicelog::EndReason::Quit);
    EXPECT_EQ(reader.visit(visits->at(1).id)->port, "a");
    EXPECT_EQ(visits->at(0).snapshots, 2);
    bool paused = false;
    for (const auto& s : status) {
        paused = paused || (s.at(0).value<LogState>() == LogState::Paused &&
                            contains(s.at(1).toString(), "paused while a capture is replayed"));
    }
    EXPECT_TRUE(paused);
}

TEST_F(VisitLogTest, ImportThroughTheOwnerMergesByIdAndABadFileChangesNothing) {
    servicelog::ServiceLog source;
    ASSERT_TRUE(source.open(db.location()));
    QString id;
    servicelog::VisitStart start;
    start.site = QStringLiteral("Far away");
    ASSERT_TRUE(source.beginVisit(start, &id));
    ASSERT_GT(source.recordSnapshot(id, sampleSnapshot(sampleBank(1, 4), SnapshotKind::Start, sampleTime())),
              0);
    ASSERT_TRUE(source.endVisit(id, sampleTime(0, 60), servicelog::EndReason::Closed));
    const std::optional<QByteArray> exported = source.exportVisits({id});
    ASSERT_TRUE(exported);

    const servicelog::Location other = db.sibling(QStringLiteral("other"));
    app::VisitSession session;
    ASSERT_TRUE(openAndWait(session, other));
    servicelog::ImportResult first;
    servicelog::ImportResult again;
    servicelog::ImportResult bad;
    session.host().runBlocking([&](ServiceLogOwner& o) {
        first = o.importVisits(*exported);
        again = o.importVisits(*exported);
        bad = o.importVisits(QByteArray("{\"format\": \"something else\"}"));
        o.setNotesOf(id, QStringLiteral("typed for the report"));
    });
    EXPECT_TRUE(first.ok) << first.error.toStdString();
    EXPECT_EQ(first.visitsAdded, 1);
    EXPECT_EQ(first.snapshotsAdded, 1);
    EXPECT_TRUE(again.ok);
    EXPECT_EQ(again.visitsAdded, 0);
    EXPECT_EQ(again.visitsUnchanged, 1);
    EXPECT_FALSE(bad.ok);
    EXPECT_FALSE(bad.error.isEmpty());
    settle(session);
    EXPECT_EQ(session.logState(), LogState::Ready) << "a bad file is not a broken log";

    servicelog::ServiceLog reader;
    ASSERT_TRUE(reader.open(other));
    const auto v = reader.visit(id);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->site, "Far away");
    EXPECT_EQ(v->notes, "typed for the report");
    EXPECT_EQ(v->snapshots.size(), 1U);
}

#ifndef ZANST_TEST_POSTGRES

TEST(VisitLogFaults, ALogThatCannotBeUsedSaysSoOnceAndTheVisitGoesOnWithoutIt) {
    QTemporaryDir dir;
    QFile garbage(dir.filePath(QStringLiteral("damaged.sqlite")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray("Number of instances: 0\n").repeated(200));
    garbage.close();
    QFile plain(dir.filePath(QStringLiteral("plain-file")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const struct {
        const char* name;
        QString option;
        const char* phrase;
    } cases[] = {
        {"damaged", dir.filePath(QStringLiteral("damaged.sqlite")), "is damaged"},
        {"no folder", dir.filePath(QStringLiteral("plain-file/log.sqlite")), "cannot be opened"},
        {"no server",
         QStringLiteral("postgresql://tech:s3cretPW@/zanst?host=") + dir.filePath(QStringLiteral("none")),
         "cannot be reached"},
        {"not a location", QStringLiteral("mysql://somewhere/db"), "Service log: "},
    };
    for (const auto& c : cases) {
        app::VisitSession session;
        QSignalSpy status(&session, &app::VisitSession::logStatusChanged);
        session.openLog(c.option);
        ASSERT_TRUE(
            waitUntil([&] { return session.logState() == LogState::Unavailable; }, std::chrono::seconds(15)))
            << c.name;
        app::VisitRecorder& rec = session.recorder();
        rec.setAdapterDescriber([](const QString&) { return QString(); });
        openPort(rec, QStringLiteral("p"));
        rec.bankSnapshot(sampleBank(1, 4));
        rec.takeSnapshot();
        rec.portStatus(PortStatus::Idle, {}, {});
        settle(session);
        int dropped = 0;
        session.host().runBlocking([&](ServiceLogOwner& o) { dropped = o.droppedWrites(); });
        ASSERT_EQ(status.size(), 1) << c.name << ": one message";
        const QString message = status.at(0).at(1).toString();
        EXPECT_TRUE(contains(message, c.phrase)) << c.name << ": " << message.toStdString();
        EXPECT_TRUE(message.endsWith(QStringLiteral("the tool goes on without the service log")))
            << message.toStdString();
        EXPECT_FALSE(contains(message, "s3cretPW")) << message.toStdString();
        EXPECT_FALSE(message.contains(QLatin1Char('\n')));
        EXPECT_TRUE(session.lastVisit().isEmpty()) << c.name;
        if (std::string(c.name) != "not a location") {
            // The visit's start is dropped; without a visit nothing else goes to the database.
            EXPECT_EQ(dropped, 1) << c.name;
        }
    }
    QFile back(dir.filePath(QStringLiteral("damaged.sqlite")));
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), QByteArray("Number of instances: 0\n").repeated(200)) << "never written to";
}

TEST(VisitLogFaults, ALockHeldByAnotherProgramEndsTheWritesWithOneMessageAndKeepsWhatWasWritten) {
    TestDatabase db;
    app::VisitSession session;
    QSignalSpy status(&session, &app::VisitSession::logStatusChanged);
    ASSERT_TRUE(openAndWait(session, db.location()));
    app::VisitRecorder& rec = session.recorder();
    rec.setAdapterDescriber([](const QString&) { return QString(); });
    openPort(rec, QStringLiteral("p"));
    rec.bankSnapshot(sampleBank(1, 4));
    settle(session);
    const QString id = session.currentVisit();
    ASSERT_FALSE(id.isEmpty());
    {
        RawConnection other(db.location());
        QSqlQuery q(other.db());
        ASSERT_TRUE(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
        rec.takeSnapshot();
        rec.portStatus(PortStatus::Idle, {}, {});
        settle(session); // the owner waits for the lock, then gives up
        ASSERT_TRUE(q.exec(QStringLiteral("ROLLBACK")));
    }
    ASSERT_EQ(status.size(), 2);
    EXPECT_EQ(status.at(1).at(0).value<LogState>(), LogState::Unavailable);
    EXPECT_TRUE(contains(status.at(1).at(1).toString(), "is locked by another program"));
    servicelog::ServiceLog reader;
    ASSERT_TRUE(reader.open(db.location()));
    const auto v = reader.visit(id);
    ASSERT_TRUE(v);
    ASSERT_EQ(v->snapshots.size(), 1U);
    EXPECT_EQ(v->snapshots[0].kind, SnapshotKind::Start);
}

#endif

} // namespace
} // namespace zanst::test
