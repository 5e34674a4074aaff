// The parts of zanst-cli's runners that need no bus: what sniff prints as the traffic changes, the
// updater's progress lines, the verdict over the versions read back after an update, the firmware
// file read as the window reads it, the visits as listed, and where the PDF writer is looked for.

#include "cli/flash_steps.hpp"
#include "cli/pdf_writer.hpp"
#include "cli/rows_format.hpp"
#include "cli/service_log_access.hpp"
#include "cli/sniff_view.hpp"
#include "support/hex_text.hpp"
#include "support/sim_process.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace zanst::cli {
namespace {

using bank::BalancerReading;
using bank::BankSnapshot;
using sniffer::BmsField;

BalancerReading cell(int id, std::optional<int> mv, std::string serial, int battery = 0) {
    BalancerReading r;
    r.id = id;
    r.cellId = mv ? id : 0;
    r.millivolts = mv;
    r.tenthsCelsius = 215;
    r.serial = std::move(serial);
    r.battery = battery;
    r.productId = 0xA602;
    r.fwVersion = 0x000104FF;
    r.blVersion = 0x000201FF;
    return r;
}

TEST(CliSniffView, PrintsOnlyWhatChanged) {
    SniffView view;
    struct Step {
        const char* what;
        std::vector<sniffer::BmsFieldText> fields;
        std::optional<BankSnapshot> rows;
        std::vector<std::string> lines;
    };
    BankSnapshot enumerated{{cell(1, std::nullopt, "SIMA602B001"), cell(2, std::nullopt, "SIMA602B001")}};
    BankSnapshot measured{{cell(1, 3301, "SIMA602B001"), cell(2, 3312, "SIMA602B001")}};
    BankSnapshot secondMoved = measured;
    secondMoved.balancers[1].millivolts = 3313;
    BankSnapshot grown = secondMoved;
    grown.balancers.push_back(cell(3, 3300, "SIMA602B002", 1));
    const std::vector<Step> steps = {
        {"the first burst: the count, then every row",
         {{BmsField::Pid, "B75C"}, {BmsField::Serial, "ZBMS2400001"}},
         enumerated,
         {"BMS PID: B75C", "BMS Serial: ZBMS2400001", "2 balancers",
          "cell 1: battery 1, SIMA602B001, -, -, -, firmware v01.04, boot loader v02.01, product A602",
          "cell 2: battery 1, SIMA602B001, -, -, -, firmware v01.04, boot loader v02.01, product A602"}},
        {"the same again: nothing",
         {{BmsField::Pid, "B75C"}, {BmsField::Serial, "ZBMS2400001"}},
         enumerated,
         {}},
        {"measured: both rows, the new fields with their units",
         {{BmsField::BalancerSetpoint, "3400"},
          {BmsField::SystemVbat, "13.2"},
          {BmsField::BmsCurrent, "-0.1"},
          {BmsField::Status, "1234"}},
         measured,
         {"Balancer Setpoint: 3400 mV", "System Vbat: 13.2 V", "BMS Current: -0.1 A", "BMS Status: 1234",
          "cell 1: battery 1, SIMA602B001, 3.301 V, -, 21.5 degC, firmware v01.04, boot loader v02.01, "
          "product A602",
          "cell 2: battery 1, SIMA602B001, 3.312 V, -, 21.5 degC, firmware v01.04, boot loader v02.01, "
          "product A602"}},
        {"one cell moved, one field changed",
         {{BmsField::BalancerSetpoint, "3400"}, {BmsField::SystemVbat, "13.3"}},
         secondMoved,
         {"System Vbat: 13.3 V", "cell 2: battery 1, SIMA602B001, 3.313 V, -, 21.5 degC, firmware v01.04, "
                                 "boot loader v02.01, product A602"}},
        {"a balancer more: the count and every row again",
         {},
         grown,
         {"3 balancers",
          "cell 1: battery 1, SIMA602B001, 3.301 V, -, 21.5 degC, firmware v01.04, boot loader v02.01, "
          "product A602",
          "cell 2: battery 1, SIMA602B001, 3.313 V, -, 21.5 degC, firmware v01.04, boot loader v02.01, "
          "product A602",
          "cell 3: battery 2, SIMA602B002, 3.300 V, -, 21.5 degC, firmware v01.04, boot loader v02.01, "
          "product A602"}},
        {"the bank gone", {}, BankSnapshot{}, {"0 balancers"}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        std::vector<std::string> lines = view.fields(s.fields);
        if (s.rows) {
            const auto rows = view.rows(*s.rows);
            lines.insert(lines.end(), rows.begin(), rows.end());
        }
        EXPECT_EQ(lines, s.lines);
    }
}

TEST(CliFlashSteps, ProgressLinesOfTheUpdater) {
    const std::vector<std::pair<std::string, std::optional<int>>> cases = {
        {"Start Update...0%", 0},
        {"Start Update...66%", 66},
        {"Start Update...100%", 100},
        {"Start Update...", {}},
        {"Start Update...%", {}},
        {"Start Update...101%", {}},
        {"Start Update...-4%", {}},
        {"Start Update...4x%", {}},
        {"Start Update... 4%", {}},
        {"Update Ready", {}},
        {"66%", {}},
    };
    for (const auto& [line, percent] : cases) {
        EXPECT_EQ(progressPercent(line), percent) << line;
    }
}

TEST(CliFlashSteps, VerdictOverTheVersionsReadBack) {
    constexpr std::uint32_t kOld = 0x000104FF;
    constexpr std::uint32_t kNew = 0x000203FF;
    const BankSnapshot before{{cell(1, 3300, "B1"), cell(2, 3300, "B1"), cell(3, 3300, "B2", 1)}};
    const auto after = [&](std::vector<std::pair<std::uint32_t, std::uint8_t>> versions) {
        BankSnapshot s;
        for (std::size_t i = 0; i < versions.size(); ++i) {
            BalancerReading r = before.balancers[i];
            r.fwVersion = versions[i].first;
            r.bootMode = versions[i].second;
            s.balancers.push_back(r);
        }
        return s;
    };
    struct Case {
        const char* name;
        BankSnapshot after;
        bool passed;
        bool complete;
        std::vector<std::string> lines;
    };
    BankSnapshot swapped = after({{kNew, 0}, {kNew, 0}, {kNew, 0}});
    swapped.balancers[2].serial = "B9"; // another battery in its place
    const std::vector<Case> cases = {
        {"every balancer updated",
         after({{kNew, 0}, {kNew, 0}, {kNew, 0}}),
         true,
         true,
         {"balancer 1 B1: v01.04 -> v02.03, updated", "balancer 2 B1: v01.04 -> v02.03, updated",
          "balancer 3 B2: v01.04 -> v02.03, updated", "3 of 3 balancers run v02.03"}},
        {"one left in its boot loader with the old version",
         after({{kNew, 0}, {kOld, 1}, {kNew, 0}}),
         false,
         true,
         {"balancer 1 B1: v01.04 -> v02.03, updated",
          "balancer 2 B1: v01.04 -> v01.04, still in its boot loader, FAILED",
          "balancer 3 B2: v01.04 -> v02.03, updated", "2 of 3 balancers run v02.03"}},
        {"the new version, but still in the boot loader",
         after({{kNew, 1}, {kNew, 0}, {kNew, 0}}),
         false,
         true,
         {"balancer 1 B1: v01.04 -> v02.03, still in its boot loader, FAILED",
          "balancer 2 B1: v01.04 -> v02.03, updated", "balancer 3 B2: v01.04 -> v02.03, updated",
          "2 of 3 balancers run v02.03"}},
        {"another version",
         after({{kNew, 0}, {kNew, 0}, {0x000300FF, 0}}),
         false,
         true,
         {"balancer 1 B1: v01.04 -> v02.03, updated", "balancer 2 B1: v01.04 -> v02.03, updated",
          "balancer 3 B2: v01.04 -> v03.00, FAILED", "2 of 3 balancers run v02.03"}},
        {"one balancer not back",
         after({{kNew, 0}, {kNew, 0}}),
         false,
         false,
         {"balancer 1 B1: v01.04 -> v02.03, updated", "balancer 2 B1: v01.04 -> v02.03, updated",
          "balancer 3 B2: v01.04 -> not seen after the update, FAILED", "2 of 3 balancers run v02.03"}},
        {"another battery in the last place",
         swapped,
         false,
         false,
         {"balancer 1 B1: v01.04 -> v02.03, updated", "balancer 2 B1: v01.04 -> v02.03, updated",
          "balancer 3 B2: v01.04 -> not seen after the update, FAILED", "2 of 3 balancers run v02.03"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FlashVerdict v = judgeVersions(before, c.after, kNew);
        EXPECT_EQ(v.passed(), c.passed);
        EXPECT_EQ(v.complete, c.complete);
        EXPECT_EQ(verdictLines(v, kNew), c.lines);
    }
    EXPECT_FALSE(judgeVersions(BankSnapshot{}, BankSnapshot{}, kNew).passed()) << "no balancer is no success";
}

TEST(CliFlashSteps, TheFirmwareFileIsReadAsTheWindowReadsIt) {
    test::TempDir dir;
    std::ofstream(dir / "good.hex") << test::hexFile(0x7000, test::imageBytes(4096, 0x000203FF));
    std::ofstream(dir / "upper.HEX") << test::hexFile(0x7000, test::imageBytes(4096, 0x000203FF));
    std::ofstream(dir / "bad.hex") << ":10700000ZZ\n";
    std::filesystem::create_directory(dir / "folder.hex");
    {
        std::ofstream big(dir / "big.hex");
        big.seekp(static_cast<std::streamoff>(kMaxFirmwareFileBytes));
        big.put(':');
    }
    struct Case {
        std::string path;
        bool valid;
        std::string reason; // the line before "Invalid update file"; empty: none expected
    };
    const std::vector<Case> cases = {
        {dir / "good.hex", true, ""},
        {dir / "upper.HEX", false, ""},
        {dir / "bad.hex", false, ""},
        {dir / "missing.hex", false, "Cannot read the file: No such file or directory"},
        {dir / "folder.hex", false, "Cannot read the file: it is a folder"},
        {dir / "big.hex", false, "File too large: " + std::to_string(kMaxFirmwareFileBytes + 1) + " bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const service::HexReadResult r = readFirmwareFile(c.path);
        EXPECT_EQ(r.image.has_value(), c.valid);
        ASSERT_FALSE(r.log.empty());
        if (c.valid) {
            EXPECT_EQ(r.image->version(), 0x000203FFu);
            EXPECT_EQ(r.image->imageLength(), 4096u);
            continue;
        }
        EXPECT_EQ(r.log.back(), service::kInvalidUpdateFile);
        if (!c.reason.empty()) {
            ASSERT_GE(r.log.size(), 2u);
            EXPECT_EQ(r.log[r.log.size() - 2], c.reason);
            EXPECT_EQ(r.log[2], "File:" + c.path);
        }
    }
}

servicelog::VisitSummary summary(const char* id, int day, bool ended, const char* site, QStringList serials) {
    servicelog::VisitSummary v;
    v.id = QString::fromLatin1(id);
    v.startedAt = QDateTime(QDate(2025, 3, day), QTime(9, 5, 30), Qt::UTC);
    if (ended) {
        v.endedAt = v.startedAt.addSecs(3600);
    }
    v.site = QString::fromLatin1(site);
    v.balancers = static_cast<int>(serials.size()) * 4;
    v.serials = std::move(serials);
    return v;
}

TEST(CliVisits, TableAndJson) {
    EXPECT_EQ(visitsTable({}), "No visits\n");
    EXPECT_EQ(visitsJson({}), "{\"visits\":[]}\n");
    const std::vector<servicelog::VisitSummary> visits = {
        summary("bbbb", 12, false, "", {"SIMA602B001"}),
        summary("aaaaaaaa", 7, true, "Harbour depot", {"ZB1", "ZB2", "ZB3"}),
    };
    EXPECT_EQ(
        visitsTable(visits),
        "id        started            ended              site           technician  balancers  batteries\n"
        "bbbb      2025-03-12 09:05Z  open               -              -                   4  SIMA602B001\n"
        "aaaaaaaa  2025-03-07 09:05Z  2025-03-07 10:05Z  Harbour depot  -                  12  "
        "ZB1,ZB2,ZB3\n");
    const QJsonArray rows =
        QJsonDocument::fromJson(QByteArray::fromStdString(visitsJson(visits))).object()["visits"].toArray();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]["id"].toString(), "bbbb");
    EXPECT_EQ(rows[0]["started_at"].toString(), "2025-03-12T09:05:30.000Z");
    EXPECT_TRUE(rows[0]["ended_at"].isNull());
    EXPECT_EQ(rows[1]["ended_at"].toString(), "2025-03-07T10:05:30.000Z");
    EXPECT_EQ(rows[1]["serials"].toArray().size(), 3);
    EXPECT_EQ(rows[1]["balancers"].toInt(), 12);
}

TEST(CliPdfWriter, LookedForByItsVariableBesideTheProgramAndInThePackage) {
    unsetenv(kPdfWriterVariable);
    const auto places = PdfWriter::candidates("/opt/zanst/bin/zanst-cli");
    ASSERT_EQ(places.size(), 2u);
    EXPECT_EQ(places[0], "/opt/zanst/bin/libzanst_report_pdf.so");
    EXPECT_EQ(places[1].rfind("/opt/zanst/lib/", 0), 0u) << places[1];
    EXPECT_TRUE(places[1].ends_with("/zanst/libzanst_report_pdf.so")) << places[1];

    test::TempDir dir;
    std::string error;
    EXPECT_FALSE(PdfWriter::load(dir / "zanst-cli", "1.0.0", error));
    EXPECT_EQ(
        error.rfind(
            "report --pdf needs the PDF writer libzanst_report_pdf.so, which is not installed (looked for " +
                dir / "libzanst_report_pdf.so, ",
            0),
        0u)
        << error;
    EXPECT_TRUE(error.ends_with("/zanst/libzanst_report_pdf.so); --json works without it")) << error;

    // The variable alone decides; a file that is no library is refused with the loader's words.
    std::ofstream(dir / "fake.so") << "not a library";
    setenv(kPdfWriterVariable, (dir / "fake.so").c_str(), 1);
    EXPECT_EQ(PdfWriter::candidates("/opt/zanst/bin/zanst-cli"), std::vector<std::string>{dir / "fake.so"});
    EXPECT_FALSE(PdfWriter::load("/opt/zanst/bin/zanst-cli", "1.0.0", error));
    EXPECT_EQ(error.rfind("the PDF writer " + dir / "fake.so" + " cannot be loaded: ", 0), 0u) << error;
    unsetenv(kPdfWriterVariable);
}

} // namespace
} // namespace zanst::cli
