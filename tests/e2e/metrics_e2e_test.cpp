// "Get All Metrics" against zanst-sim bank --batteries 4: the bus engine without its window
// fetches, the window's archive stores what arrives, and the file holds what the simulator's
// batteries answered.

#include "e2e_tool.hpp"
#include "files/metrics_archive.hpp"
#include "metrics/files.hpp"
#include "sim/bank_metrics.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace zanst::test {
namespace {

using bus::Mode;

std::string readAll(const QString& path) {
    return readFile(path.toStdString());
}

// The file a fetch should leave: line 1 counts the blocks, one block per answering battery.
std::string expectedFile(const std::vector<int>& batteries) {
    sim::BankConfig bank;
    bank.batteries = 4;
    std::string out = std::string(metrics::kCountPrefix) + std::to_string(batteries.size()) + "\n";
    for (int battery : batteries) {
        out += metrics::metricsBlock(sim::simulatedMetrics(bank, battery));
    }
    return out;
}

class MetricsE2E : public testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        // The window's side: each record into the archive, as the Metrics tab stores it.
        app::MetricsFeature* feature = tool.host.engine()->metrics();
        QObject::connect(feature, &app::MetricsFeature::reported, &context,
                         [this](const metrics::FetchReport& report) {
                             if (report.started) {
                                 archive.fetchBegan();
                             }
                             for (const metrics::MetricsMetadata& record : report.recordsReceived) {
                                 if (const QString problem = archive.store(record); !problem.isEmpty()) {
                                     console << problem;
                                 }
                             }
                             for (const std::string& line : report.consoleLines) {
                                 console << QString::fromStdString(line);
                             }
                             if (report.ended) {
                                 console << archive.finishedLine(*report.ended);
                                 ++finished;
                             }
                         });
    }

    std::unique_ptr<SimProcess> start(std::vector<std::string> args) {
        args.insert(args.end(), {"bank", "--batteries", "4", "--quiet", "--link", link});
        if (GetParam() > 0) {
            args.insert(args.end(), {"--slow-byte-us", std::to_string(GetParam())});
        }
        auto sim = std::make_unique<SimProcess>(ZANST_SIM_PATH, args);
        EXPECT_TRUE(sim->waitForLine(" ready ", kLongWait)) << sim->transcript();
        return sim;
    }

    // Opens the port on the Metrics tab and presses "Get All Metrics" at once, before the tab's
    // mode step has run: the fetch waits behind the step and keeps the poll timer stopped.
    void getAllMetrics() {
        ASSERT_TRUE(tool.openPort(link));
        tool.selectMode(Mode::Metrics);
        app::post(tool.host.engine(), [](app::BusEngine& e) { e.modes()->getAllMetrics(); });
        ASSERT_TRUE(waitUntil([&] { return finished > 0; }, kLongWait)) << console.join("\n").toStdString();
    }

    bool pollTimerActive() {
        bool active = true;
        tool.host.runBlocking([&] { active = tool.host.engine()->tester()->pollTimerActive(); });
        return active;
    }

    TempDir dir;
    const std::string link = dir / "port";
    app::MetricsArchive archive{QString::fromStdString(dir / "Metrics")};
    QStringList console;
    int finished = 0;
    QObject context;
    Tool tool;
};

INSTANTIATE_TEST_SUITE_P(Pacing, MetricsE2E, testing::Values(0, 40),
                         [](const testing::TestParamInfo<int>& p) {
                             return p.param == 0 ? std::string("Unpaced") : std::string("LineSpeed");
                         });

TEST_P(MetricsE2E, OnePressStoresFourInstancesInOneFile) {
    auto sim = start({});
    getAllMetrics();

    EXPECT_EQ(console, (QStringList{"Fetching instance 1", "Fetching instance 2", "Fetching instance 3",
                                    "Fetching instance 4", "Metrics fetch done: 4 of 4 instances stored"}));
    // The simulator logs after it answers; its lines may still be on their way.
    ASSERT_TRUE(sim->waitForLine("metrics instance 4 answered", kLongWait)) << sim->transcript();
    EXPECT_EQ(sim->linesWith("answered: secsLifeSpan=").size(), 4u) << sim->transcript();
    ASSERT_FALSE(archive.activeFile().isEmpty());
    EXPECT_TRUE(archive.activeFile().startsWith(QString::fromStdString(dir / "Metrics/metrics_")));
    EXPECT_EQ(readAll(archive.activeFile()), expectedFile({1, 2, 3, 4}));
    // The tab's mode step, pending at the press, sent its frame first; the fetch after it left the
    // poll timer stopped.
    const std::vector<std::string> lines = sim->lines();
    const auto at = [&](const std::string& text) {
        return std::find_if(lines.begin(), lines.end(),
                            [&](const std::string& l) { return l.find(text) != std::string::npos; }) -
               lines.begin();
    };
    EXPECT_LT(at("0x10: test mode off"), at("metrics instance 1 answered")) << sim->transcript();
    EXPECT_FALSE(pollTimerActive());
}

TEST_P(MetricsE2E, SilentInstanceIsAskedAgainThenSkippedAndTheFetchEnds) {
    auto sim = start({"--metrics-silent", "2"});
    getAllMetrics();

    EXPECT_EQ(console, (QStringList{"Fetching instance 1", "Fetching instance 2",
                                    "No answer from instance 2, asking again (1 of 2)",
                                    "No answer from instance 2, asking again (2 of 2)",
                                    "Instance 2 did not answer", "Fetching instance 3", "Fetching instance 4",
                                    "Metrics fetch done: 3 of 4 instances stored"}));
    ASSERT_TRUE(sim->waitForLine("metrics instance 4 answered", kLongWait)) << sim->transcript();
    EXPECT_EQ(sim->linesWith("metrics instance 2: kept silent").size(), 3u) << sim->transcript();
    EXPECT_EQ(readAll(archive.activeFile()), expectedFile({1, 3, 4}));
}

TEST_P(MetricsE2E, AnotherTabStopsTheFetchWithWhatWasStored) {
    auto sim = start({"--metrics-silent", "2"});
    ASSERT_TRUE(tool.openPort(link));
    tool.selectMode(Mode::Metrics);
    app::post(tool.host.engine(), [](app::BusEngine& e) { e.modes()->getAllMetrics(); });
    ASSERT_TRUE(sim->waitForLine("metrics instance 2: kept silent", kLongWait)) << sim->transcript();
    tool.selectMode(Mode::BatteryTester);
    ASSERT_TRUE(waitUntil([&] { return finished > 0; }, kLongWait));

    EXPECT_EQ(console.mid(console.size() - 2), (QStringList{"Metrics fetch stopped: another tab was selected",
                                                            "Metrics fetch done: 1 of 4 instances stored"}));
    EXPECT_EQ(readAll(archive.activeFile()), expectedFile({1}));
    pump(std::chrono::milliseconds(1500)); // past the retry that no longer comes
    EXPECT_EQ(sim->linesWith("metrics instance 2").size(), 1u) << sim->transcript();
    EXPECT_EQ(finished, 1);
}

} // namespace
} // namespace zanst::test
