// zanst-cli visits and report against a service log this test fills through the log's own
// writer: on SQLite, and (built a second time with ZANST_TEST_POSTGRES) on the throw-away
// PostgreSQL server of tests/support/with-postgres.sh. The PDF is read back with pdftotext.

#include "cli_process.hpp"
#include "report_sample.hpp"
#include "sample_bank.hpp"
#include "servicelog/service_log.hpp"
#include "support/sim_process.hpp"
#include "test_database.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <gtest/gtest.h>

#include <regex>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using servicelog::ServiceLog;
using servicelog::VisitRecord;

// A visit as the window leaves it: begun, its snapshots and actions, its notes, its end.
void writeVisit(ServiceLog& log, const VisitRecord& v) {
    servicelog::VisitStart start{v.id, v.startedAt, v.site, v.technician, v.adapter, v.port, v.toolVersion};
    ASSERT_TRUE(log.beginVisit(start)) << log.lastError().message.toStdString();
    for (const servicelog::SnapshotRecord& s : v.snapshots) {
        ASSERT_GT(log.recordSnapshot(v.id, s), 0) << log.lastError().message.toStdString();
    }
    for (const servicelog::ActionRecord& a : v.actions) {
        ASSERT_GT(log.recordAction(v.id, a), 0) << log.lastError().message.toStdString();
    }
    if (!v.notes.isEmpty()) {
        ASSERT_TRUE(log.setVisitNotes(v.id, v.notes));
    }
    if (v.endedAt.isValid()) {
        ASSERT_TRUE(log.endVisit(v.id, v.endedAt, v.endReason));
    }
}

// The location as zanst-cli takes it on its command line.
std::string urlOf(const servicelog::Location& loc) {
    if (loc.backend == servicelog::Backend::Sqlite) {
        return "sqlite://" + loc.path.toStdString();
    }
    std::string url = "postgresql://" + loc.user.toStdString() + "@/" + loc.database.toStdString() +
                      "?host=" + QString::fromUtf8(QUrl::toPercentEncoding(loc.host)).toStdString();
    if (loc.port > 0) {
        url += "&port=" + std::to_string(loc.port);
    }
    return url;
}

class CliServiceLogE2E : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(db.ok()) << db.error().toStdString();
        ServiceLog log;
        ASSERT_TRUE(log.open(db.location())) << log.lastError().message.toStdString();
        writeVisit(log, samplePreviousVisit());
        writeVisit(log, sampleReportVisit());
        // A third, still open visit elsewhere, of other batteries.
        VisitRecord other;
        other.id = QStringLiteral("0b6f9999-0000-4000-8000-000000000003");
        other.startedAt = sampleTime(40);
        other.site = QStringLiteral("Quarry pumps");
        other.snapshots.push_back(
            sampleSnapshot(sampleBank(1, 4, 50), servicelog::SnapshotKind::Start, sampleTime(40, 10)));
        writeVisit(log, other);
        env["ZANST_SERVICE_DB"] = urlOf(db.location());
    }
    CliResult cli(std::vector<std::string> args) { return runCli(std::move(args), env, 60s); }

    TestDatabase db;
    TempDir dir;
    std::map<std::string, std::string> env{{"XDG_DATA_HOME", dir / "data"}, {"APPDATA", ""}};
};

std::string both(const CliResult& r) {
    return "stdout:\n" + r.out + "stderr:\n" + r.err;
}

const std::string kReportId = "0b6f1c52-93a4-4f8e-9a57-3c2d1e0f4a11";
const std::string kPreviousId = "5d2a7e10-1111-4c3b-8e0a-99aa00bb11cc";

TEST_F(CliServiceLogE2E, VisitsListsTheLogNewestFirst) {
    const CliResult table = cli({"visits"});
    ASSERT_EQ(table.code, 0) << both(table);
    const auto rows = linesOf(table.out);
    ASSERT_EQ(rows.size(), 4U) << table.out;
    EXPECT_EQ(rows[0].rfind("id  ", 0), 0U) << rows[0];
    EXPECT_TRUE(std::regex_search(rows[1], std::regex("^0b6f9999-0000-4000-8000-000000000003  2025-04-16 "
                                                      "14:05Z  open +Quarry pumps +- +4  ZB000000050$")))
        << rows[1];
    EXPECT_TRUE(
        std::regex_search(rows[2], std::regex(kReportId + "  2025-04-06 14:05Z  2025-04-06 15:35Z  Harbour "
                                                          "depot, hall 3  Mira Okafor +160  ZB000000001,")))
        << rows[2];
    EXPECT_EQ(rows[3].rfind(kPreviousId, 0), 0U) << rows[3];

    // The service log named on the command line wins over ZANST_SERVICE_DB.
    std::map<std::string, std::string> wrong = env;
    wrong["ZANST_SERVICE_DB"] = "sqlite://" + dir / "nothing-here.sqlite";
    const CliResult json = runCli(
        {"visits", "--json", "--serial", "ZB000000004", "--service-db", urlOf(db.location())}, wrong, 60s);
    ASSERT_EQ(json.code, 0) << both(json);
    const QJsonArray visits =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object()["visits"].toArray();
    ASSERT_EQ(visits.size(), 2) << json.out;
    EXPECT_EQ(visits[0]["id"].toString().toStdString(), kReportId);
    EXPECT_EQ(visits[0]["started_at"].toString(), "2025-04-06T14:05:09.000Z");
    EXPECT_EQ(visits[0]["balancers"].toInt(), 160);
    EXPECT_EQ(visits[0]["serials"].toArray().size(), 10);
    EXPECT_EQ(visits[1]["id"].toString().toStdString(), kPreviousId);
    EXPECT_EQ(visits[1]["technician"].toString(), "J. Berg");

    const CliResult limited = cli({"visits", "--site", "harbour", "--limit", "1"});
    ASSERT_EQ(limited.code, 0) << both(limited);
    ASSERT_EQ(linesOf(limited.out).size(), 2U) << limited.out;
    EXPECT_EQ(linesOf(limited.out)[1].rfind(kReportId, 0), 0U);
    const CliResult missing = runCli({"visits"}, wrong, 60s);
    EXPECT_EQ(missing.code, 1) << both(missing);
    EXPECT_EQ(missing.err, "zanst-cli: visits: there is no service log at " + dir / "nothing-here.sqlite" +
                               " (the tool makes it at the first visit; --service-db names another)\n");
}

TEST_F(CliServiceLogE2E, ReportWritesThePdfAndTheJsonOfAVisit) {
    const std::string pdf = dir / "report.pdf";
    const std::string json = dir / "report.json";
    // The first characters of the id are enough when they name one visit.
    const CliResult r = cli({"report", "0B6F1C", "--pdf", pdf, "--json", json});
    ASSERT_EQ(r.code, 0) << both(r);
    EXPECT_NE(r.out.find("Report of visit " + kReportId + " written to " + pdf + " ("), std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "");

    std::string info;
    ASSERT_EQ(runShell("pdfinfo '" + pdf + "'", info), 0) << info;
    std::smatch pages;
    ASSERT_TRUE(std::regex_search(info, pages, std::regex(R"(Pages:\s+(\d+))"))) << info;
    EXPECT_GE(std::stoi(pages[1]), 1);
    EXPECT_LE(std::stoi(pages[1]), 3);
    EXPECT_NE(info.find("A4"), std::string::npos) << info;
    std::string text;
    ASSERT_EQ(runShell("pdftotext -layout '" + pdf + "' -", text), 0) << text;
    for (int battery = 1; battery <= 10; ++battery) {
        EXPECT_NE(text.find(sampleSerial(battery)), std::string::npos) << battery;
    }
    for (const char* s : {"Service report", "Harbour depot, hall 3", "Mira Okafor", "FT232R USB UART (FTDI)",
                          "v01.02", "v01.04", "FAILED", "\u25B2 3.668", "Battery 4 cell 7 runs low",
                          "Compared with the previous visit"}) {
        EXPECT_NE(text.find(s), std::string::npos) << s << "\n" << text;
    }

    const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(readFile(json))).object();
    ASSERT_FALSE(report.isEmpty()) << readFile(json);
    EXPECT_NE(readFile(json).find(kReportId), std::string::npos);
    EXPECT_NE(readFile(json).find(kPreviousId), std::string::npos) << "the previous visit is compared";
    EXPECT_NE(readFile(json).find("Mira Okafor"), std::string::npos);
}

TEST_F(CliServiceLogE2E, ReportRefusesWhatItCannotDoWithOneLine) {
    struct Case {
        std::vector<std::string> args;
        std::string writer; // ZANST_REPORT_PDF_LIBRARY; empty: found beside the program
        int code;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"report", "0b6f", "--json", dir / "a.json"}, "", 2, "zanst-cli: report: \"0b6f\" names 2 visits ("},
        {{"report", "ffff", "--json", dir / "a.json"},
         "",
         2,
         "zanst-cli: report: no visit \"ffff\" in the service log"},
        {{"report", kReportId, "--pdf", dir / "a.pdf"},
         dir / "none.so",
         1,
         "zanst-cli: report: report --pdf needs the PDF writer libzanst_report_pdf.so, which is not "
         "installed"},
        {{"report", kReportId, "--json", dir / "gone/a.json"}, "", 1, "zanst-cli: report: cannot write"},
        {{"report", kReportId}, "", 2, "zanst-cli report: --pdf FILE or --json FILE is needed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + c.err);
        std::map<std::string, std::string> e = env;
        e["ZANST_REPORT_PDF_LIBRARY"] = c.writer;
        const CliResult r = runCli(c.args, e, 60s);
        EXPECT_EQ(r.code, c.code) << both(r);
        EXPECT_EQ(r.err.rfind(c.err, 0), 0U) << r.err;
        EXPECT_EQ(linesOf(r.err).size(), 1U) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    // Without the PDF writer the JSON is still there for the asking.
    std::map<std::string, std::string> noWriter = env;
    noWriter["ZANST_REPORT_PDF_LIBRARY"] = dir / "none.so";
    const CliResult json = runCli({"report", kReportId, "--json", dir / "b.json"}, noWriter, 60s);
    EXPECT_EQ(json.code, 0) << both(json);
    EXPECT_NE(readFile(dir / "b.json").find("Harbour depot"), std::string::npos);
}

} // namespace
} // namespace zanst::test
