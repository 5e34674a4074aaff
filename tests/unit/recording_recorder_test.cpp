// Recording lines, number files and recording files, byte for byte.

#include "recording/recorder.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

namespace zanst::recording {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// Three balancers: 3.301 V, 0.12 A on a low-range sensor, 25.5 degC first.
bank::CellTable threeBalancers(const bus::TextFormat& format = {}) {
    bus::BusState s;
    const int mv[] = {3301, 3300, 3299};
    const int ma[] = {120, -1500, 0};
    const std::uint8_t flags[] = {0x01, 0x03, 0x00};
    const std::int16_t tenths[] = {255, 250, -5};
    for (int i = 0; i < 3; ++i) {
        test::InfoFields f;
        f.id = static_cast<std::uint16_t>(i + 1);
        f.flags = flags[i];
        s.tables.storeInfo(test::infoRecord(f));
        s.tables.storeMeasurement(test::measurementRecord(f.id, 0, test::measurementWord(mv[i], ma[i]),
                                                          static_cast<std::int16_t>(tenths[i] * 32), 0));
    }
    s.numCells = 3;
    return bank::UpdateCellData(bank::takeSnapshot(s), format);
}

RowSelection allRows() {
    RowSelection selected{};
    selected.fill(true);
    return selected;
}

TEST(RecordingInterval, RoundsToWholeSecondsWithTiesToEven) {
    const std::pair<int, int> rows[] = {
        {1000, 1000}, {1499, 1000},   {1500, 2000},   {2500, 2000}, {2501, 3000},   {3500, 4000},
        {4499, 4000}, {59500, 60000}, {60000, 60000}, {999, 1000},  {61000, 60000},
    };
    for (const auto& [in, out] : rows) {
        EXPECT_EQ(roundIntervalMs(in), out) << in;
    }
}

TEST(RecordingPresets, SetTheColumnBoxes) {
    EXPECT_EQ(presetColumns(RecordingPreset::ChangingValuesOnly),
              (ColumnSet{true, true, true, true, false, false, false, false}));
    EXPECT_EQ(presetColumns(RecordingPreset::All),
              (ColumnSet{true, true, true, true, true, true, true, true}));
    EXPECT_EQ(presetColumns(RecordingPreset::None), ColumnSet{});
}

TEST(RecordingLine, ChangingValuesOfThreeBalancers) {
    const std::string line =
        recordingLine(threeBalancers(), allRows(), presetColumns(RecordingPreset::ChangingValuesOnly), {});
    EXPECT_EQ(line, " 1 3.301 L: 0.12 25.5 2 3.3 H: -1.5 25 3 3.299 - -0.5\n");
}

TEST(RecordingLine, ColumnsRowsAndLocale) {
    RowSelection withoutSecond = allRows();
    withoutSecond[1] = false;
    ColumnSet serialAndVersions{};
    serialAndVersions[static_cast<int>(RecordColumn::CellId)] = true;
    serialAndVersions[static_cast<int>(RecordColumn::Serial)] = true;
    serialAndVersions[static_cast<int>(RecordColumn::Firmware)] = true;
    serialAndVersions[static_cast<int>(RecordColumn::ProdID)] = true;
    serialAndVersions[static_cast<int>(RecordColumn::BootLoader)] = true;
    struct Row {
        const char* name;
        RowSelection selected;
        ColumnSet columns;
        bus::TextFormat format;
        std::string line;
    };
    const Row rows[] = {
        {"row 2 deselected",
         withoutSecond,
         presetColumns(RecordingPreset::ChangingValuesOnly),
         {},
         " 1 3.301 L: 0.12 25.5 3 3.299 - -0.5\n"},
        {"preset None", allRows(), presetColumns(RecordingPreset::None), {}, "\n"},
        {"no row selected", RowSelection{}, presetColumns(RecordingPreset::All), {}, "\n"},
        {"identity columns",
         withoutSecond,
         serialAndVersions,
         {},
         " 1 HQ2200A6021 v01.02 A602 v02.00-beta06 3 HQ2200A6021 v01.02 A602 v02.00-beta06\n"},
        {"comma locale",
         withoutSecond,
         presetColumns(RecordingPreset::ChangingValuesOnly),
         {','},
         " 1 3,301 L: 0,12 25,5 3 3,299 - -0,5\n"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(recordingLine(threeBalancers(r.format), r.selected, r.columns, r.format), r.line) << r.name;
    }
}

TEST(RecordingLine, NoBalancerWritesAnEmptyLine) {
    EXPECT_EQ(recordingLine(bank::CellTable{}, allRows(), presetColumns(RecordingPreset::All), {}), "\n");
}

TEST(RecordingLine, AFullTableStillEndsItsLine) {
    bank::CellTable full;
    full.rows.resize(bank::kTableRows);
    for (int i = 0; i < bank::kTableRows; ++i) {
        full.rows[static_cast<std::size_t>(i)].cellId = i + 1;
        full.rows[static_cast<std::size_t>(i)].text[static_cast<std::size_t>(col(bank::Column::CellId))] =
            std::to_string(i + 1);
    }
    ColumnSet idOnly{};
    idOnly[0] = true;
    const std::string line = recordingLine(full, allRows(), idOnly, {});
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    EXPECT_EQ(line.substr(line.size() - 5), " 256\n");
}

class RecorderFiles : public testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        root = fs::temp_directory_path() / ("zanst-recorder-" + std::to_string(rd()));
        folder = root / "Kestrova Energy" / "Zanthe Service Tool" / "Recordings";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }
    fs::path root;
    fs::path folder;
};

TEST_F(RecorderFiles, FreshInstallationRecordsIntoFileOneOfEachRecorder) {
    Recorder tester(folder, kBatteryTesterNames);
    Recorder monitor(folder, kDataMonitorNames);
    ASSERT_TRUE(monitor.prepare().ok);
    ASSERT_TRUE(tester.prepare().ok);
    EXPECT_EQ(readAll(folder / "recordingBatteryTesterIDMetadata.txt"), "0");
    EXPECT_EQ(readAll(folder / "recordingBattDataMonitorIDMetadata.txt"), "0");

    ASSERT_TRUE(tester.start().ok);
    ASSERT_TRUE(monitor.start().ok);
    EXPECT_EQ(tester.activeFile(), folder / "Recording_1.txt");
    EXPECT_EQ(monitor.activeFile(), folder / "BattDataMonitorRecording_1.txt");
    EXPECT_EQ(readAll(folder / "recordingBatteryTesterIDMetadata.txt"), "1");
    EXPECT_EQ(readAll(folder / "recordingBattDataMonitorIDMetadata.txt"), "1");
    EXPECT_TRUE(fs::exists(tester.activeFile()));
    EXPECT_EQ(fs::file_size(tester.activeFile()), 0u);

    const std::string line =
        recordingLine(threeBalancers(), allRows(), presetColumns(RecordingPreset::ChangingValuesOnly), {});
    ASSERT_TRUE(tester.append(line).ok);
    ASSERT_TRUE(tester.append("\n").ok);
    const fs::path written = tester.stop();
    EXPECT_EQ(written, folder / "Recording_1.txt");
    EXPECT_FALSE(tester.recording());
    EXPECT_TRUE(tester.append("late\n").ok) << "nothing is written once stopped";
    EXPECT_EQ(readAll(written), " 1 3.301 L: 0.12 25.5 2 3.3 H: -1.5 25 3 3.299 - -0.5\n\n");

    // The numbers survive a restart.
    Recorder again(folder, kBatteryTesterNames);
    ASSERT_TRUE(again.prepare().ok);
    EXPECT_EQ(again.RecordingUniqueID(), 1);
    ASSERT_TRUE(again.start().ok);
    EXPECT_EQ(again.activeFile(), folder / "Recording_2.txt");
    EXPECT_EQ(readAll(folder / "recordingBatteryTesterIDMetadata.txt"), "2");
}

TEST_F(RecorderFiles, NumberFileWithALineEndIsRead) {
    fs::create_directories(folder);
    writeFile(folder / "recordingBatteryTesterIDMetadata.txt", "41\r\n");
    Recorder tester(folder, kBatteryTesterNames);
    ASSERT_TRUE(tester.prepare().ok);
    EXPECT_EQ(tester.RecordingUniqueID(), 41);
    ASSERT_TRUE(tester.start().ok);
    EXPECT_EQ(tester.activeFile(), folder / "Recording_42.txt");
}

TEST_F(RecorderFiles, ExistingRecordingsAreNeverEmptied) {
    struct Row {
        const char* name;
        std::string numberFile;
        int expected;
    };
    const Row rows[] = {
        {"number file not a number", "twelve", 3},
        {"number file empty", "", 3},
        {"number file reset", "0", 3},
        {"number file behind", "1", 3},
        {"negative number", "-4", 3},
    };
    for (const Row& r : rows) {
        fs::remove_all(root);
        fs::create_directories(folder);
        writeFile(folder / "Recording_1.txt", "one\n");
        writeFile(folder / "Recording_2.txt", "two\n");
        writeFile(folder / "recordingBatteryTesterIDMetadata.txt", r.numberFile);
        Recorder tester(folder, kBatteryTesterNames);
        tester.prepare();
        ASSERT_TRUE(tester.start().ok) << r.name;
        EXPECT_EQ(tester.activeFile(), folder / ("Recording_" + std::to_string(r.expected) + ".txt"))
            << r.name;
        EXPECT_EQ(readAll(folder / "recordingBatteryTesterIDMetadata.txt"), std::to_string(r.expected))
            << r.name;
        EXPECT_EQ(readAll(folder / "Recording_1.txt"), "one\n") << r.name;
        EXPECT_EQ(readAll(folder / "Recording_2.txt"), "two\n") << r.name;
    }
}

TEST_F(RecorderFiles, NumberFileWithoutANumberIsReported) {
    fs::create_directories(folder);
    writeFile(folder / "recordingBattDataMonitorIDMetadata.txt", "x7");
    Recorder monitor(folder, kDataMonitorNames);
    const FileResult prepared = monitor.prepare();
    EXPECT_FALSE(prepared.ok);
    EXPECT_NE(prepared.message.find("recordingBattDataMonitorIDMetadata.txt"), std::string::npos)
        << prepared.message;
    EXPECT_EQ(monitor.RecordingUniqueID(), 0);
}

TEST_F(RecorderFiles, FolderRemovedWhileRecordingStopsWithAReason) {
    Recorder tester(folder, kBatteryTesterNames);
    ASSERT_TRUE(tester.prepare().ok);
    ASSERT_TRUE(tester.start().ok);
    ASSERT_TRUE(tester.append(" 1\n").ok);
    fs::remove_all(folder);
    const FileResult result = tester.append(" 2\n");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("Recording_1.txt"), std::string::npos) << result.message;
    EXPECT_FALSE(fs::exists(folder)) << "appending must not bring the folder back";
}

TEST_F(RecorderFiles, FileThatCannotBeOpenedIsReportedAndEarlierLinesStay) {
    Recorder tester(folder, kBatteryTesterNames);
    ASSERT_TRUE(tester.prepare().ok);
    ASSERT_TRUE(tester.start().ok);
    ASSERT_TRUE(tester.append(" 1\n").ok);
    const fs::path kept = folder / "kept.txt";
    fs::rename(tester.activeFile(), kept);
    fs::create_directory(tester.activeFile()); // something that is not a file takes its place
    EXPECT_FALSE(tester.append(" 2\n").ok);
    EXPECT_EQ(readAll(kept), " 1\n");
}

TEST_F(RecorderFiles, FolderThatCannotBeCreatedIsReported) {
    fs::create_directories(root);
    writeFile(root / "Kestrova Energy", "a file where the folder should be");
    Recorder tester(folder, kBatteryTesterNames);
    const FileResult prepared = tester.prepare();
    EXPECT_FALSE(prepared.ok);
    EXPECT_FALSE(prepared.message.empty());
    const FileResult started = tester.start();
    EXPECT_FALSE(started.ok);
    EXPECT_FALSE(tester.recording());
    EXPECT_TRUE(tester.activeFile().empty());
}

} // namespace
} // namespace zanst::recording
