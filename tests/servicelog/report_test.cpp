// The service report: what it works out, its JSON, and the PDF as pdftotext reads it.

#include "report_sample.hpp"
#include "sample_bank.hpp"

#include "report/report_content.hpp"
#include "report/report_pdf.hpp"

#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace zanst::report {
namespace {

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

TEST(ReportContent, DistributionQuartilesBetweenRanks) {
    const struct {
        std::vector<int> values;
        double min, q1, median, q3, max;
    } rows[] = {
        {{3300}, 3300, 3300, 3300, 3300, 3300},
        {{3310, 3300}, 3300, 3302.5, 3305, 3307.5, 3310},
        {{1, 2, 3, 4, 5}, 1, 2, 3, 4, 5},
        {{4, 1, 3, 2}, 1, 1.75, 2.5, 3.25, 4},
        {{2690, 3290, 3295, 3300, 3668}, 2690, 3290, 3295, 3300, 3668},
    };
    for (const auto& row : rows) {
        const auto d = distributionOf(row.values);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->count, static_cast<int>(row.values.size()));
        EXPECT_DOUBLE_EQ(d->min, row.min);
        EXPECT_DOUBLE_EQ(d->q1, row.q1);
        EXPECT_DOUBLE_EQ(d->median, row.median);
        EXPECT_DOUBLE_EQ(d->q3, row.q3);
        EXPECT_DOUBLE_EQ(d->max, row.max);
    }
    EXPECT_FALSE(distributionOf({}));
}

TEST(ReportContent, WorkedOutFromTheVisit) {
    const ReportContent c = buildReport(test::sampleReportVisit(), test::samplePreviousVisit());
    EXPECT_EQ(c.snapshotSeq, 2);
    ASSERT_EQ(c.cells.size(), 160u);
    ASSERT_EQ(c.batteries.size(), 10u);
    EXPECT_EQ(c.cellsOutsideBand, 2);
    EXPECT_EQ(levelMark(c.cells[53]), QStringLiteral("▲"));
    EXPECT_EQ(levelMark(c.cells[54]), QStringLiteral("▼▼"));
    EXPECT_EQ(levelMark(c.cells[52]), QString());
    EXPECT_EQ(c.cells[54].battery, 3);
    EXPECT_EQ(c.cells[54].place, 7);
    EXPECT_EQ(c.distribution->count, 159); // one cell without a measurement
    EXPECT_EQ(c.distribution->min, 2690);
    EXPECT_EQ(c.distribution->max, 3668);
    EXPECT_EQ(c.batteries[3].minMv, 2690);
    EXPECT_EQ(c.batteries[3].minPlace, 7);
    EXPECT_EQ(c.batteries[3].maxPlace, 6);
    EXPECT_EQ(c.batteries[1].fwVersions, (std::vector<std::uint32_t>{0x00010203, 0x00010400}));
    ASSERT_TRUE(c.batteries[9].lifetime);
    EXPECT_EQ(c.batteries[9].lifetime->cyclesBeforeEOL, 2830u);

    // The update in runs: 1-20 succeeded, 21-22 failed (battery 2), 23-32, then 33-160 by battery.
    ASSERT_GE(c.firmware.size(), 4u);
    EXPECT_EQ(c.firmware[0].firstBalancer, 1);
    EXPECT_EQ(c.firmware[0].lastBalancer, 16);
    EXPECT_EQ(c.firmware[1].firstBalancer, 17);
    EXPECT_EQ(c.firmware[1].lastBalancer, 20);
    EXPECT_EQ(c.firmware[2].firstBalancer, 21);
    EXPECT_EQ(c.firmware[2].lastBalancer, 22);
    EXPECT_EQ(c.firmware[2].outcome, servicelog::Outcome::Failed);
    EXPECT_EQ(c.firmware[2].toVersion, 0x00010203u);
    int covered = 0;
    for (const FirmwareLine& f : c.firmware) {
        covered += f.lastBalancer - f.firstBalancer + 1;
    }
    EXPECT_EQ(covered, 160);

    ASSERT_EQ(c.comparison.size(), 10u);
    const ComparisonLine& b4 = c.comparison[3];
    EXPECT_EQ(b4.serial, QString::fromStdString(test::sampleSerial(4)));
    EXPECT_EQ(b4.spreadNow, 3668 - 2690);
    EXPECT_EQ(b4.weakestNow, 2690);
    EXPECT_EQ(b4.weakestPlaceNow, 7);
    EXPECT_EQ(b4.cyclesBefore, 2901u);
    EXPECT_EQ(b4.cyclesNow, 2872u);
    EXPECT_FALSE(c.comparison[0].cyclesBefore);

    const ReportContent alone = buildReport(test::sampleReportVisit());
    EXPECT_TRUE(alone.previousVisitId.isEmpty());
    EXPECT_TRUE(alone.comparison.empty());
}

TEST(ReportContent, VersionsAreThoseLastEnumeratedWhereTheBalancerIsTheSame) {
    // The last measurement came before an update; the balancers were enumerated again after it.
    servicelog::VisitRecord v = test::sampleReportVisit();
    for (servicelog::BalancerRecord& b : v.balancers) {
        b.fwVersion = 0x000203FF;
        b.blVersion = 0x000301FF;
    }
    v.balancers[16].serial = QStringLiteral("ANOTHER0001"); // balancer 17 is another one now
    const ReportContent c = buildReport(v);
    EXPECT_EQ(c.batteries[0].fwVersions, (std::vector<std::uint32_t>{0x000203FF}));
    EXPECT_EQ(c.batteries[0].blVersions, (std::vector<std::uint32_t>{0x000301FF}));
    EXPECT_EQ(c.batteries[1].fwVersions, (std::vector<std::uint32_t>{0x00010400, 0x000203FF}))
        << "balancer 17 keeps the snapshot's version";
}

TEST(ReportContent, JsonCarriesTheSameContent) {
    const ReportContent c = buildReport(test::sampleReportVisit(), test::samplePreviousVisit());
    const QJsonObject o = QJsonDocument::fromJson(reportJson(c)).object();
    EXPECT_EQ(o[QStringLiteral("format")].toString(), QStringLiteral("zanst-service-report"));
    EXPECT_EQ(o[QStringLiteral("visit")].toObject()[QStringLiteral("technician")].toString(),
              QStringLiteral("Mira Okafor"));
    const QJsonArray cells = o[QStringLiteral("cells")].toArray();
    ASSERT_EQ(cells.size(), 160);
    EXPECT_EQ(cells[54].toObject()[QStringLiteral("band")].toString(), QStringLiteral("alarm"));
    EXPECT_EQ(cells[54].toObject()[QStringLiteral("mark")].toString(), QStringLiteral("▼▼"));
    EXPECT_TRUE(cells[40].toObject()[QStringLiteral("mv")].isNull());
    EXPECT_EQ(o[QStringLiteral("batteries")].toArray().size(), 10);
    EXPECT_EQ(o[QStringLiteral("firmware")].toArray()[2].toObject()[QStringLiteral("outcome")].toString(),
              QStringLiteral("failed"));
    EXPECT_EQ(o[QStringLiteral("calibrations")].toArray().size(), 5);
    EXPECT_EQ(o[QStringLiteral("calibrations")]
                  .toArray()[0]
                  .toObject()[QStringLiteral("after")]
                  .toObject()[QStringLiteral("vGain")]
                  .toInt(),
              32117);
    EXPECT_DOUBLE_EQ(o[QStringLiteral("voltageDistribution")].toObject()[QStringLiteral("minMv")].toDouble(),
                     2690);
    EXPECT_EQ(o[QStringLiteral("previousVisit")].toObject()[QStringLiteral("batteries")].toArray().size(),
              10);
}

TEST(ReportPdf, TextNamesEverySerialTheFirmwareAndTheCalibration) {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    const servicelog::VisitRecord visit = test::sampleReportVisit();
    const ReportContent c = buildReport(visit, test::samplePreviousVisit());
    const PdfResult r = writeReportPdf(c, pdf);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_GE(r.pages, 1);
    EXPECT_LE(r.pages, kMaxPages);
    EXPECT_FALSE(r.shortened);
    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    const auto pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    ASSERT_TRUE(pages.hasMatch()) << info.toStdString();
    EXPECT_EQ(pages.captured(1).toInt(), r.pages);
    EXPECT_TRUE(info.contains(QStringLiteral("A4"))) << info.toStdString();

    const QString text =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (const QString keep = qEnvironmentVariable("ZANST_KEEP_REPORT"); !keep.isEmpty()) {
        QFile::remove(keep);
        QFile::copy(pdf, keep);
    }
    for (const servicelog::BalancerRecord& b : visit.balancers) {
        EXPECT_TRUE(text.contains(b.serial)) << "serial " << b.serial.toStdString();
    }
    const char* expected[] = {
        "Service report",
        "Harbour depot, hall 3",
        "Mira Okafor",
        "FT232R USB UART (FTDI)",
        "v01.02",
        "v01.04",
        "FAILED",
        "balancer_v1.04.hex", // firmware before, after
        "32003 / 16003 / 3",
        "32117 / 16003 / 3",
        "3.301 V",
        "25.5 A",      // calibration
        "HQ2200A0C81", // parameters
        "2830",
        "366d 0h 1m 1s",     // lifetime
        "49710d 6h 28m 15s", // a counter at its maximum: set smaller, never cut
        "▼▼ 2.690",
        "▲ 3.668",
        "Recording_12.txt",
        "lost connection",
        "Battery 4 cell 7 runs low",
        "Compared with the previous visit",
    };
    for (const char* part : expected) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << "missing: " << part;
    }
}

TEST(ReportPdf, AnEmptyVisitAndAnUnwritablePath) {
    servicelog::VisitRecord bare;
    bare.id = QStringLiteral("empty");
    bare.startedAt = test::sampleTime();
    const ReportContent c = buildReport(bare);
    QTemporaryDir dir;
    const PdfResult r = writeReportPdf(c, dir.filePath(QStringLiteral("bare.pdf")));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.pages, 1);
    const QString text =
        run(QStringLiteral("pdftotext"), {dir.filePath(QStringLiteral("bare.pdf")), QStringLiteral("-")});
    EXPECT_TRUE(text.contains(QStringLiteral("No snapshot of the bank was taken")));

    const PdfResult bad = writeReportPdf(c, dir.filePath(QStringLiteral("missing/folder/r.pdf")));
    EXPECT_FALSE(bad.ok);
    EXPECT_TRUE(bad.error.contains(QStringLiteral("Cannot write the report"))) << bad.error.toStdString();
}

} // namespace
} // namespace zanst::report

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
