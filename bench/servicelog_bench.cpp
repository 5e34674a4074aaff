// Figures of the service log and the report: the time to write a snapshot of 160 balancers, the
// database's size per visit, the report's time, and the history queries over 1,000 visits.
//
//   servicelog_bench [--visits N] [--folder DIR]
//   tests/support/with-postgres.sh servicelog_bench --postgres   (the same against PostgreSQL)

#include "bench_options.hpp"
#include "offscreen.hpp"
#include "report_sample.hpp"
#include "sample_bank.hpp"

#include "report/report_content.hpp"
#include "report/report_pdf.hpp"
#include "servicelog/service_log.hpp"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace zanst;
using servicelog::SnapshotKind;

namespace {

struct Times {
    std::vector<double> ms;
    double median() const { return at(0.5); }
    double p95() const { return at(0.95); }
    double max() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
    double at(double q) const {
        if (ms.empty()) {
            return 0;
        }
        std::vector<double> s = ms;
        std::sort(s.begin(), s.end());
        return s[static_cast<std::size_t>(q * static_cast<double>(s.size() - 1))];
    }
};

double timed(const std::function<bool()>& fn) {
    QElapsedTimer t;
    t.start();
    if (!fn()) {
        std::fprintf(stderr, "failed\n");
        std::exit(1);
    }
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void line(const char* what, const Times& t) {
    std::printf("  %-46s median %8.2f ms   p95 %8.2f ms   max %8.2f ms   (%zu runs)\n", what, t.median(),
                t.p95(), t.max(), t.ms.size());
}

qint64 databaseBytes(const servicelog::Location& where) {
    if (where.backend == servicelog::Backend::Sqlite) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("size"));
            db.setDatabaseName(where.path);
            db.open();
            QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("size"));
        return QFileInfo(where.path).size();
    }
    qint64 bytes = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("size"));
        db.setHostName(where.host);
        db.setPort(where.port);
        db.setUserName(where.user);
        db.setDatabaseName(where.database);
        db.open();
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT pg_database_size(current_database())")) && q.next()) {
            bytes = q.value(0).toLongLong();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("size"));
    return bytes;
}

} // namespace

int main(int argc, char** argv) {
    int visits = 1000;
    bool postgres = false;
    std::string folderArg;
    const zanst::bench::OptionTable options{
        "The service log: a snapshot of 160 balancers, a visit's size, a report, the history queries.",
        {{"--visits", "N", "visits in the log for the history queries (default 1000)", &visits, 1.0},
         {"--folder", "DIR", "where the SQLite file goes (default the temporary folder)", &folderArg},
         {"--postgres", "", "the server of ZANST_TEST_PG_URL instead (run through with-postgres.sh)",
          &postgres}}};
    if (const auto exit = zanst::bench::parseCommandLine(options, argc, argv)) {
        return *exit;
    }
    zanst::bench::setUpOffscreen();
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromStdString(folderArg);
    QTemporaryDir dir(folder.isEmpty() ? QDir::tempPath() + QStringLiteral("/servicelog-bench-XXXXXX")
                                       : folder + QStringLiteral("/servicelog-bench-XXXXXX"));
    servicelog::Location where;
    if (postgres) {
        const auto parsed = servicelog::parseLocation(qEnvironmentVariable("ZANST_TEST_PG_URL"));
        if (!parsed.location) {
            std::fprintf(stderr, "--postgres needs ZANST_TEST_PG_URL (run through with-postgres.sh)\n");
            return 2;
        }
        where = *parsed.location;
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
        admin.setHostName(where.host);
        admin.setPort(where.port);
        admin.setUserName(where.user);
        admin.setDatabaseName(where.database);
        admin.open();
        QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE servicelog_bench"));
        where.database = QStringLiteral("servicelog_bench");
    } else {
        where.path = dir.filePath(QStringLiteral("bench.sqlite"));
    }
    std::printf("Service log at %s, %d visits\n", qPrintable(where.displayName()), visits);

    servicelog::ServiceLog log;
    if (!log.open(where)) {
        std::fprintf(stderr, "%s\n", qPrintable(log.lastError().message));
        return 1;
    }

    // 100 banks of 10 batteries (160 balancers), each visited visits/100 times, ten days apart:
    // a start and an end snapshot, ten metrics records, three calibrations, a firmware update.
    Times snapshot;
    Times visitTotal;
    const int banks = std::max(1, visits / 10 < 100 ? visits / 10 : 100);
    QStringList ids;
    for (int v = 0; v < visits; ++v) {
        const int bank = v % banks;
        const int round = v / banks;
        const auto readings = test::sampleBank(10, 16, bank * 10 + 1, -round, static_cast<unsigned>(v + 1));
        QString id;
        visitTotal.ms.push_back(timed([&] {
            servicelog::VisitStart start;
            start.startedAt = test::sampleTime(round * 10, bank * 60);
            start.site = QStringLiteral("Site %1").arg(bank);
            start.technician = QStringLiteral("Tech %1").arg(v % 7);
            if (!log.beginVisit(start, &id)) {
                return false;
            }
            snapshot.ms.push_back(timed([&] {
                return log.recordSnapshot(
                           id, test::sampleSnapshot(readings, SnapshotKind::Start, start.startedAt)) > 0;
            }));
            for (int b = 0; b < 10; ++b) {
                servicelog::MetricsRecord m;
                m.serial = QString::fromStdString(test::sampleSerial(bank * 10 + 1 + b));
                m.file = QStringLiteral("/data/Metrics/metrics_%1.txt").arg(v);
                m.metrics = test::sampleMetricsRecord(b + 1, static_cast<std::uint16_t>(3000 - round * 5),
                                                      1000000u + static_cast<std::uint32_t>(round) * 864000u);
                if (log.recordMetrics(id, m) == 0) {
                    return false;
                }
            }
            for (int c = 1; c <= 3; ++c) {
                servicelog::CalibrationRecord r;
                r.balancer = c;
                r.input = 3300;
                r.before = servicelog::CalibrationValues{32000, 16000, 1};
                r.after = servicelog::CalibrationValues{32010, 16000, 1};
                if (log.recordCalibration(id, r) == 0) {
                    return false;
                }
            }
            servicelog::FirmwareRecord f;
            f.imageVersion = 0x00010400;
            f.balancers = servicelog::firmwareResults(readings, readings, 0x00010203);
            if (log.recordFirmware(id, f) == 0) {
                return false;
            }
            snapshot.ms.push_back(timed([&] {
                return log.recordSnapshot(
                           id, test::sampleSnapshot(readings, SnapshotKind::End, start.startedAt)) > 0;
            }));
            return log.endVisit(id, start.startedAt.addSecs(3600), servicelog::EndReason::Closed);
        }));
        ids << id;
    }
    std::printf("\nWrites (each its own transaction%s)\n",
                postgres ? "" : "; SQLite in WAL mode, synchronous=FULL");
    line("snapshot of 160 balancers", snapshot);
    line("whole visit (2 snapshots, 14 actions)", visitTotal);
    const qint64 bytes = databaseBytes(where);
    std::printf("  database size: %.1f MiB for %d visits, %.1f KiB per visit\n",
                static_cast<double>(bytes) / 1048576.0, visits, static_cast<double>(bytes) / 1024.0 / visits);

    std::printf("\nHistory queries over %d visits\n", visits);
    const QString someSerial = QString::fromStdString(test::sampleSerial(5 * 10 + 3));
    const QString a = ids[visits / 2];
    const QString b = ids[std::min(visits - 1, visits / 2 + banks)];
    const struct {
        const char* what;
        std::function<bool()> run;
    } queries[] = {
        {"all visits (summaries)", [&] { return log.visits().has_value(); }},
        {"visits of one site",
         [&] {
             servicelog::VisitFilter f;
             f.site = QStringLiteral("Site 42");
             return log.visits(f).has_value();
         }},
        {"visits in a month",
         [&] {
             servicelog::VisitFilter f;
             f.from = test::sampleTime(30);
             f.to = test::sampleTime(60);
             return log.visits(f).has_value();
         }},
        {"visits of one battery serial",
         [&] {
             servicelog::VisitFilter f;
             f.serial = someSerial;
             return log.visits(f).has_value();
         }},
        {"trend of one battery", [&] { return log.batteryTrend(someSerial).has_value(); }},
        {"two visits side by side", [&] { return log.compareVisits(a, b).has_value(); }},
        {"previous visit of the same batteries", [&] { return log.previousVisit(b).has_value(); }},
        {"one whole visit", [&] { return log.visit(a).has_value(); }},
        {"export of one visit (JSON)", [&] { return log.exportVisits({a}).has_value(); }},
    };
    for (const auto& q : queries) {
        Times t;
        for (int i = 0; i < 15; ++i) {
            t.ms.push_back(timed(q.run));
        }
        line(q.what, t);
    }

    std::printf("\nReport of one visit (160 balancers) and the previous one\n");
    Times build;
    Times pdf;
    Times fromLog;
    const auto sample = test::sampleReportVisit();
    const auto previous = test::samplePreviousVisit();
    for (int i = 0; i < 10; ++i) {
        report::ReportContent content;
        build.ms.push_back(timed([&] {
            content = report::buildReport(sample, previous);
            return !content.cells.empty();
        }));
        pdf.ms.push_back(timed(
            [&] { return report::writeReportPdf(content, dir.filePath(QStringLiteral("report.pdf"))).ok; }));
        fromLog.ms.push_back(timed([&] {
            const auto v = log.visit(b);
            const auto prevId = log.previousVisit(b);
            std::optional<servicelog::VisitRecord> p;
            if (prevId && !prevId->isEmpty()) {
                p = log.visit(*prevId);
            }
            return v &&
                   report::writeReportPdf(report::buildReport(*v, p), dir.filePath(QStringLiteral("r2.pdf")))
                       .ok;
        }));
    }
    line("content", build);
    line("PDF", pdf);
    line("from the log: read, content, PDF", fromLog);
    std::printf("  PDF size: %.1f KiB\n",
                static_cast<double>(QFileInfo(dir.filePath(QStringLiteral("report.pdf"))).size()) / 1024.0);
    return 0;
}
