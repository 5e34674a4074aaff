// Bank summary (extremes with ties, empty bank, bands as the table colours them), the plots'
// history (one sample a second, a bounded ring) and the CSV recording (header, quoting, numbers
// independent of the locale, whole rows on failure).

#include "bank/bank_history.hpp"
#include "bank/bank_summary.hpp"
#include "recording/csv_recording.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>

#include <unistd.h>

namespace zanst::bank {
namespace {

BankSnapshot bank(const std::vector<std::optional<int>>& mv, const std::vector<int>& tenths = {}) {
    BankSnapshot s;
    for (std::size_t i = 0; i < mv.size(); ++i) {
        BalancerReading r;
        r.id = static_cast<int>(i) + 1;
        r.millivolts = mv[i];
        r.tenthsCelsius = i < tenths.size() ? tenths[i] : 250;
        s.balancers.push_back(r);
    }
    return s;
}

TEST(BankSummary, ExtremesTiesAndAverages) {
    struct Case {
        const char* name;
        std::vector<std::optional<int>> mv;
        std::vector<int> tenths;
        int cells;
        std::optional<CellExtreme> min; // cell, value, ties
        std::optional<CellExtreme> max;
        int delta;
        std::optional<int> avgTenths;
        int maxTempCell;
    };
    const Case cases[] = {
        {"empty bank", {}, {}, 0, std::nullopt, std::nullopt, 0, std::nullopt, 0},
        {"no measurement yet",
         {std::nullopt, std::nullopt},
         {},
         0,
         std::nullopt,
         std::nullopt,
         0,
         std::nullopt,
         0},
        {"one cell", {3301}, {215}, 1, CellExtreme{1, 3301, 1}, CellExtreme{1, 3301, 1}, 0, 215, 1},
        {"ties name the lowest cell",
         {3300, 3250, 3400, 3250, 3400},
         {200, 260, 210, 260, 200},
         5,
         CellExtreme{2, 3250, 2},
         CellExtreme{3, 3400, 2},
         150,
         226,
         2},
        {"cells without a voltage are left out",
         {std::nullopt, 3310, 3290},
         {900, 215, 220},
         2,
         CellExtreme{3, 3290, 1},
         CellExtreme{2, 3310, 1},
         20,
         218, // 217.5 rounds up
         3},
        {"negative temperatures round away from zero",
         {3300, 3300},
         {-5, -10},
         2,
         CellExtreme{1, 3300, 2},
         CellExtreme{1, 3300, 2},
         0,
         -8,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BankSummary s = summarizeBank(bank(c.mv, c.tenths));
        EXPECT_EQ(s.cellCount, c.cells);
        ASSERT_EQ(s.minVoltage.has_value(), c.min.has_value());
        ASSERT_EQ(s.maxVoltage.has_value(), c.max.has_value());
        if (c.min) {
            EXPECT_EQ(s.minVoltage->cell, c.min->cell);
            EXPECT_EQ(s.minVoltage->value, c.min->value);
            EXPECT_EQ(s.minVoltage->ties, c.min->ties);
            EXPECT_EQ(s.maxVoltage->cell, c.max->cell);
            EXPECT_EQ(s.maxVoltage->value, c.max->value);
            EXPECT_EQ(s.maxVoltage->ties, c.max->ties);
            EXPECT_EQ(s.maxTemperature->cell, c.maxTempCell);
        }
        EXPECT_EQ(s.deltaMv, c.delta);
        EXPECT_EQ(s.averageTenthsCelsius, c.avgTenths);
    }
}

TEST(BankSummary, FlagsTheCellsTheTableColoursAndTheBalancingOnes) {
    // Every millivolt across both band edges: the summary must agree with the table's colours.
    std::vector<std::optional<int>> mv;
    for (int v = 2650; v <= 3800; ++v) {
        mv.push_back(v);
    }
    const BankSnapshot snapshot = bank(mv);
    const CellTable table = UpdateCellData(snapshot, {});
    const BankSummary s = summarizeBank(snapshot, 3500);
    std::size_t flagged = 0;
    for (std::size_t i = 0; i < table.rows.size(); ++i) {
        const int cell = static_cast<int>(i) + 1;
        const bool isFlagged = flagged < s.flagged.size() && s.flagged[flagged].cell == cell;
        ASSERT_EQ(isFlagged, table.rows[i].level != VoltageLevel::Normal) << *mv[i] << " mV";
        if (isFlagged) {
            EXPECT_EQ(s.flagged[flagged].level, table.rows[i].level) << *mv[i] << " mV";
            ++flagged;
        }
    }
    EXPECT_EQ(flagged, s.flagged.size());
    ASSERT_EQ(s.balancing.size(), static_cast<std::size_t>(3800 - 3500));
    EXPECT_EQ(s.balancing.front(), 3501 - 2650 + 1);
    EXPECT_TRUE(summarizeBank(snapshot, 0).balancing.empty()) << "no setpoint: nothing counts as balancing";
}

TEST(BankHistory, KeepsOneSampleASecondInABoundedRing) {
    BankHistory history(4);
    history.setBank(52800, -1500);
    struct Step {
        std::int64_t atMs;
        int mv;
        bool added;
    };
    const Step steps[] = {
        {10000, 3300, true}, {10500, 3301, false}, // half a second later: the same second
        {10950, 3302, true},                       // a tick up to 100 ms early still counts
        {12000, 3303, true}, {13000, 3304, true},  {14000, 3305, true}, // the oldest goes
    };
    for (const Step& s : steps) {
        EXPECT_EQ(history.add(s.atMs, bank({s.mv, std::nullopt})), s.added) << s.atMs;
    }
    ASSERT_EQ(history.size(), 4u);
    const int expected[] = {3302, 3303, 3304, 3305};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(history.at(i).millivolts[0], expected[i]) << "oldest first";
        EXPECT_EQ(history.at(i).millivolts[1], kNoReading);
        EXPECT_EQ(history.at(i).tenthsCelsius[1], kNoReading) << "no voltage: no temperature either";
    }
    EXPECT_EQ(history.latest().bankMv, 52800);
    EXPECT_EQ(history.latest().bankMa, -1500);
    EXPECT_EQ(history.firstAtOrAfter(12500), 2u);
    EXPECT_EQ(history.firstAtOrAfter(0), 0u);
    EXPECT_EQ(history.firstAtOrAfter(20000), 4u);
    EXPECT_THROW((void)history.at(4), std::out_of_range);
    history.clear();
    EXPECT_TRUE(history.empty());
    EXPECT_TRUE(history.add(14100, bank({3306}))) << "after a clear the next sample is taken at once";
}

// Splits one CSV line into fields as a reader does (quotes, doubled quotes).
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                out.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                out.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

TEST(CsvRecording, FieldsNumbersAndTimeStamps) {
    struct Text {
        std::string in;
        std::string out;
    };
    const Text texts[] = {
        {"HQ2200A6021", "HQ2200A6021"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {" lead", "\" lead\""},
        {"mid space", "mid space"},
    };
    for (const Text& t : texts) {
        EXPECT_EQ(recording::csvField(t.in), t.out) << t.in;
        EXPECT_EQ(fields(recording::csvField(t.in)), std::vector<std::string>{t.in}) << "reads back";
    }
    struct Fixed {
        long long value;
        int decimals;
        const char* text;
    };
    const Fixed numbers[] = {{3301, 3, "3.301"},    {-5, 3, "-0.005"},        {0, 1, "0.0"},
                             {-215, 1, "-21.5"},    {1234567, 3, "1234.567"}, {42, 0, "42"},
                             {-32768, 1, "-3276.8"}};
    for (const Fixed& n : numbers) {
        EXPECT_EQ(recording::fixedPoint(n.value, n.decimals), n.text);
    }
    using namespace std::chrono;
    EXPECT_EQ(recording::isoTimestamp(system_clock::time_point(milliseconds(1765249445123))),
              "2025-12-09T03:04:05.123Z");
    EXPECT_EQ(recording::isoTimestamp(system_clock::time_point(milliseconds(-1))),
              "1969-12-31T23:59:59.999Z");
}

struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(CsvRecording, HeaderAndRowsAgreeWhateverTheLocale) {
    const std::locale before = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    BankSnapshot snapshot = bank({3301, std::nullopt, 2750}, {-21, 0, 1234});
    snapshot.balancers[0].infoFlags = 0x03; // measures current, high range
    snapshot.balancers[0].milliamps = -1500;
    snapshot.balancers[0].serial = "AB,\"C\"";
    snapshot.balancers[0].fwVersion = 0x00010AFF;
    snapshot.balancers[0].blVersion = 0x00020006;
    snapshot.balancers[0].productId = 0x00A3;
    snapshot.balancers[2].serial = "HQ1";
    const std::array<bool, 4> selected{true, true, true, true};
    const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1765249445123));

    struct Case {
        recording::CsvValues values;
        std::string header;
        std::vector<std::string> firstRow;
    };
    const Case cases[] = {
        {{true, true, true, false, false, false, false},
         "time,cell,voltage [V],current [A],current range,temperature [degC]",
         {"2025-12-09T03:04:05.123Z", "1", "3.301", "-1.500", "high", "-2.1"}},
        {{true, true, true, true, true, true, true},
         "time,cell,voltage [V],current [A],current range,temperature [degC],serial,firmware,product id,boot "
         "loader",
         {"2025-12-09T03:04:05.123Z", "1", "3.301", "-1.500", "high", "-2.1", "AB,\"C\"", "v01.0A", "00A3",
          "v02.00-beta06"}},
        {{}, "time,cell", {"2025-12-09T03:04:05.123Z", "1"}},
    };
    for (const Case& c : cases) {
        const std::string header = recording::csvHeader(c.values);
        EXPECT_EQ(header, c.header + "\r\n");
        const std::string rows = recording::csvRows(at, snapshot, selected, c.values);
        std::istringstream lines(rows);
        std::vector<std::vector<std::string>> parsed;
        for (std::string line; std::getline(lines, line);) {
            ASSERT_EQ(line.back(), '\r');
            line.pop_back();
            parsed.push_back(fields(line));
        }
        ASSERT_EQ(parsed.size(), 3u) << "one row per selected cell";
        const std::size_t columns = fields(c.header).size();
        for (const auto& row : parsed) {
            EXPECT_EQ(row.size(), columns) << rows;
        }
        EXPECT_EQ(parsed[0], c.firstRow);
        if (c.values[0]) {
            EXPECT_EQ(parsed[1][2], "") << "no measurement: an empty field";
            EXPECT_EQ(parsed[2][2], "2.750");
        }
    }
    std::locale::global(before);
}

TEST(CsvRecording, FileNeverOverwritesAndReportsBadPaths) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("zanst_csv_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);

    recording::CsvFile missingFolder;
    const recording::FileResult bad = missingFolder.open(dir / "gone" / "r.csv", "h\r\n");
    EXPECT_FALSE(bad.ok);
    EXPECT_NE(bad.message.find((dir / "gone" / "r.csv").string()), std::string::npos) << bad.message;
    EXPECT_FALSE(missingFolder.isOpen());

    recording::CsvFile file;
    ASSERT_TRUE(file.open(dir / "r.csv", "h\r\n").ok);
    ASSERT_TRUE(file.append("a\r\n").ok);
    fs::remove_all(dir / "r.csv");
    fs::remove(dir);
    const recording::FileResult lost = file.append("b\r\n");
    EXPECT_FALSE(lost.ok) << "the folder went away";

    fs::create_directories(dir);
    { std::ofstream(dir / "kept.csv") << "old"; }
    recording::CsvFile second;
    EXPECT_FALSE(second.open(dir / "kept.csv", "h\r\n").ok);
    std::ifstream kept(dir / "kept.csv");
    std::string content((std::istreambuf_iterator<char>(kept)), {});
    EXPECT_EQ(content, "old");
    fs::remove_all(dir);
}

} // namespace
} // namespace zanst::bank
