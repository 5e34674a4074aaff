// zanst-cli end to end against zanst-sim, as a user runs it: scan in its three formats, watch, the
// metrics fetch, the end-of-line check with its JUnit file, the sniffer inside a ring (its capture
// exported and read back by tshark with the dissector), and the exit codes.

#include "cli_process.hpp"
#include "metrics/files.hpp"
#include "support/pty.hpp"
#include "support/sim_process.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kSimReady{15000};

class CliBusE2E : public testing::Test {
  protected:
    // zanst-sim playing `args` on a link in the test's folder, once it is ready.
    std::unique_ptr<SimProcess> start(std::vector<std::string> args) {
        args.push_back("--link");
        args.push_back(link);
        auto sim = std::make_unique<SimProcess>(ZANST_SIM_PATH, args);
        EXPECT_TRUE(sim->waitForLine(" ready ", kSimReady)) << sim->transcript();
        return sim;
    }
    CliResult cli(std::vector<std::string> args, std::chrono::milliseconds timeout = 60s) {
        return runCli(std::move(args), env, timeout);
    }

    TempDir dir;
    const std::string link = dir / "port";
    // Metrics files and the service log go to the test's folder, never to the user's.
    std::map<std::string, std::string> env{
        {"XDG_DATA_HOME", dir / "data"}, {"APPDATA", ""}, {"ZANST_SERVICE_DB", ""}};
};

std::string both(const CliResult& r) {
    return "stdout:\n" + r.out + "stderr:\n" + r.err;
}

TEST_F(CliBusE2E, ScanPrintsEveryBalancerOfATwoBatteryBankInEachFormat) {
    auto sim = start({"bank", "--batteries", "2", "--no-noise"});

    const CliResult table = cli({"scan", "--port", link});
    ASSERT_EQ(table.code, 0) << both(table);
    const auto rows = linesOf(table.out);
    ASSERT_EQ(rows.size(), 9U) << table.out;
    EXPECT_EQ(rows[0], "id  battery  serial       voltage [V]  current [A]  temperature [degC]  firmware  "
                       "boot loader  product id");
    const std::regex row(R"( *(\d) +(\d)  (SIMA602B00\d) +(3\.\d{3}) +(-|[LH]: -?\d+\.\d{3}) +(\d+\.\d) +)"
                         R"(v01\.04 +v02\.01 +A602)");
    for (int i = 1; i <= 8; ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(rows[static_cast<std::size_t>(i)], m, row))
            << rows[static_cast<std::size_t>(i)];
        EXPECT_EQ(m[1], std::to_string(i));
        EXPECT_EQ(m[2], i <= 4 ? "1" : "2");
        EXPECT_EQ(m[3], i <= 4 ? "SIMA602B001" : "SIMA602B002");
        // Sensors on the first and third cell of every four: low range, then high range.
        const char* current = (i % 4 == 1) ? "L: " : (i % 4 == 3) ? "H: " : "-";
        EXPECT_EQ(std::string(m[5]).substr(0, std::string(current).size()), current)
            << rows[static_cast<std::size_t>(i)];
    }

    const CliResult json = cli({"scan", "--json", "--port", link});
    ASSERT_EQ(json.code, 0) << both(json);
    ASSERT_EQ(linesOf(json.out).size(), 1U);
    const QJsonArray balancers =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object()["balancers"].toArray();
    ASSERT_EQ(balancers.size(), 8);
    for (int i = 0; i < 8; ++i) {
        const QJsonObject b = balancers[i].toObject();
        EXPECT_EQ(b["id"].toInt(), i + 1);
        EXPECT_EQ(b["battery"].toInt(), i < 4 ? 1 : 2);
        EXPECT_GE(b["voltage_mv"].toInt(), 3200);
        EXPECT_LE(b["voltage_mv"].toInt(), 3500);
        EXPECT_EQ(b["firmware"].toString(), "v01.04");
        EXPECT_EQ(b["crc_errors"].toInt(), 0);
    }

    const CliResult csv = cli({"scan", "--csv", "--port", link});
    ASSERT_EQ(csv.code, 0) << both(csv);
    const auto lines = linesOf(csv.out);
    ASSERT_EQ(lines.size(), 9U) << csv.out;
    EXPECT_EQ(lines[0], "id,battery,serial,voltage [V],current [A],current range,temperature [degC],firmware,"
                        "boot loader,product id\r");
    EXPECT_TRUE(std::regex_match(lines[8],
                                 std::regex(R"(8,2,SIMA602B002,3\.\d{3},,,\d+\.\d,v01\.04,v02\.01,A602\r)")))
        << lines[8];
}

TEST_F(CliBusE2E, WatchPrintsALineATickForThreeSeconds) {
    auto sim = start({"bank", "--batteries", "2"});
    const CliResult r = cli({"watch", "--port", link, "--seconds", "3"});
    ASSERT_EQ(r.code, 0) << both(r);
    const auto lines = linesOf(r.out);
    // The first tick enumerates, the second polls, the third shows the measurements.
    ASSERT_EQ(lines.size(), 3U) << r.out;
    EXPECT_NE(lines[0].find(" 0 balancers, none measured"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" 8 balancers, none measured"), std::string::npos) << lines[1];
    EXPECT_TRUE(std::regex_search(
        lines[2], std::regex(R"(8 balancers, 8 measured, 3\.\d{3} V \(cell \d\) to 3\.\d{3} V)"
                             R"( \(cell 3\), spread \d+ mV, hottest .* bank 13\.\d{3} V)")))
        << lines[2];

    const CliResult json = cli({"watch", "--port", link, "--seconds", "2", "--interval", "250", "--json"});
    ASSERT_EQ(json.code, 0) << both(json);
    const auto objects = linesOf(json.out);
    // One tick at the battery tester's second, then eight a second (two seconds hold eight).
    EXPECT_GE(objects.size(), 6U) << json.out;
    EXPECT_LE(objects.size(), 9U) << json.out;
    for (const std::string& line : objects) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        EXPECT_TRUE(o.contains("time") && o.contains("bank") && o["balancers"].isArray()) << line;
    }
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(objects.back()))
                  .object()["balancers"]
                  .toArray()
                  .size(),
              8);
}

TEST_F(CliBusE2E, MetricsAreStoredInTheMetricsTabsFileFormat) {
    auto sim = start({"bank", "--batteries", "4", "--no-noise"});
    const std::string out = dir / "metrics";
    const CliResult r = cli({"metrics", "--port", link, "--out", out});
    ASSERT_EQ(r.code, 0) << both(r);
    EXPECT_NE(r.out.find("Metrics fetch done: 4 of 4 instances stored"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Fetching instance 4"), std::string::npos) << r.err;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(out)) {
        files.push_back(e.path());
    }
    ASSERT_EQ(files.size(), 1U);
    EXPECT_NE(r.out.find("Metrics file: " + files[0].string()), std::string::npos) << r.out;
    EXPECT_EQ(readFile(files[0]).rfind("Number of instances: 4\n", 0), 0U);
    // Each block holds what the simulated battery sent, read back by the Metrics tab's reader.
    for (int instance = 1; instance <= 4; ++instance) {
        SCOPED_TRACE(instance);
        const metrics::MetricsFileRead read = metrics::readMetricsInstance(files[0], instance);
        ASSERT_TRUE(read.view) << read.reason;
        EXPECT_EQ(read.instanceInFile, static_cast<std::uint32_t>(instance));
        const auto line = sim->linesWith("metrics instance " + std::to_string(instance) + " answered:");
        ASSERT_EQ(line.size(), 1U) << sim->transcript();
        EXPECT_NE(line[0].find("secsLifeSpan=" + read.view->fields[0] + " "), std::string::npos) << line[0];
        EXPECT_NE(line[0].find("cyclesBeforeEOL=" + read.view->fields[1]), std::string::npos) << line[0];
    }
}

// xmllint --schema on a file; its words in `output`.
int validateJunit(const std::string& path, std::string& output) {
    return runShell(std::string("xmllint --noout --schema ") + ZANST_JUNIT_XSD + " '" + path + "'", output);
}

TEST_F(CliBusE2E, CheckPassesAndFailsALimitWithAJunitFileTheSchemaTakes) {
    auto sim = start({"bank", "--batteries", "2", "--no-noise"});
    const std::string passed = dir / "passed.xml";
    const CliResult pass =
        cli({"check", "--port", link, "--cells", "8", "--min-mv", "3000", "--max-mv", "3600", "--max-temp",
             "45", "--max-crc-errors", "0", "--seconds", "2", "--junit", passed});
    ASSERT_EQ(pass.code, 0) << both(pass);
    EXPECT_NE(pass.out.find("5 of 5 passed"), std::string::npos) << pass.out;
    std::string output;
    EXPECT_EQ(validateJunit(passed, output), 0) << output;
    const std::string passXml = readFile(passed);
    EXPECT_NE(passXml.find("tests=\"5\" failures=\"0\""), std::string::npos) << passXml;
    EXPECT_EQ(passXml.find("<failure"), std::string::npos) << passXml;

    // Cell 3 of the first battery runs some 70 mV high: a 20 mV spread fails, and so does a
    // bank of nine.
    const std::string failed = dir / "failed.xml";
    const CliResult fail = cli({"check", "--port", link, "--cells", "9", "--max-spread-mv", "20", "--min-mv",
                                "3000", "--seconds", "1", "--junit", failed});
    ASSERT_EQ(fail.code, 1) << both(fail);
    EXPECT_NE(fail.out.find("FAIL balancer count: 8 balancers answered, 9 expected"), std::string::npos)
        << fail.out;
    EXPECT_TRUE(std::regex_search(
        fail.out,
        std::regex(R"(FAIL cell voltage spread: spread \d+ mV between cells \d and 3, above 20 mV)")))
        << fail.out;
    EXPECT_NE(fail.out.find("PASS minimum cell voltage"), std::string::npos) << fail.out;
    output.clear();
    EXPECT_EQ(validateJunit(failed, output), 0) << output;
    const std::string failXml = readFile(failed);
    EXPECT_NE(failXml.find("tests=\"3\" failures=\"2\""), std::string::npos) << failXml;
    EXPECT_NE(failXml.find("<failure message=\"8 balancers answered, 9 expected\" type=\"limit\">"),
              std::string::npos)
        << failXml;
}

TEST_F(CliBusE2E, SniffRepeatsEveryByteInARingAndItsCaptureReadsBackInTshark) {
    auto sim = start({"ring", "--batteries", "2"});
    const std::string capture = dir / "ring.zcap";
    const CliResult r = cli({"sniff", "--port", link, "--seconds", "6", "--capture", capture});
    ASSERT_EQ(r.code, 0) << both(r);
    ASSERT_EQ(sim->stop(), 0);
    // Every exchange came back whole and unchanged through the tool.
    const auto exchanges = sim->linesWith("ring ");
    int echoed = 0;
    for (const std::string& line : exchanges) {
        if (line.find(" #") == std::string::npos) {
            continue;
        }
        EXPECT_NE(line.find(" echo_ok"), std::string::npos) << line;
        ++echoed;
    }
    EXPECT_GE(echoed, 4) << sim->transcript();
    const auto summary = sim->linesWith("ring summary");
    ASSERT_EQ(summary.size(), 1U) << sim->transcript();
    EXPECT_NE(summary[0].find(" bytes_differing=0 bad_echoes=0"), std::string::npos) << summary[0];

    // What the sniffer decoded, printed as it changed.
    for (const char* text : {"  BMS PID: B75C\n", "  BMS Serial: ZBMS2400001\n", "  8 balancers\n",
                             "  cell 8: battery 2, SIMA602B002, 3."}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    }
    EXPECT_NE(r.err.find("capture written to " + capture), std::string::npos) << r.err;

    // The capture as Wireshark reads it: every frame the BMS sent, decoded by the dissector.
    const std::string pcapng = dir / "ring.pcapng";
    const CliResult exported = cli({"export", capture, "--pcapng", pcapng});
    ASSERT_EQ(exported.code, 0) << both(exported);
    if (std::string(ZANST_TSHARK).empty()) {
        GTEST_SKIP() << "tshark is not installed (scripts/install-deps.sh installs it)";
    }
    std::string fields;
    ASSERT_EQ(runShell(std::string(ZANST_TSHARK) + " -n -X lua_script:" + ZANST_DISSECTOR + " -r '" + pcapng +
                           "' -T fields -e zanst.direction -e zanst.cmd -e zanst.serial -e zanst.crc_ok",
                       fields),
              0)
        << fields;
    int infoFrames = 0;
    int measurementFrames = 0;
    int checked = 0;
    for (const std::string& line : linesOf(fields)) {
        if (line.find('\t') == std::string::npos) {
            continue; // tshark's own notes on standard error, such as running as root
        }
        // The last field is the CRC verdict (empty for a mode record); tshark prints it as 1 or True.
        const std::string crc = line.substr(line.rfind('\t') + 1);
        EXPECT_TRUE(crc.empty() || crc == "1" || crc == "True") << "a CRC failed: " << line;
        checked += crc.empty() ? 0 : 1;
        if (line.find("0x01\tZBMS2400001") != std::string::npos) {
            ++infoFrames;
        }
        if (line.find("\t0x02\t") != std::string::npos) {
            ++measurementFrames;
        }
    }
    EXPECT_GE(checked, 40) << fields;
    EXPECT_GE(infoFrames, 1) << fields;
    EXPECT_GE(measurementFrames, 3) << fields;
}

TEST_F(CliBusE2E, ExitCodesSayWhatHappened) {
    auto sim = start({"bank", "--no-noise"});
    Pty silent;          // a port nobody answers on
    silent.closeSlave(); // held by no one but zanst-cli, which refuses a port another process holds
    std::filesystem::create_directories(dir / "data");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err; // the last line on standard error; empty: nothing there
        std::size_t lines;
    };
    const std::vector<Case> cases = {
        {{"--version"}, 0, "", 0},
        {{"check", "--port", link, "--cells", "4", "--seconds", "1"}, 0, "", 0},
        {{"check", "--port", link, "--cells", "4", "--max-spread-mv", "5", "--seconds", "1"}, 1, "", 0},
        {{"report", "x", "--pdf", dir / "r.pdf"},
         1,
         "zanst-cli: report: report --pdf needs the PDF writer",
         1},
        {{"scan", "--port", link, "--xml"}, 2, "zanst-cli scan: unknown option --xml", 1},
        // The updater's own lines for the refused file come first, as the window logs them.
        {{"flash", dir / "missing.hex", "--port", link},
         2,
         "zanst-cli: flash: " + dir / "missing.hex" + " is no",
         6},
        {{"scan", "--port", dir / "no-such-port"},
         3,
         "zanst-cli: scan: cannot open " + dir / "no-such-port",
         1},
        {{"scan", "--port", silent.slavePath()}, 4, "zanst-cli: scan: no balancer answered on", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        std::map<std::string, std::string> withoutWriter = env;
        withoutWriter["ZANST_REPORT_PDF_LIBRARY"] = dir / "nowhere.so";
        const CliResult r = runCli(c.args, withoutWriter, 60s);
        EXPECT_EQ(r.code, c.code) << both(r);
        const auto lines = linesOf(r.err);
        EXPECT_EQ(lines.size(), c.lines) << r.err;
        if (!c.err.empty() && !lines.empty()) {
            EXPECT_EQ(lines.back().rfind(c.err, 0), 0U) << r.err;
        }
    }

    // Ctrl+C is how a watch ends: cleanly, with success.
    // Interrupted once the bank was measured: how soon that is depends on the machine's load.
    CliProcess watch({"watch", "--port", link}, env);
    EXPECT_TRUE(watch.waitForOutput(" mV", 20s));
    watch.signal(SIGINT);
    const CliResult watched = watch.wait(10s);
    EXPECT_EQ(watched.code, 0) << both(watched);
    EXPECT_GE(linesOf(watched.out).size(), 1U);
    EXPECT_EQ(watched.err, "");
}

} // namespace
} // namespace zanst::test
