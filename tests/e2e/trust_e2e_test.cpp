// What the tool shows can be trusted: against zanst-sim, corrupted answers never reach the table,
// a ring that stops answering part-way says where, and a BMS tester wired into a ring of
// balancers stops answering its own answers.

#include "e2e_tool.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using bus::Mode;

class TrustE2E : public testing::Test {
  protected:
    std::unique_ptr<SimProcess> start(std::vector<std::string> args) {
        args.push_back("--link");
        args.push_back(link);
        auto sim = std::make_unique<SimProcess>(ZANST_SIM_PATH, args);
        EXPECT_TRUE(sim->waitForLine(" ready ", kLongWait)) << sim->transcript();
        return sim;
    }

    TempDir dir;
    const std::string link = dir / "port";
    Tool tool;
};

// Every value shown comes from a record with a good CRC: the bank is 8 cells near 3.3 V and
// 20 degC at 10 A, so anything outside those bands would be a corrupted record shown as real.
TEST_F(TrustE2E, CorruptedRecordsAreCountedAndNeverShown) {
    auto sim = start({"bank", "--batteries", "2", "--current", "10", "--no-noise", "--corrupt-rate", "0.01"});
    ASSERT_TRUE(tool.openPort(link));
    tool.selectMode(Mode::BatteryTester);
    ASSERT_TRUE(waitUntil([&] { return tool.health().crcErrors >= 12; }, 40000ms)) << sim->transcript();

    int measuredRows = 0;
    for (const EmittedTable& t : tool.tables()) {
        for (const auto& row : t.table.rows) {
            if (!row.volts) {
                continue;
            }
            ++measuredRows;
            SCOPED_TRACE(row[bank::Column::CellId] + " " + row[bank::Column::Voltage] + " " +
                         row[bank::Column::Current] + " " + row[bank::Column::Temp]);
            EXPECT_GT(*row.volts, 3.2f);
            EXPECT_LT(*row.volts, 3.5f);
            EXPECT_GT(row.celsius, 10.0);
            EXPECT_LT(row.celsius, 35.0);
            if (row[bank::Column::Current] != "-") {
                const std::string current = row[bank::Column::Current].substr(3);
                EXPECT_NEAR(std::atof(current.c_str()), 10.0, 0.5);
            }
        }
    }
    EXPECT_GT(measuredRows, 8);
    const bank::BankSnapshot snapshot = tool.lastSnapshot();
    std::uint32_t perBalancer = 0;
    for (const auto& b : snapshot.balancers) {
        perBalancer += b.crcErrors;
    }
    EXPECT_GT(perBalancer, 0u) << "errors are told per balancer too";
}

TEST_F(TrustE2E, ARingThatAnswersOnlyUpToABalancerSaysWhere) {
    auto sim = start({"bank", "--batteries", "2", "--dead-after", "5", "--no-noise", "--quiet"});
    ASSERT_TRUE(tool.openPort(link));
    tool.selectMode(Mode::BatteryTester);
    ASSERT_TRUE(waitUntil([&] { return tool.health().noAnswerAfter == 5; }, kLongWait)) << sim->transcript();
    // The counts reach the rows with the next tick's snapshot.
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto s = tool.lastSnapshot();
            return s.balancers.size() == 8 && s.balancers[5].missedAnswers > 0;
        },
        kLongWait));
    const bank::BankSnapshot snapshot = tool.lastSnapshot();
    for (const auto& b : snapshot.balancers) {
        SCOPED_TRACE(b.id);
        if (b.id <= 5) {
            EXPECT_EQ(b.missedAnswers, 0u);
        } else {
            EXPECT_GT(b.missedAnswers, 0u);
        }
    }
}

// The bank passes every frame back round the ring, so the BMS tester's announcement comes back
// to it; answering that would answer forever (tens of thousands of frames a second).
TEST_F(TrustE2E, BmsTesterWiredIntoARingStopsAnsweringItsOwnFrames) {
    auto sim = start({"bank", "--quiet"});
    ASSERT_TRUE(tool.openPort(link));
    tool.selectMode(Mode::BmsTester);
    pump(200ms);
    for (int i = 0; i < 3; ++i) {
        tool.applyPreset(i, true); // each choice of a model announces the bank on the bus
        pump(300ms);
    }
    ASSERT_TRUE(waitUntil([&] { return tool.ownAnswersReturning(); }, kLongWait)) << sim->transcript();
    pump(1000ms);
    EXPECT_LT(tool.health().framesSent, 10u) << "the tool sent only its announcements";
}

} // namespace
} // namespace zanst::test
