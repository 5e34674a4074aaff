// zanst-sim with a recording on its command line: read before anything starts, refused with the
// reason when it holds nothing to play.

#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace zanst::sim {
namespace {

std::string csv(int cells) {
    std::string text = "time,cell,voltage [V],temperature [degC]\r\n";
    for (int s = 0; s < 2; ++s) {
        for (int c = 1; c <= cells; ++c) {
            text += "2026-12-09T10:00:0" + std::to_string(s) + ".000Z," + std::to_string(c) + ",3.30" +
                    std::to_string(c % 10) + ",21.5\r\n";
        }
    }
    return text;
}

TEST(ProgramRecording, PlaysAReadableRecordingAndRefusesOthers) {
    test::TempDir dir;
    std::ofstream(dir / "site.csv", std::ios::binary) << csv(4);
    std::ofstream(dir / "broken.csv", std::ios::binary) << "time,cell,voltage [V]\r\n";

    test::SimProcess bank(ZANST_SIM_PATH, {"bank", "--from", dir / "site.csv", "--link", dir / "port"});
    const auto line = bank.waitForLine("bank recording");
    ASSERT_TRUE(line.has_value()) << bank.transcript();
    EXPECT_NE(line->find("(CSV recording): 4 balancers in 1 battery, 2 steps over 00:00:02"),
              std::string::npos)
        << *line;
    EXPECT_TRUE(bank.waitForLine("ready playing bank").has_value());
    EXPECT_EQ(bank.stop(), 0);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"bank", "--from", dir / "none.zcap"},
          std::vector<std::string>{"bms", "--expect", dir / "broken.csv"}}) {
        test::SimProcess refused(ZANST_SIM_PATH, args);
        EXPECT_EQ(refused.waitExit(), 2) << args[2];
        EXPECT_FALSE(refused.anyLine("ready")) << "nothing starts";
    }
}

} // namespace
} // namespace zanst::sim
