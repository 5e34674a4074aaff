// A writer to be killed: opens the service log named by argument 1 and writes snapshots of 160
// balancers to visit argument 2, printing "committed N" after each commit. With argument 3 at
// N > 0 it stops inside the transaction of snapshot N, after its first cells, prints "inside N"
// and waits there until it is killed. With argument 3 at -1 it begins one visit and prints "ok" or
// "error <kind> <message>" (run as another user, for a file it may not write).

#include "sample_bank.hpp"

#include "servicelog/service_log.hpp"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: servicelog_child LOCATION VISIT HANG_AT\n");
        return 2;
    }
    const auto parsed = zanst::servicelog::parseLocation(args[1]);
    if (!parsed.location) {
        std::fprintf(stderr, "%s\n", qPrintable(parsed.error));
        return 2;
    }
    zanst::servicelog::ServiceLog log;
    if (args[3] == QLatin1String("-1")) {
        if (log.open(*parsed.location) && log.beginVisit({})) {
            std::printf("ok\n");
        } else {
            std::printf("error %d %s\n", static_cast<int>(log.lastError().kind),
                        qPrintable(log.lastError().message));
        }
        return 0;
    }
    if (!log.open(*parsed.location)) {
        std::fprintf(stderr, "%s\n", qPrintable(log.lastError().message));
        return 1;
    }
    const QString visit = args[2];
    const int hangAt = args[3].toInt();
    int writing = 0;
    log.setChunkWrittenHook([&](int) {
        if (writing == hangAt) {
            std::printf("inside %d\n", writing);
            std::fflush(stdout);
            for (;;) {
                pause();
            }
        }
    });
    const auto bank = zanst::test::sampleBank(10, 16);
    const auto existing = log.visit(visit);
    if (!existing) {
        std::fprintf(stderr, "%s\n", qPrintable(log.lastError().message));
        return 1;
    }
    writing = static_cast<int>(existing->snapshots.size()) + 1;
    for (;; ++writing) {
        const int seq = log.recordSnapshot(
            visit, zanst::test::sampleSnapshot(bank, zanst::servicelog::SnapshotKind::Manual, {}));
        if (seq == 0) {
            std::fprintf(stderr, "%s\n", qPrintable(log.lastError().message));
            return 1;
        }
        std::printf("committed %d\n", seq);
        std::fflush(stdout);
    }
}
