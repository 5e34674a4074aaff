// "Export for Wireshark..." in the traffic view, offscreen, through the whole window and engine:
// it exports the capture the view replays (or replayed) or saved last, whichever came last, says
// so when there is none, and says what it wrote or why not.

#include "capture/capture_file.hpp"
#include "capture/pcapng.hpp"
#include "shell/main_window.hpp"
#include "support/qt_wait.hpp"
#include "support/records.hpp"
#include "support/sim_process.hpp"
#include "windows/traffic_window.hpp"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <fstream>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using bus::Bytes;

Bytes pollExchange() {
    Bytes file = capture::encodeHeader({});
    capture::encodeRecord(file, 0, capture::RecordKind::Mode,
                          Bytes{static_cast<std::uint8_t>(bus::Mode::BatteryTester)});
    capture::encodeRecord(file, 1000, capture::RecordKind::Sent, Bytes(10, 0x00));
    capture::encodeRecord(file, 1100, capture::RecordKind::Sent, frame(0x02, Bytes(20, 0x00), 0));
    capture::encodeRecord(file, 3000, capture::RecordKind::Received,
                          concat({frame(0x02, Bytes(20, 0x00), 0x02),
                                  measurementRecord(1, 0x40, measurementWord(3312, -1250), 250 << 5, 0)}));
    return file;
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class TrafficExportTest : public testing::Test {
  protected:
    app::TrafficWindow* view() { return window.trafficWindow(); }
    QString status() { return view()->statusLabel->text(); }
    bool red() { return view()->statusLabel->styleSheet().contains("red"); }
    // Plays `path` to its end (or to its refusal).
    bool replayed(const std::string& path) {
        const QString before = status();
        view()->openCapture(QString::fromStdString(path));
        return waitUntil([&] { return status() != before && !view()->stopReplayButton->isEnabled(); }, 10s);
    }
    // What the tool's own export makes of `capture`: the file the view must have written.
    std::string expected(const std::string& capture) {
        capture::PcapngOptions options;
        options.application = "zanst";
        const std::string out = dir / "expected.pcapng";
        EXPECT_TRUE(capture::exportPcapng(capture, out, options).written);
        return readFile(out);
    }
    QString q(const std::string& s) { return QString::fromStdString(s); }

    TempDir dir;
    app::diag_form window{app::ServiceMode::Off};
};

TEST_F(TrafficExportTest, ExportsTheCaptureTheViewShowsAndSaysWhenThereIsNone) {
    window.show();
    view()->show();
    view()->speedBox->setCurrentIndex(view()->speedBox->findText("As fast as possible"));
    ASSERT_EQ(view()->exportButton->text(), "Export for Wireshark...");

    // Nothing replayed or saved yet.
    view()->exportForWireshark(q(dir / "none.pcapng"));
    EXPECT_EQ(status(), "Nothing to export for Wireshark yet: open a capture or save one, then export it");
    EXPECT_TRUE(red());
    EXPECT_TRUE(readFile(dir / "none.pcapng").empty());
    EXPECT_TRUE(view()->exportButton->toolTip().contains("open or save one first"));

    // The replayed capture, also after its replay finished.
    const std::string known = dir / "known.zcap";
    writeBytes(known, pollExchange());
    ASSERT_TRUE(replayed(known)) << status().toStdString();
    EXPECT_EQ(view()->shownCapture(), q(known));
    EXPECT_EQ(view()->exportButton->toolTip(), q("Export " + known + " as pcapng for Wireshark"));
    view()->exportForWireshark(q(dir / "known.pcapng"));
    EXPECT_EQ(status(), q("Exported " + known + " for Wireshark: 5 packets to " + dir / "known.pcapng"));
    EXPECT_FALSE(red());
    EXPECT_EQ(readFile(dir / "known.pcapng"), expected(known));
    if (const QString shot = qEnvironmentVariable("ZANST_KEEP_SHOT"); !shot.isEmpty()) {
        view()->grab().save(shot);
    }

    // A capture saved since then is the one shown now; a replay that cannot start changes nothing.
    const std::string saved = dir / "saved.zcap";
    view()->startCapture(q(saved));
    ASSERT_TRUE(waitUntil([&] { return status().startsWith("Capturing to "); }, 5s))
        << status().toStdString();
    view()->captureButton->click();
    ASSERT_TRUE(waitUntil([&] { return status().startsWith("Capture saved: "); }, 5s))
        << status().toStdString();
    EXPECT_EQ(view()->shownCapture(), q(saved));
    const std::string text = dir / "text.zcap";
    std::ofstream(text) << "not a capture\n";
    ASSERT_TRUE(replayed(text));
    EXPECT_EQ(view()->shownCapture(), q(saved));
    view()->exportForWireshark(q(dir / "saved.pcapng"));
    EXPECT_TRUE(status().startsWith(q("Exported " + saved + " for Wireshark: "))) << status().toStdString();
    EXPECT_EQ(readFile(dir / "saved.pcapng"), expected(saved));

    // A damaged capture: its valid part, in red; nowhere to write, or over itself: nothing.
    Bytes cut = pollExchange();
    cut.resize(cut.size() - 5);
    const std::string damaged = dir / "cut.zcap";
    writeBytes(damaged, cut);
    ASSERT_TRUE(replayed(damaged));
    view()->exportForWireshark(q(dir / "cut.pcapng"));
    EXPECT_TRUE(status().startsWith(q("Exported the valid part of " + damaged + " for Wireshark, ")))
        << status().toStdString();
    EXPECT_EQ(readFile(dir / "cut.pcapng"), expected(damaged));
    EXPECT_TRUE(status().contains("cut short")) << status().toStdString();
    EXPECT_TRUE(red());
    view()->exportForWireshark(q(dir / "gone/cut.pcapng"));
    EXPECT_TRUE(status().startsWith(q("Cannot export " + damaged + " for Wireshark: Cannot write")))
        << status().toStdString();
    view()->exportForWireshark(q(damaged));
    EXPECT_EQ(status(), q("Not exported: " + damaged + " is the capture itself"));
    EXPECT_EQ(readFile(damaged).size(), cut.size());
}

} // namespace
} // namespace zanst::test
