// zanst-cli flash end to end against zanst-sim's bank: a three-block image that every balancer
// takes, one whose second block is lost on the ring (exit 1 after the updater's time limit), and
// Ctrl+C in the middle of the blocks, which ends the update with its end-update frame.

#include "cli_process.hpp"
#include "support/hex_text.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <regex>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kNewVersion = 0x000203FF; // v02.03

class CliFlashE2E : public testing::Test {
  protected:
    std::unique_ptr<SimProcess> start(std::vector<std::string> args) {
        args.push_back("--link");
        args.push_back(link);
        auto sim = std::make_unique<SimProcess>(ZANST_SIM_PATH, args);
        EXPECT_TRUE(sim->waitForLine(" ready ", 15s)) << sim->transcript();
        return sim;
    }
    // An image of `bytes` bytes as an Intel HEX file, as the balancers' tool chain writes one.
    std::string image(std::size_t bytes) {
        const std::string path = dir / "balancer.hex";
        std::ofstream(path) << hexFile(0x7000, imageBytes(bytes, kNewVersion));
        return path;
    }

    TempDir dir;
    const std::string link = dir / "port";
    std::map<std::string, std::string> env{{"XDG_DATA_HOME", dir / "data"}, {"APPDATA", ""}};
};

std::string both(const CliResult& r) {
    return "stdout:\n" + r.out + "stderr:\n" + r.err;
}

TEST_F(CliFlashE2E, ThreeBlocksAndEveryBalancerReportsTheFilesVersion) {
    auto sim = start({"bank", "--no-noise"});
    const std::string file = image(5008);
    const CliResult r = runCli({"flash", file, "--port", link, "--force"}, env, 60s);
    ASSERT_EQ(r.code, 0) << both(r) << sim->transcript();
    // The updater's log as the window shows it; not a terminal, so the progress in plain lines.
    const auto log = linesOf(r.err);
    EXPECT_EQ(log, (std::vector<std::string>{"4 balancers found; updating them to v02.03", "",
                                             "**************** Updater ****************", "File:" + file,
                                             "Image size: 5008 bytes", "Version: v02.03", "Start BootLoaders",
                                             "Start Update...", "33%", "66%", "99%", "100%", "Update Ready",
                                             "Firmware updated to v02.03"}))
        << r.err;
    EXPECT_EQ(linesOf(r.out),
              (std::vector<std::string>{"END_UPDATE", "balancer 1 SIMA602B001: v01.04 -> v02.03, updated",
                                        "balancer 2 SIMA602B001: v01.04 -> v02.03, updated",
                                        "balancer 3 SIMA602B001: v01.04 -> v02.03, updated",
                                        "balancer 4 SIMA602B001: v01.04 -> v02.03, updated",
                                        "4 of 4 balancers run v02.03"}))
        << r.out;
    for (int block = 0; block < 3; ++block) {
        EXPECT_EQ(sim->linesWith("0x23: block " + std::to_string(block) + " written (forced)").size(), 1U)
            << block;
    }
    EXPECT_TRUE(sim->anyLine("0x22: update complete, 3 blocks, firmware v02.03")) << sim->transcript();
}

TEST_F(CliFlashE2E, ABlockLostOnTheRingFailsTheUpdateWithExitOne) {
    auto sim = start({"bank", "--no-noise", "--swallow-block", "1"});
    const CliResult r = runCli({"flash", image(5008), "--port", link}, env, 90s);
    EXPECT_EQ(r.code, 1) << both(r);
    EXPECT_TRUE(sim->anyLine("0x23: block 1 lost on the ring")) << sim->transcript();
    EXPECT_TRUE(sim->anyLine("0x22: refused, update FAILED")) << sim->transcript();
    const auto log = linesOf(r.err);
    ASSERT_GE(log.size(), 3U) << r.err;
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{"66%", "Updater Timeout",
                                        "zanst-cli: flash: the update ran into the "
                                        "updater's time limit"}))
        << r.err;
    // The versions read back: every balancer still in its boot loader with the old firmware.
    const auto out = linesOf(r.out);
    ASSERT_EQ(out.size(), 6U) << r.out;
    EXPECT_EQ(out[1], "balancer 1 SIMA602B001: v01.04 -> v01.04, still in its boot loader, FAILED");
    EXPECT_EQ(out[5], "0 of 4 balancers run v02.03");
}

TEST_F(CliFlashE2E, CtrlCAmidTheBlocksEndsTheUpdateWithItsEndUpdateFrame) {
    // 25 blocks at the real line rate: some two seconds of blocks to break into.
    auto sim = start({"bank", "--no-noise", "--slow-byte-us", "40"});
    ASSERT_TRUE(sim);
    CliProcess flash({"flash", image(25 * 2048), "--port", link}, env);
    ASSERT_TRUE(flash.waitForError("\n8%\n", 30s)) << sim->transcript();
    flash.signal(SIGINT);
    const CliResult r = flash.wait(20s);
    EXPECT_EQ(r.code, 1) << both(r);
    const auto log = linesOf(r.err);
    ASSERT_GE(log.size(), 2U);
    EXPECT_EQ(log[log.size() - 2], "Update stopped: interrupted");
    EXPECT_EQ(log.back(), "zanst-cli: flash: interrupted: the update was ended with its end-update frame");
    EXPECT_EQ(linesOf(r.out), std::vector<std::string>{"END_UPDATE"});
    // The balancers got the end-update frame right behind the blocks that had gone out, and no
    // block after it. (The simulated ones then take those blocks for the whole image.)
    const auto closed = sim->waitForLine("0x22: ", 5s);
    ASSERT_TRUE(closed) << sim->transcript();
    std::smatch blocks;
    ASSERT_TRUE(std::regex_search(*closed, blocks, std::regex(R"((\d+) blocks)"))) << *closed;
    EXPECT_GE(std::stoi(blocks[1]), 2);
    EXPECT_LT(std::stoi(blocks[1]), 25);
    const auto lines = sim->lines();
    const auto end = std::find_if(lines.begin(), lines.end(),
                                  [](const std::string& l) { return l.find("0x22:") != std::string::npos; });
    EXPECT_TRUE(std::none_of(end, lines.end(), [](const std::string& l) {
        return l.find("0x23:") != std::string::npos;
    })) << sim->transcript();
}

} // namespace
} // namespace zanst::test
