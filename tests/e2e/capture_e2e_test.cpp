// Capture and replay end to end: a battery tester session against zanst-sim is captured by the
// tool and by the simulator; each capture, replayed without a port, shows the table rows seen live.

#include "e2e_tool.hpp"

#include <gtest/gtest.h>

#include <atomic>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using bus::Mode;

// The table of the first tick after `count` tables were shown.
bank::CellTable nextTable(const Tool& tool, std::size_t count) {
    EXPECT_TRUE(waitUntil([&] { return tool.tableCount() > count; }, kLongWait));
    return tool.lastTable();
}

std::vector<std::array<std::string, bank::kColumnCount>> texts(const bank::CellTable& t) {
    std::vector<std::array<std::string, bank::kColumnCount>> out;
    for (const auto& row : t.rows) {
        out.push_back(row.text);
    }
    return out;
}

TEST(CaptureE2E, AReplayedSessionShowsTheTableRowsSeenLive) {
    TempDir dir;
    const std::string link = dir / "port";
    const std::string toolCapture = dir / "tool.zcap";
    const std::string simCapture = dir / "sim.zcap";

    bank::CellTable live;
    {
        auto sim = startSim({"bank", "--batteries", "2", "--current", "20", "--capture", simCapture}, link);
        Tool tool;
        ASSERT_TRUE(tool.openPort(link));
        app::post(tool.host.engine(),
                  [path = QString::fromStdString(toolCapture)](app::BusEngine& e) { e.startCapture(path); });
        tool.selectMode(Mode::BatteryTester);
        ASSERT_TRUE(waitUntil([&] { return measured(tool.lastTable(), 8); }, kLongWait)) << sim->transcript();
        // A tick has just polled; once its answers are in the bus is quiet until the next one.
        nextTable(tool, tool.tableCount());
        pump(300ms);
        const std::size_t shown = tool.tableCount();
        app::post(tool.host.engine(), [](app::BusEngine& e) {
            e.ports()->disconnectPort();
            e.stopCapture();
        });
        // The tick after the port closed shows everything that was received.
        live = nextTable(tool, shown);
        ASSERT_TRUE(measured(live, 8));
        EXPECT_EQ(sim->stop(), 0);
    }

    for (const std::string& path : {toolCapture, simCapture}) {
        SCOPED_TRACE(path);
        Tool tool;
        app::BusEngine* engine = tool.host.engine();
        // As the window does: a mode record selects its tab.
        QObject::connect(engine->ports(), &app::PortControl::replayModeRequested, engine,
                         [&tool](Mode mode) { tool.selectMode(mode); });
        std::atomic<int> records{0};
        QObject::connect(engine->ports(), &app::PortControl::replayFinished, engine,
                         [&records](const QString&, int n) { records = n; });
        app::post(engine,
                  [p = QString::fromStdString(path)](app::BusEngine& e) { e.ports()->openReplay(p, 0); });
        ASSERT_TRUE(waitUntil([&] { return records > 0; }, kLongWait));
        const bank::CellTable replayed = nextTable(tool, tool.tableCount());
        EXPECT_EQ(texts(replayed), texts(live));
    }
}

} // namespace
} // namespace zanst::test
