// Figures of the service visits as the window records them: a snapshot of 160 balancers written
// through the log's owner on its own thread (and what it costs the window's thread), the
// database's size per visit, the service report from the log, and the time the History window
// takes to open on a log of 1,000 visits.
//
//   history_bench [--visits N] [--sized N] [--runs N] [--folder DIR]

#include "bench_options.hpp"
#include "offscreen.hpp"
#include "sample_bank.hpp"

#include "servicelog/json.hpp"
#include "servicelog/service_log.hpp"
#include "shell/main_window.hpp"
#include "shell/wiring.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/visit_panel.hpp"
#include "visits/visit_session.hpp"
#include "windows/history_window.hpp"
#include "windows/report_dialog.hpp"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>

using namespace zanst;
using servicelog::LogState;
using servicelog::ServiceLogOwner;

namespace {

struct Times {
    std::vector<double> ms;
    double at(double q) const {
        if (ms.empty()) {
            return 0;
        }
        std::vector<double> s = ms;
        std::sort(s.begin(), s.end());
        return s[static_cast<std::size_t>(q * static_cast<double>(s.size() - 1))];
    }
};

void line(const char* what, const Times& t) {
    std::printf("  %-52s median %8.2f ms   p95 %8.2f ms   (%zu runs)\n", what, t.at(0.5), t.at(0.95),
                t.ms.size());
}

double msSince(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// Runs the event loop until `done` or 120 s; false on time-out.
bool pumpUntil(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 120000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

servicelog::Location sqliteAt(const QString& path) {
    servicelog::Location where;
    where.path = path;
    return where;
}

qint64 fileBytes(const QString& path) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("size"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("size"));
    return QFileInfo(path).size();
}

bool openSession(app::VisitSession& session, const QString& path) {
    session.openLog(sqliteAt(path));
    if (!pumpUntil([&] { return session.logState() != LogState::Closed; }) ||
        session.logState() != LogState::Ready) {
        std::fprintf(stderr, "%s\n", qPrintable(session.logMessage()));
        return false;
    }
    return true;
}

// One visit as the recorder makes it: start and end snapshot, three calibrations with their
// polls, ten metrics records, a firmware update of every balancer.
void recordVisit(app::VisitRecorder& rec, const bank::BankSnapshot& bank, int n) {
    rec.setDetails(QStringLiteral("Site %1").arg(n % 100), QStringLiteral("Tech %1").arg(n % 7));
    rec.portStatus(app::PortStatus::Opening, QStringLiteral("/dev/ttyUSB0"), {});
    rec.portStatus(app::PortStatus::Open, QStringLiteral("/dev/ttyUSB0"), {});
    rec.bankSnapshot(bank);
    for (int c = 0; c < 3; ++c) {
        rec.calibrationRequested(c, service::CalibrationKind::Voltage, 3300);
    }
    tester::TickReport t;
    t.polled = true;
    t.snapshot = bank;
    for (tester::PollRequest sent :
         {tester::PollRequest::CalibrationData, tester::PollRequest::CalibrationData,
          tester::PollRequest::Measurement}) {
        t.sent = sent;
        rec.tick(t);
    }
    metrics::FetchReport fetched;
    for (int b = 1; b <= 10; ++b) {
        fetched.recordsReceived.push_back(test::sampleMetricsRecord(b, 3000, 1000000));
    }
    rec.metricsFetched(fetched, QStringLiteral("/data/Metrics/metrics.txt"));
    service::HexReadResult image;
    image.log = {"File:/data/balancer.hex"};
    image.image.emplace();
    image.image->append(std::vector<std::uint8_t>(2048, 0xFF));
    rec.firmwareRead(image, false);
    service::UpdaterReport ended;
    ended.log = {{"Firmware updated to v02.03", true}};
    rec.updaterReport(ended);
    rec.bankSnapshot(bank);
    rec.portStatus(app::PortStatus::Idle, {}, {});
}

} // namespace

int main(int argc, char** argv) {
    int visits = 1000;
    int sized = 100;
    int runs = 30;
    std::string folderArg;
    const bench::OptionTable options{
        "Service visits through the window: snapshots via the log's owner, size per visit, the report, "
        "the History window's open time.",
        {{"--visits", "N", "visits in the log the History window opens on (default 1000)", &visits, 1.0},
         {"--sized", "N", "visits recorded to measure the size per visit (default 100)", &sized, 1.0},
         {"--runs", "N", "runs of each timing (default 30)", &runs, 3.0},
         {"--folder", "DIR", "where the SQLite files go (default the temporary folder)", &folderArg}}};
    if (const auto exit = bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    bench::setUpOffscreen();
    QApplication app(argc, argv);
    const QString folder = QString::fromStdString(folderArg);
    QTemporaryDir dir((folder.isEmpty() ? QDir::tempPath() : folder) +
                      QStringLiteral("/history-bench-XXXXXX"));
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    const bank::BankSnapshot bank = test::sampleBank(10, 16);
    std::printf("SQLite files in %s\n", qPrintable(dir.path()));

    // A snapshot of 160 balancers: the window's thread posts it, the owner writes it.
    {
        app::VisitSession session;
        if (!openSession(session, dir.filePath(QStringLiteral("snapshots.sqlite")))) {
            return 1;
        }
        app::VisitRecorder& rec = session.recorder();
        rec.setAdapterDescriber([](const QString&) { return QStringLiteral("bench"); });
        rec.portStatus(app::PortStatus::Open, QStringLiteral("/dev/ttyUSB0"), {});
        rec.bankSnapshot(bank); // the start snapshot
        session.host().runBlocking([](ServiceLogOwner&) {});
        QElapsedTimer clock;
        clock.start();
        std::atomic<qint64> writtenAtNs{0};
        std::atomic<int> written{0};
        QObject::connect(
            session.host().owner(), &ServiceLogOwner::snapshotWritten, session.host().owner(),
            [&](const QString&, int) {
                writtenAtNs = clock.nsecsElapsed();
                ++written;
            },
            Qt::DirectConnection);
        Times posting;
        Times writing;
        for (int i = 0; i < runs; ++i) {
            const int before = written;
            const qint64 t0 = clock.nsecsElapsed();
            rec.takeSnapshot();
            const qint64 t1 = clock.nsecsElapsed();
            if (!pumpUntil([&] { return written > before; })) {
                std::fprintf(stderr, "the snapshot was never written\n");
                return 1;
            }
            posting.ms.push_back(static_cast<double>(t1 - t0) / 1e6);
            writing.ms.push_back(static_cast<double>(writtenAtNs - t0) / 1e6);
        }
        rec.quit();
        std::printf("\nA snapshot of 160 balancers (SQLite, WAL, synchronous=FULL)\n");
        line("window thread: taking and posting it", posting);
        line("posted to written by the owner on its thread", writing);
    }

    // The database's size per visit.
    {
        const QString path = dir.filePath(QStringLiteral("sized.sqlite"));
        app::VisitSession session;
        if (!openSession(session, path)) {
            return 1;
        }
        app::VisitRecorder& rec = session.recorder();
        rec.setAdapterDescriber([](const QString&) { return QStringLiteral("bench"); });
        QElapsedTimer t;
        t.start();
        for (int n = 0; n < sized; ++n) {
            recordVisit(rec, bank, n);
        }
        session.host().runBlocking([](ServiceLogOwner&) {});
        const double ms = msSince(t);
        const qint64 bytes = fileBytes(path);
        std::printf(
            "\n%d visits recorded (start and end snapshot of 160 balancers, 3 calibrations, 10 metrics "
            "records, an update)\n",
            sized);
        std::printf("  %.1f ms per visit written; database %.1f MiB, %.1f KiB per visit\n", ms / sized,
                    static_cast<double>(bytes) / 1048576.0, static_cast<double>(bytes) / 1024.0 / sized);

        // The report of the last visit from the log, as "Service report..." makes it.
        app::ReportDialog dialog;
        const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
        Times report;
        QString id;
        session.host().runBlocking([&](ServiceLogOwner& o) {
            servicelog::VisitFilter newest;
            newest.limit = 1;
            id = o.log().visits(newest)->front().id;
        });
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer r;
            r.start();
            bool done = false;
            session.host().query(
                &dialog,
                [id](ServiceLogOwner& o) {
                    auto v = o.log().visit(id);
                    std::optional<servicelog::VisitRecord> p;
                    if (const auto prev = o.log().previousVisit(id); prev && !prev->isEmpty()) {
                        p = o.log().visit(*prev);
                    }
                    return std::make_pair(v, p);
                },
                [&](std::pair<std::optional<servicelog::VisitRecord>, std::optional<servicelog::VisitRecord>>
                        r2) {
                    dialog.showChoices({}, id);
                    dialog.showVisit(*r2.first, r2.second);
                    done = dialog.write(app::ReportDialog::Format::Pdf, pdf).isEmpty();
                });
            if (!pumpUntil([&] { return done; })) {
                std::fprintf(stderr, "no report\n");
                return 1;
            }
            report.ms.push_back(msSince(r));
        }
        std::printf("\nThe service report of a visit of 160 balancers and the one before it\n");
        line("read both from the log, content, PDF written", report);
        std::printf("  PDF: %.1f KiB\n", static_cast<double>(QFileInfo(pdf).size()) / 1024.0);
    }

    // The History window on a log of many visits, through the window as the technician opens it.
    {
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        {
            servicelog::ServiceLog log;
            if (!log.open(sqliteAt(path))) {
                std::fprintf(stderr, "%s\n", qPrintable(log.lastError().message));
                return 1;
            }
            std::printf("\nWriting %d visits of 160 balancers for the History window...\n", visits);
            const int banks = std::clamp(visits / 10, 1, 100);
            for (int v = 0; v < visits; ++v) {
                const auto readings =
                    test::sampleBank(10, 16, (v % banks) * 10 + 1, -(v / banks), static_cast<unsigned>(v));
                servicelog::VisitStart start;
                start.startedAt = test::sampleTime((v / banks) * 10, (v % banks) * 60);
                start.site = QStringLiteral("Site %1").arg(v % banks);
                QString id;
                if (!log.beginVisit(start, &id) ||
                    log.recordSnapshot(id, test::sampleSnapshot(readings, servicelog::SnapshotKind::Start,
                                                                start.startedAt)) == 0 ||
                    log.recordSnapshot(id, test::sampleSnapshot(readings, servicelog::SnapshotKind::End,
                                                                start.startedAt)) == 0 ||
                    !log.endVisit(id, start.startedAt.addSecs(3600), servicelog::EndReason::Closed)) {
                    std::fprintf(stderr, "%s\n", qPrintable(log.lastError().message));
                    return 1;
                }
            }
        }
        Times first;
        Times again;
        for (int i = 0; i < std::max(3, runs / 3); ++i) {
            app::diag_form window{app::ServiceMode::On};
            app::VisitSession* session = app::visitSessionOf(window);
            if (!openSession(*session, path)) {
                return 1;
            }
            window.show();
            QCoreApplication::processEvents();
            auto* panel = window.connectionTab()->findChild<app::VisitPanel*>();
            QElapsedTimer t;
            t.start();
            panel->history->click();
            auto* history = window.findChild<app::HistoryWindow*>();
            if (!pumpUntil([&] { return history->visitModel()->rowCount() == visits; })) {
                std::fprintf(stderr, "the History window never listed the visits\n");
                return 1;
            }
            history->repaint(); // until it is drawn with its rows
            first.ms.push_back(msSince(t));
            history->hide();
            QSignalSpy listed(history->visitModel(), &QAbstractItemModel::modelReset);
            t.restart();
            panel->history->click();
            if (!pumpUntil([&] { return !listed.isEmpty(); })) {
                return 1;
            }
            history->repaint();
            again.ms.push_back(msSince(t));
        }
        std::printf("\nThe History window with %d visits (goal: under 200 ms)\n", visits);
        line("first opening: built, listed, drawn", first);
        line("opened again: listed anew, drawn", again);
        std::printf("  database: %.1f MiB\n", static_cast<double>(fileBytes(path)) / 1048576.0);
    }
    return 0;
}
