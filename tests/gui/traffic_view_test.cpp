// The traffic view offscreen: a replayed capture of a known exchange is listed frame by frame with
// its CRC verdicts, selects the tab it was made on, filters, copies; a capture cut short shows its
// valid part and says so in red.

#include "capture/capture_file.hpp"
#include "shell/main_window.hpp"
#include "support/qt_wait.hpp"
#include "support/records.hpp"
#include "support/sim_process.hpp"
#include "tabs/battery_tester_tab.hpp"
#include "windows/traffic_window.hpp"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <fstream>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using app::TrafficModel;
using bus::Bytes;

// The battery tester's measurement poll of two balancers: one answers well, one with a broken CRC.
Bytes knownExchange() {
    Bytes file = capture::encodeHeader({});
    const auto tab = static_cast<std::uint8_t>(bus::Mode::BatteryTester);
    capture::encodeRecord(file, 0, capture::RecordKind::Mode, Bytes{tab});
    capture::encodeRecord(file, 1000, capture::RecordKind::Sent, Bytes(10, 0x00));
    capture::encodeRecord(file, 1100, capture::RecordKind::Sent, frame(0x02, Bytes(20, 0x00), 0));
    Bytes bad = measurementRecord(2, 0x40, measurementWord(3300, 0), 200 << 5, 0);
    bad.back() ^= 0x5A;
    capture::encodeRecord(
        file, 3000, capture::RecordKind::Received,
        concat({frame(0x02, Bytes(20, 0x00), 0x02),
                measurementRecord(1, 0x40, measurementWord(3312, -1250), 250 << 5, 0x02), bad}));
    return file;
}

class TrafficViewTest : public testing::Test {
  protected:
    void play(const Bytes& file) {
        {
            std::ofstream out(path, std::ios::binary);
            out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        }
        window.show();
        view()->show();
        view()->speedBox->setCurrentIndex(view()->speedBox->findText("As fast as possible"));
        view()->openCapture(QString::fromStdString(path));
    }
    app::TrafficWindow* view() { return window.trafficWindow(); }
    QString cell(int row, int column) { return view()->model()->index(row, column).data().toString(); }

    TempDir dir;
    const std::string path = dir / "known.zcap";
    app::diag_form window{app::ServiceMode::Off};
};

TEST_F(TrafficViewTest, ListsAReplayedExchangeWithItsCrcVerdicts) {
    play(knownExchange());
    ASSERT_TRUE(waitUntil([&] { return view()->model()->rowCount() == 5; }, 10s))
        << view()->model()->rowCount();
    EXPECT_EQ(window.tabs()->currentWidget(), window.batteryTesterTab()) << "the capture's mode was selected";

    struct Row {
        const char* time;
        const char* direction;
        const char* command;
        const char* length;
        const char* crc;
        const char* fields;
    };
    const Row expected[] = {
        {"1.0", "sent", "(line bytes)", "10", "", ""},
        {"1.1", "sent", "Measurement", "26", "good", "payload 20 bytes, following 0"},
        {"3.0", "received", "Measurement", "26", "good", "payload 20 bytes, following 2"},
        {"3.0", "received", "Measurement record", "12", "good",
         "id 1: 3.312 V, -1.250 A, 25.0 degC, flags 0x40"},
        {"3.0", "received", "Measurement record", "12", "bad", ""},
    };
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const Row& r = expected[i];
        EXPECT_EQ(cell(i, TrafficModel::Time), r.time);
        EXPECT_EQ(cell(i, TrafficModel::Direction), r.direction);
        EXPECT_EQ(cell(i, TrafficModel::Command), r.command);
        EXPECT_EQ(cell(i, TrafficModel::Length), r.length);
        EXPECT_EQ(cell(i, TrafficModel::Crc), r.crc);
        EXPECT_EQ(cell(i, TrafficModel::Fields), r.fields);
    }
    EXPECT_TRUE(cell(1, TrafficModel::Bytes).startsWith("AA 02 01 14 00"));
    ASSERT_TRUE(waitUntil([&] { return view()->statusLabel->text().contains("finished: 4 records"); }, 5s))
        << view()->statusLabel->text().toStdString();
    EXPECT_TRUE(window.windowTitle().contains("Replay of known.zcap finished"));

    // Balancer 2's record alone, then every measurement frame and record; copied in full.
    view()->balancerFilter->setValue(2);
    ASSERT_EQ(view()->model()->rowCount(), 1);
    EXPECT_EQ(cell(0, TrafficModel::Crc), "bad");
    view()->balancerFilter->setValue(0);
    view()->commandFilter->setCurrentIndex(view()->commandFilter->findText("Measurement"));
    EXPECT_EQ(view()->model()->rowCount(), 4);
    view()->copyRows();
    const QStringList lines = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[3].split('\t').value(TrafficModel::Crc), "bad");
    EXPECT_EQ(lines[3].split('\t').value(TrafficModel::Bytes).count(' '), 11) << "all 12 bytes";
}

TEST_F(TrafficViewTest, ACaptureCutShortShowsItsValidPartAndSaysSoInRed) {
    Bytes file = knownExchange();
    file.resize(file.size() - 5);
    play(file);
    ASSERT_TRUE(waitUntil([&] { return view()->model()->rowCount() == 2; }, 10s))
        << view()->model()->rowCount();
    EXPECT_EQ(cell(1, TrafficModel::Command), "Measurement");
    EXPECT_TRUE(view()->statusLabel->text().contains("cut short"))
        << view()->statusLabel->text().toStdString();
    EXPECT_TRUE(view()->statusLabel->styleSheet().contains("red"));

    // A file that is no capture at all: nothing plays, the reason is shown.
    const std::string other = dir / "other.txt";
    std::ofstream(other) << "Cell 1: 3.301 V\r\n";
    view()->openCapture(QString::fromStdString(other));
    ASSERT_TRUE(waitUntil([&] { return view()->statusLabel->text().contains("Not a capture file"); }, 5s))
        << view()->statusLabel->text().toStdString();
    EXPECT_TRUE(window.windowTitle().contains("Cannot replay"));
}

} // namespace
} // namespace zanst::test
