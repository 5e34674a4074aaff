// What zanst-cli prints and writes: scan and watch rows in their three formats, the end-of-line
// check over a run of snapshots, its JUnit XML (validated against tests/data/junit.xsd), the
// progress display, and the runner table with export end to end.

#include "capture/capture_file.hpp"
#include "cli/check.hpp"
#include "cli/dispatch.hpp"
#include "cli/junit.hpp"
#include "cli/progress.hpp"
#include "cli/rows_format.hpp"
#include "support/records.hpp"
#include "support/sim_process.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace zanst::cli {
namespace {

using bank::BalancerReading;
using bank::BankSnapshot;

BalancerReading reading(int mv, int ma, int tenths, std::uint8_t infoFlags, int battery, std::string serial) {
    BalancerReading r;
    r.millivolts = mv;
    r.milliamps = ma;
    r.tenthsCelsius = tenths;
    r.infoFlags = infoFlags;
    r.battery = battery;
    r.serial = std::move(serial);
    r.productId = 0xA602;
    r.fwVersion = 0x000102FF;
    r.blVersion = 0x00020006;
    return r;
}

BankSnapshot sampleBank() {
    BankSnapshot s;
    s.balancers.push_back(reading(3301, 120, 255, 0x01, 0, "HQ2200A6021"));
    s.balancers.push_back(reading(3312, -1250, -5, 0x03, 0, "HQ2200A6021"));
    BalancerReading silent = reading(0, 0, 0, 0x00, 1, "HQ2200A6022");
    silent.millivolts.reset();
    s.balancers.push_back(silent);
    return s;
}

const auto kAt = std::chrono::system_clock::time_point(std::chrono::milliseconds(1765000000123));

TEST(CliRows, ScanFormats) {
    const BankSnapshot bank = sampleBank();
    EXPECT_EQ(
        scanTable(bank),
        "id  battery  serial       voltage [V]  current [A]  temperature [degC]  firmware  boot loader    "
        "product id\n"
        " 1        1  HQ2200A6021        3.301     L: 0.120                25.5  v01.02    v02.00-beta06  "
        "A602\n"
        " 2        1  HQ2200A6021        3.312    H: -1.250                -0.5  v01.02    v02.00-beta06  "
        "A602\n"
        " 3        2  HQ2200A6022            -            -                   -  v01.02    v02.00-beta06  "
        "A602\n");
    EXPECT_EQ(
        scanCsv(bank),
        "id,battery,serial,voltage [V],current [A],current range,temperature [degC],firmware,boot loader,"
        "product id\r\n"
        "1,1,HQ2200A6021,3.301,0.120,low,25.5,v01.02,v02.00-beta06,A602\r\n"
        "2,1,HQ2200A6021,3.312,-1.250,high,-0.5,v01.02,v02.00-beta06,A602\r\n"
        "3,2,HQ2200A6022,,,,,v01.02,v02.00-beta06,A602\r\n");

    const std::string json = scanJson(bank);
    ASSERT_EQ(json.back(), '\n');
    const QJsonArray rows = QJsonDocument::fromJson(QByteArray::fromStdString(json))["balancers"].toArray();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0]["id"].toInt(), 1);
    EXPECT_EQ(rows[0]["voltage_mv"].toInt(), 3301);
    EXPECT_EQ(rows[0]["current_range"].toString(), "low");
    EXPECT_DOUBLE_EQ(rows[0]["temperature_c"].toDouble(), 25.5);
    EXPECT_EQ(rows[1]["current_ma"].toInt(), -1250);
    EXPECT_EQ(rows[1]["boot_loader"].toString(), "v02.00-beta06");
    EXPECT_EQ(rows[2]["battery"].toInt(), 2);
    EXPECT_TRUE(rows[2]["voltage_mv"].isNull());
    EXPECT_TRUE(rows[2]["current_ma"].isNull());
    EXPECT_TRUE(rows[2]["temperature_c"].isNull());
    EXPECT_EQ(rows[2]["product_id"].toString(), "A602");
}

TEST(CliRows, WatchFormats) {
    const BankSnapshot bank = sampleBank();
    const bank::BankValues values{3400, 6613, -1130};
    EXPECT_EQ(watchLine(kAt, bank, values),
              "2025-12-06T05:46:40.123Z  3 balancers, 2 measured, 3.301 V (cell 1) to 3.312 V (cell 2), "
              "spread 11 mV, "
              "hottest 25.5 degC (cell 1), bank 6.613 V -1.130 A, setpoint 3.400 V\n");
    EXPECT_EQ(watchLine(kAt, BankSnapshot{}, std::nullopt),
              "2025-12-06T05:46:40.123Z  0 balancers, none measured\n");

    const std::string line = watchJsonLine(kAt, bank, values);
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one object a line";
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    EXPECT_EQ(o["time"].toString(), "2025-12-06T05:46:40.123Z");
    EXPECT_EQ(o["bank"]["voltage_mv"].toInt(), 6613);
    EXPECT_EQ(o["bank"]["current_ma"].toInt(), -1130);
    EXPECT_EQ(o["balancers"].toArray().size(), 3);
    EXPECT_TRUE(
        QJsonDocument::fromJson(QByteArray::fromStdString(watchJsonLine(kAt, bank, std::nullopt)))["bank"]
            .isNull());

    // The recordings' CSV: its header, then one row per cell of the tick.
    EXPECT_EQ(watchCsvHeader(), "time,cell,voltage [V],current [A],current range,temperature [degC],serial,"
                                "firmware,product id,boot loader\r\n");
    EXPECT_EQ(watchCsvRows(kAt, bank),
              "2025-12-06T05:46:40.123Z,1,3.301,0.120,low,25.5,HQ2200A6021,v01.02,A602,v02.00-beta06\r\n"
              "2025-12-06T05:46:40.123Z,2,3.312,-1.250,high,-0.5,HQ2200A6021,v01.02,A602,v02.00-beta06\r\n"
              "2025-12-06T05:46:40.123Z,3,,,,,HQ2200A6022,v01.02,A602,v02.00-beta06\r\n");
}

BankSnapshot bankOf(std::vector<std::optional<int>> mv, std::vector<int> tenths = {},
                    std::uint32_t crcErrors = 0) {
    BankSnapshot s;
    for (std::size_t i = 0; i < mv.size(); ++i) {
        BalancerReading r;
        r.millivolts = mv[i];
        r.tenthsCelsius = i < tenths.size() ? tenths[i] : 250;
        s.balancers.push_back(r);
    }
    if (!s.balancers.empty()) {
        s.balancers[0].crcErrors = crcErrors;
    }
    return s;
}

TEST(CliCheck, EachLimitIsOneCaseOverTheWholeRun) {
    CheckLimits all;
    all.cells = 3;
    all.minMv = 3000;
    all.maxMv = 3600;
    all.maxSpreadMv = 20;
    all.maxTempTenths = 450;
    all.maxCrcErrors = 2;
    CheckLimits countOnly;
    countOnly.cells = 2;
    struct Case {
        const char* name;
        CheckLimits limits;
        std::vector<BankSnapshot> ticks;
        std::vector<std::pair<std::string, std::string>> failed; // case name, failure text
    };
    const std::vector<Case> cases = {
        {"all within", all, {bankOf({3300, 3310, 3305}), bankOf({3302, 3311, 3300}, {}, 2)}, {}},
        {"one low tick fails the minimum",
         all,
         {bankOf({3300, 3310, 3305}), bankOf({2950, 3310, 3305}), bankOf({3300, 3310, 3305})},
         {{"minimum cell voltage", "cell 1 at 2.950 V, below 3.000 V"},
          {"cell voltage spread", "spread 360 mV between cells 1 and 2, above 20 mV"}}},
        {"edges pass", all, {bankOf({3000, 3020, 3010}, {450, 449, -20})}, {}},
        {"above maximum and too hot",
         all,
         {bankOf({3601, 3600, 3595}, {200, 451, 0})},
         {{"maximum cell voltage", "cell 1 at 3.601 V, above 3.600 V"},
          {"maximum cell temperature", "cell 2 at 45.1 degC, above 45.0 degC"}}},
        {"missing balancer",
         all,
         {bankOf({3300, 3301})},
         {{"balancer count", "2 balancers answered, 3 expected"}}},
        {"balancer without a voltage",
         all,
         {bankOf({3300, std::nullopt, 3301})},
         {{"balancer count", "1 of 3 balancers reported no voltage"}}},
        {"crc errors",
         all,
         {bankOf({3300, 3301, 3302}, {}, 3)},
         {{"CRC errors", "3 records failed their CRC-8, at most 2 allowed"}}},
        {"nothing answered",
         all,
         {bankOf({}), bankOf({})},
         {{"balancer count", "0 balancers answered, 3 expected"},
          {"minimum cell voltage", "no cell reported a voltage"},
          {"maximum cell voltage", "no cell reported a voltage"},
          {"cell voltage spread", "no cell reported a voltage"},
          {"maximum cell temperature", "no cell reported a temperature"}}},
        {"no poll at all",
         all,
         {},
         {{"balancer count", "no poll completed"},
          {"minimum cell voltage", "no cell reported a voltage"},
          {"maximum cell voltage", "no cell reported a voltage"},
          {"cell voltage spread", "no cell reported a voltage"},
          {"maximum cell temperature", "no cell reported a temperature"},
          {"CRC errors", "no poll completed"}}},
        {"only the count", countOnly, {bankOf({2000, 4000})}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckEvaluator evaluator(c.limits);
        for (const BankSnapshot& s : c.ticks) {
            evaluator.observe(s);
        }
        const CheckReport report = evaluator.finish(3.5);
        const std::size_t expectedCases = 1 + (c.limits.minMv ? 1 : 0) + (c.limits.maxMv ? 1 : 0) +
                                          (c.limits.maxSpreadMv ? 1 : 0) + (c.limits.maxTempTenths ? 1 : 0) +
                                          (c.limits.maxCrcErrors ? 1 : 0);
        EXPECT_EQ(report.cases.size(), expectedCases);
        EXPECT_EQ(report.ticks, static_cast<int>(c.ticks.size()));
        std::vector<std::pair<std::string, std::string>> failed;
        for (const CheckCase& k : report.cases) {
            EXPECT_EQ(k.passed, k.failure.empty()) << k.name;
            if (!k.passed) {
                failed.emplace_back(k.name, k.failure);
            }
        }
        EXPECT_EQ(failed, c.failed);
        EXPECT_EQ(report.passed(), c.failed.empty());
        EXPECT_EQ(report.failures(), static_cast<int>(c.failed.size()));
    }
}

// xmllint --schema on `xml`; returns its exit status and keeps its words in `output`.
int validate(const std::string& xml, std::string& output) {
    test::TempDir dir;
    const std::string path = dir / "report.xml";
    std::ofstream(path) << xml;
    const std::string command =
        std::string("xmllint --noout --schema ") + ZANST_JUNIT_XSD + " " + path + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CliJunit, ReportsValidateAgainstTheSchema) {
    CheckLimits limits;
    limits.cells = 2;
    limits.minMv = 3000;
    limits.maxTempTenths = 300;
    CheckEvaluator passing(limits);
    passing.observe(bankOf({3300, 3301}));
    CheckEvaluator failing(limits);
    failing.observe(bankOf({2900, 3301}, {310, 200}));

    JunitSuite suite;
    suite.startedAt = kAt;
    suite.hostname = "bench-1";
    suite.properties = {{"port", "/dev/ttyUSB0"}, {"limits", "--min-mv 3000 <&> \"quoted\""}};
    for (const CheckEvaluator* e : {&passing, &failing}) {
        const CheckReport report = e->finish(2.25);
        const std::string xml = junitXml(report, suite);
        std::string output;
        EXPECT_EQ(validate(xml, output), 0) << output << xml;
        EXPECT_NE(xml.find("tests=\"3\""), std::string::npos) << xml;
        EXPECT_NE(xml.find("failures=\"" + std::to_string(report.failures()) + "\""), std::string::npos)
            << xml;
        EXPECT_NE(xml.find("timestamp=\"2025-12-06T05:46:40\""), std::string::npos) << xml;
        EXPECT_NE(xml.find("time=\"2.250\""), std::string::npos) << xml;
        EXPECT_NE(xml.find("&lt;&amp;&gt; &quot;quoted&quot;"), std::string::npos) << xml;
    }
    const std::string failed = junitXml(failing.finish(2.25), suite);
    EXPECT_NE(failed.find("<failure message=\"cell 1 at 2.900 V, below 3.000 V\" type=\"limit\">"),
              std::string::npos)
        << failed;
    EXPECT_NE(failed.find("message=\"cell 1 at 31.0 degC, above 30.0 degC\""), std::string::npos) << failed;

    // The schema itself refuses what a CI server would: a test case without its class name.
    std::string broken = junitXml(passing.finish(1), suite);
    const std::size_t at = broken.find(" classname=\"zanst.check\"");
    ASSERT_NE(at, std::string::npos);
    broken.erase(at, std::string(" classname=\"zanst.check\"").size());
    std::string output;
    EXPECT_NE(validate(broken, output), 0) << output;
    EXPECT_NE(output.find("classname"), std::string::npos) << output;
}

TEST(CliJunit, WriteFailsWithAReason) {
    test::TempDir dir;
    EXPECT_EQ(writeTextFile(dir / "r.xml", "<a/>"), "");
    EXPECT_EQ(test::readFile(dir / "r.xml"), "<a/>");
    const std::string error = writeTextFile(dir / "missing/r.xml", "<a/>");
    EXPECT_EQ(error.rfind("Cannot write " + dir / "missing/r.xml" + ": ", 0), 0u) << error;
}

// What a Progress wrote, through a memory stream.
class Captured {
  public:
    Captured() : file_(open_memstream(&data_, &size_)) {}
    ~Captured() {
        std::fclose(file_);
        std::free(data_);
    }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;
    std::FILE* file() const { return file_; }
    std::string text() {
        std::fflush(file_);
        return std::string(data_, size_);
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

TEST(CliProgress, BarOnATerminalPercentagesElsewhere) {
    struct Bar {
        double fraction;
        int width;
        const char* text;
    };
    for (const Bar& b : std::vector<Bar>{{0.0, 10, "[          ]   0%"},
                                         {0.5, 10, "[#####     ]  50%"},
                                         {0.999, 10, "[######### ]  99%"},
                                         {1.0, 4, "[####] 100%"},
                                         {1.7, 4, "[####] 100%"},
                                         {-3.0, 4, "[    ]   0%"},
                                         {std::nan(""), 2, "[  ]   0%"}}) {
        EXPECT_EQ(progressBar(b.fraction, b.width), b.text) << b.fraction;
    }

    Captured plain;
    Progress p(plain.file(), false, 10);
    for (const long long done : {0LL, 1LL, 2LL, 50LL, 50LL, 100LL}) {
        p.update(done, 100);
    }
    p.update(5, 0); // no total yet: nothing to show
    p.log("block 3 of 49");
    p.finish();
    EXPECT_EQ(plain.text(), "0%\n1%\n2%\n50%\n100%\nblock 3 of 49\n");

    Captured terminal;
    Progress t(terminal.file(), true, 4);
    t.update(1, 4);
    t.update(1, 4);
    t.log("line");
    t.update(4, 4);
    t.finish();
    EXPECT_EQ(terminal.text(), "\r[#   ]  25%"
                               "\r           \rline\n\r[#   ]  25%"
                               "\r[####] 100%\n");
}

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

Outcome run(std::vector<std::string> args, std::span<const Runner> runners = engineFreeRunners()) {
    Captured out;
    Captured err;
    Outcome r;
    r.code = runCommandLine(args, runners, Console{out.file(), err.file()}, "1.2.3");
    r.out = out.text();
    r.err = err.text();
    return r;
}

TEST(CliDispatch, ExportEndToEndAndTheRunnerTable) {
    test::TempDir dir;
    capture::Header h;
    h.startUnixMs = 1765000000123;
    bus::Bytes file = capture::encodeHeader(h);
    capture::encodeRecord(file, 0, capture::RecordKind::Mode, bus::Bytes{3});
    capture::encodeRecord(file, 10, capture::RecordKind::Sent, bus::Bytes(10, 0x00));
    capture::encodeRecord(file, 12, capture::RecordKind::Sent, test::frame(0x14, bus::Bytes(10, 0x00), 0));
    std::ofstream(dir / "s.zcap", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    file.pop_back();
    std::ofstream(dir / "cut.zcap", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    std::ofstream(dir / "text.zcap") << "not a capture\n";

    struct Case {
        std::vector<std::string> args;
        int code;
        const char* out;
        const char* err;
    };
    const std::vector<Case> cases = {
        {{"export", dir / "s.zcap", "--pcapng", dir / "s.pcapng"}, 0, "3 packets written to", ""},
        {{"export", dir / "cut.zcap", "--pcapng", dir / "cut.pcapng"},
         1,
         "",
         "zanst-cli: export: Capture cut short at byte 57 (2 records before it kept); the valid part, 2 "
         "packets, "
         "was written to"},
        {{"export", dir / "text.zcap", "--pcapng", dir / "t.pcapng"},
         2,
         "",
         "zanst-cli: export: Not a capture file"},
        {{"export", dir / "none.zcap", "--pcapng", dir / "n.pcapng"}, 2, "", "Cannot open"},
        {{"export", dir / "s.zcap", "--pcapng", dir / "gone/s.pcapng"}, 1, "", "Cannot write"},
        {{"export", dir / "s.zcap"}, 2, "", "zanst-cli export: missing --pcapng OUT"},
        {{"scan", "--port", "/dev/null"}, 2, "", "zanst-cli: scan needs the bus engine"},
        {{"--version"}, 0, "zanst-cli 1.2.3\n", ""},
        {{"export", "--help"}, 0, "Usage: zanst-cli export FILE --pcapng OUT", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        const Outcome r = run(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_TRUE(r.err.empty() || r.err.find('\n') == r.err.size() - 1) << "one line: " << r.err;
    }
    const std::string pcapng = test::readFile(dir / "s.pcapng");
    ASSERT_GE(pcapng.size(), 4u);
    EXPECT_EQ(pcapng.substr(0, 4), std::string("\x0A\x0D\x0D\x0A", 4));
    EXPECT_TRUE(test::readFile(dir / "t.pcapng").empty());

    // A runner is one entry; one that throws is one line and exit code 1.
    const std::vector<Runner> runners = {
        {"scan",
         [](const Invocation& inv, const Console& console) {
             console.print("scanning " + std::get<ScanArgs>(inv.args).port + "\n");
             return 4;
         }},
        {"watch",
         [](const Invocation&, const Console&) -> int { throw std::runtime_error("port vanished"); }},
    };
    const Outcome scan = run({"scan", "--port", "/dev/ttyUSB1"}, runners);
    EXPECT_EQ(scan.code, 4);
    EXPECT_EQ(scan.out, "scanning /dev/ttyUSB1\n");
    const Outcome watch = run({"watch", "--port", "p"}, runners);
    EXPECT_EQ(watch.code, 1);
    EXPECT_EQ(watch.err, "zanst-cli: watch: port vanished\n");
}

} // namespace
} // namespace zanst::cli
