// Metrics texts and files, byte for byte, and the reader's refusals.

#include "metrics_sample.hpp"

#include "metrics/display.hpp"
#include "metrics/files.hpp"
#include "metrics/fuzz_entry.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace zanst::metrics {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    return test::readFile(path.string());
}

std::tm march7() {
    std::tm t{};
    t.tm_mday = 7;
    t.tm_mon = 2;
    t.tm_year = 125;
    t.tm_hour = 14;
    t.tm_min = 5;
    t.tm_sec = 9;
    return t;
}

// sampleMetrics(1) as the file holds it.
const std::string kBlock1 = "Instance: 1\r\n"
                            "secsLifeSpan: 90061\r\n"
                            "cyclesBeforeEOL: 3000\r\n"
                            "secsAtIRRange100_110perc: 1\r\n"
                            "secsAtIRRange110_120perc: 2\r\n"
                            "secsAtIRRange120_130perc: 3\r\n"
                            "secsAtIRRange130_150perc: 4\r\n"
                            "secsAtIRRange150_175perc: 5\r\n"
                            "secsAtIRRange175_200perc: 6\r\n"
                            "secsAtIRRange200_225perc: 7\r\n"
                            "secsAtIRAbove225perc: 65535\r\n"
                            "secsInUndervoltage: 11\r\n"
                            "secsInOvervoltage: 12\r\n"
                            "secsInSub01C: 4294967295\r\n"
                            "0 1 2 3 4 \r\n10 11 12 13 14 \r\n20 21 22 23 24 \r\n30 31 32 33 34 \r\n\r\n"
                            "100 101 102 103 104 \r\n110 111 112 113 114 \r\n120 121 122 123 124 \r\n"
                            "130 131 132 133 134 \r\n\r\n"
                            "200 201 202 203 204 \r\n210 211 212 213 214 \r\n220 221 222 223 224 \r\n"
                            "230 231 232 233 234 \r\n\r\n"
                            "300 301 302 303 304 \r\n310 311 312 313 314 \r\n320 321 322 323 324 \r\n"
                            "330 331 332 333 334 \r\n\r\n"
                            "400 401 402 403 404 \r\n410 411 412 413 414 \r\n420 421 422 423 424 \r\n"
                            "430 431 432 433 4294967295 \r\n\r\n"
                            "---------------------------------------------------------------------------\r\n";

std::string blockOf(int instance) {
    return "Instance: " + std::to_string(instance) + kBlock1.substr(kBlock1.find("\r\n"));
}

TEST(MetricsFormatting, DaysHoursMinutesSeconds) {
    const std::pair<std::uint32_t, std::string> rows[] = {
        {90061, "1d1h1m1s"}, {59, "0d0h0m59s"}, {0, "0d0h0m0s"}, {4294967295u, "49710d6h28m15s"}};
    for (const auto& [seconds, text] : rows) {
        EXPECT_EQ(metricsSecondsFormatting(seconds), text);
    }
}

TEST(MetricsFiles, NameFromLocalTime) {
    EXPECT_EQ(metricsFileName(march7()), "metrics_07-03-2025_14;05;09.txt");
}

TEST(MetricsFiles, WriterByteExactForOneAndFourInstances) {
    test::TempDir dir;
    MetricsFileStore store(fs::path(dir.path()) / "Metrics");
    ASSERT_TRUE(store.createMetricsDataFile(march7()).ok);
    EXPECT_EQ(store.activeMetricsFileName(),
              fs::path(dir.path()) / "Metrics" / "metrics_07-03-2025_14;05;09.txt");
    EXPECT_EQ(readAll(store.activeMetricsFileName()), "Number of instances: 0\n");

    ASSERT_TRUE(store.storeMetricsInActiveFile(test::sampleMetrics(1), march7()).ok);
    EXPECT_EQ(readAll(store.activeMetricsFileName()), "Number of instances: 1\n" + kBlock1);
    for (std::uint16_t i = 2; i <= 4; ++i) {
        ASSERT_TRUE(store.storeMetricsInActiveFile(test::sampleMetrics(i), march7()).ok);
    }
    EXPECT_EQ(readAll(store.activeMetricsFileName()),
              "Number of instances: 4\n" + kBlock1 + blockOf(2) + blockOf(3) + blockOf(4));
}

TEST(MetricsFiles, CountThatNeedsMoreDigitsWidensLineOne) {
    test::TempDir dir;
    MetricsFileStore store(dir.path());
    std::string blocks;
    for (std::uint16_t i = 1; i <= 10; ++i) {
        ASSERT_TRUE(store.storeMetricsInActiveFile(test::sampleMetrics(i), march7()).ok);
        blocks += blockOf(i);
    }
    EXPECT_EQ(readAll(store.activeMetricsFileName()), "Number of instances: 10\n" + blocks);
    EXPECT_FALSE(fs::exists(store.activeMetricsFileName().string() + ".tmp"));
}

TEST(MetricsFiles, LineOneKeepsItsWidthWhileTheCountFits) {
    test::TempDir dir;
    MetricsFileStore store(dir.path());
    ASSERT_TRUE(store.createMetricsDataFile(march7()).ok);
    std::ofstream(store.activeMetricsFileName(), std::ios::binary | std::ios::trunc)
        << "Number of instances: 00\n";
    ASSERT_TRUE(store.storeMetricsInActiveFile(test::sampleMetrics(1), march7()).ok);
    EXPECT_EQ(readAll(store.activeMetricsFileName()), "Number of instances: 1 \n" + kBlock1);
}

TEST(MetricsFiles, RemovedActiveFileIsCreatedAgainAndSaidSo) {
    test::TempDir dir;
    MetricsFileStore store(dir.path());
    ASSERT_TRUE(store.storeMetricsInActiveFile(test::sampleMetrics(1), march7()).ok);
    const fs::path active = store.activeMetricsFileName();
    fs::remove(active);

    const StoreResult again = store.storeMetricsInActiveFile(test::sampleMetrics(2), march7());
    EXPECT_TRUE(again.ok);
    EXPECT_TRUE(again.recreated);
    EXPECT_EQ(again.message, "Metrics file " + active.string() + " was removed; created it again");
    EXPECT_EQ(readAll(active), "Number of instances: 1\n" + blockOf(2));
}

TEST(MetricsFiles, SecondFileOfTheSameSecondKeepsTheFirst) {
    test::TempDir dir;
    MetricsFileStore store(dir.path());
    ASSERT_TRUE(store.storeMetricsInActiveFile(test::sampleMetrics(1), march7()).ok);
    const fs::path first = store.activeMetricsFileName();
    store.forgetActiveFile();
    ASSERT_TRUE(store.storeMetricsInActiveFile(test::sampleMetrics(1), march7()).ok);
    EXPECT_EQ(store.activeMetricsFileName().filename(), "metrics_07-03-2025_14;05;09_2.txt");
    EXPECT_EQ(readAll(first), "Number of instances: 1\n" + kBlock1);
}

TEST(MetricsFiles, ReaderReturnsWhatTheWriterWroteForEveryInstance) {
    test::TempDir dir;
    MetricsFileStore store(dir.path());
    for (std::uint16_t i = 1; i <= 4; ++i) {
        ASSERT_TRUE(store.storeMetricsInActiveFile(test::sampleMetrics(i, 1000u * i), march7()).ok);
    }
    for (std::uint16_t i = 1; i <= 4; ++i) {
        const MetricsMetadata record = test::sampleMetrics(i, 1000u * i);
        const MetricsFileRead read = readMetricsInstance(store.activeMetricsFileName(), i);
        EXPECT_EQ(read.nrOfInstances, 4);
        ASSERT_TRUE(read.view) << read.reason;
        EXPECT_EQ(read.view->fields, fieldTexts(record)) << i;
        EXPECT_EQ(read.view->matrix, toMatrixData(record.timeMatrix)) << i;
        EXPECT_EQ(read.instanceInFile, i);
    }
    // Row 7 of the table (second block, second row): 10-30 % SoC at 0.5-1 C.
    const MatrixData matrix = toMatrixData(test::sampleMetrics(1).timeMatrix);
    EXPECT_EQ(matrix[6][2], 121u);
}

// Replaces the first `from` in the one-instance file by `to`.
std::string damaged(const std::string& from, const std::string& to) {
    std::string file = "Number of instances: 2\n" + kBlock1 + blockOf(2);
    file.replace(file.find(from), from.size(), to);
    return file;
}

TEST(MetricsFiles, ReaderTakesExtraSpacesAndRefusesDamagedShapes) {
    std::istringstream spaced(damaged("0 1 2 3 4 ", "0  1 2   3 4"));
    EXPECT_TRUE(readMetricsInstance(spaced, 1).view);

    const std::string whole = "Number of instances: 2\n" + kBlock1 + blockOf(2);
    struct Row {
        std::string file;
        int instance;
        std::string reason;
    };
    const Row rows[] = {
        {damaged("cyclesBeforeEOL: 3000", "cyclesBeforeEOL 3000"), 1, "line 4 has no ':'"},
        {damaged("cyclesBeforeEOL: 3000", "cyclesBeforeEOL: 30x0"), 1,
         "line 4: \"30x0\" is not a number from 0 to 4294967295"},
        {damaged("secsInOvervoltage: 12", "secsInOvervoltage: -12"), 1, "\"-12\" is not a number"},
        {damaged("secsLifeSpan: 90061", "secsLifeSpan: 4294967296"), 1, "\"4294967296\" is not a number"},
        {damaged("secsLifeSpan: 90061", "secsLifeSpan: "), 1, "\"\" is not a number"},
        {damaged("0 1 2 3 4 ", "0 1 2 3 4 5 "), 1, "line 16 holds 6 numbers, not 5"},
        {damaged("10 11 12 13 14 ", "10 11 12 13 "), 1, "line 17 holds 4 numbers, not 5"},
        {damaged("20 21 22 23 24 ", "20 21 -22 23 24 "), 1, "\"-22\" is not a number"},
        {damaged("30 31 32 33 34 ", "30 31 32 33 4294967296 "), 1, "\"4294967296\" is not a number"},
        {whole, 3, "the file holds no instance 3"},
        {whole.substr(0, whole.rfind("200 201")), 2, "the file ends before the end of instance 2"},
        {damaged("Number of instances: 2", "Number of instances: x"), 1, "line 1 holds no instance count"},
        {"", 1, "the file is empty"},
        {whole, 0, "there is no instance 0"},
    };
    for (const Row& row : rows) {
        std::istringstream in(row.file);
        const MetricsFileRead read = readMetricsInstance(in, row.instance);
        EXPECT_FALSE(read.view) << row.reason;
        EXPECT_NE(read.reason.find(row.reason), std::string::npos) << read.reason;

        std::string fuzz(1, static_cast<char>(row.instance));
        fuzz += row.file;
        fuzzMetricsFile(std::span(reinterpret_cast<const std::uint8_t*>(fuzz.data()), fuzz.size()));
    }
}

TEST(MetricsFiles, TheLabelNamesTheBatteryWhoseBlockIsShown) {
    // A fetch in which instance 3 did not answer: batteries 1, 2, 4 stand as blocks 1 to 3.
    test::TempDir dir;
    MetricsFileStore store(dir.path());
    for (const std::uint16_t battery : {std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{4}}) {
        ASSERT_TRUE(
            store.storeMetricsInActiveFile(test::sampleMetrics(battery, 1000u * battery), march7()).ok);
    }
    struct Row {
        int block;
        std::string label;
        int battery; // whose values are shown; 0: none
    };
    for (const Row& row : {Row{1, "Instance: 1", 1}, Row{2, "Instance: 2", 2}, Row{3, "Instance: 4", 4},
                           Row{4, "Instance: -", 0}}) {
        const MetricsFileRead read = readMetricsInstance(store.activeMetricsFileName(), row.block);
        EXPECT_EQ(read.nrOfInstances, 3) << row.block;
        EXPECT_EQ(instanceLabelText(read.instanceInFile), row.label) << row.block;
        ASSERT_EQ(read.view.has_value(), row.battery != 0) << row.block << ": " << read.reason;
        if (read.view) {
            const auto battery = static_cast<std::uint16_t>(row.battery);
            EXPECT_EQ(read.view->fields, fieldTexts(test::sampleMetrics(battery, 1000u * battery)))
                << row.block;
        }
    }

    // A block that cannot be shown still names its battery when its first line does; one whose
    // first line names none is not shown at all, since no label could say whose values they are.
    const auto secondDamaged = [](const std::string& from, const std::string& to) {
        std::string second = blockOf(2);
        second.replace(second.find(from), from.size(), to);
        return "Number of instances: 2\n" + kBlock1 + second;
    };
    struct Damaged {
        std::string file;
        std::optional<std::uint32_t> instance;
        std::string reason;
    };
    const Damaged damagedRows[] = {
        {secondDamaged("Instance: 2", "Instance: 9"), 9, ""},
        {secondDamaged("secsInSub01C: 4294967295", "secsInSub01C: x"), 2, "\"x\" is not a number"},
        {secondDamaged("Instance: 2", "Instance: two"), std::nullopt, "line 42 names no instance"},
        {secondDamaged("Instance: 2", "Instance 2"), std::nullopt, "line 42 names no instance"},
        {secondDamaged("Instance: 2", "Instance: -2"), std::nullopt, "line 42 names no instance"},
    };
    for (const Damaged& row : damagedRows) {
        std::istringstream in(row.file);
        const MetricsFileRead read = readMetricsInstance(in, 2);
        EXPECT_EQ(read.instanceInFile, row.instance) << row.reason;
        EXPECT_EQ(read.view.has_value(), row.reason.empty()) << read.reason;
        EXPECT_NE(read.reason.find(row.reason), std::string::npos) << read.reason;
        EXPECT_EQ(instanceLabelText(read.instanceInFile),
                  row.instance ? "Instance: " + std::to_string(*row.instance) : "Instance: -");
    }
}

TEST(MetricsFiles, DropTakesTheFirstPathEndingInTxt) {
    using Paths = std::vector<std::string>;
    const std::pair<Paths, std::optional<std::string>> rows[] = {
        {{"a.TXT"}, std::nullopt},
        {{"a.txt", "b.txt"}, "a.txt"},
        {{"image.png", "notestxt", "c.txt"}, "notestxt"},
        {{}, std::nullopt},
    };
    for (const auto& [paths, picked] : rows) {
        EXPECT_EQ(pickDroppedMetricsFile(paths), picked);
    }
}

} // namespace
} // namespace zanst::metrics
