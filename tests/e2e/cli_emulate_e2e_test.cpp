// zanst-cli emulate end to end: a capture of zanst-sim's two-battery bank, made while zanst-cli
// watch polled it, played into zanst-sim's BMS, which holds every answer against the capture; at
// ten times the pace in a loop; and the recordings, edits and ports it refuses, with their reasons.

#include "cli_process.hpp"
#include "support/playback_csv.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kSimReady{15000};

std::unique_ptr<SimProcess> startSim(std::vector<std::string> args, const std::string& link) {
    args.push_back("--link");
    args.push_back(link);
    auto sim = std::make_unique<SimProcess>(ZANST_SIM_PATH, args);
    EXPECT_TRUE(sim->waitForLine(" ready ", kSimReady)) << sim->transcript();
    return sim;
}

std::string both(const CliResult& r) {
    return "stdout:\n" + r.out + "stderr:\n" + r.err;
}

int numberAfter(const std::string& line, const std::string& key) {
    std::smatch m;
    const std::regex re(key + "=(\\d+)");
    return std::regex_search(line, m, re) ? std::stoi(m[1]) : -1;
}

class CliEmulateE2E : public testing::Test {
  protected:
    // The site's capture: the simulator's bank charging at 20 A as zanst-cli watch polls it, so
    // that the cells move from poll to poll.
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        capture_ = *dir_ / "site.zcap";
        const std::string bank = *dir_ / "bank";
        auto sim = startSim({"bank", "--batteries", "2", "--current", "20", "--capture", capture_}, bank);
        const CliResult watched = runCli({"watch", "--port", bank, "--seconds", "8"}, env());
        ASSERT_EQ(watched.code, 0) << both(watched);
        EXPECT_EQ(sim->stop(), 0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::map<std::string, std::string> env() {
        return {{"XDG_DATA_HOME", *dir_ / "data"}, {"APPDATA", ""}, {"ZANST_SERVICE_DB", ""}};
    }

    static TempDir* dir_;
    static std::string capture_;
};
TempDir* CliEmulateE2E::dir_ = nullptr;
std::string CliEmulateE2E::capture_;

TEST_F(CliEmulateE2E, EveryAnswerAtTheRecordedPaceIsTheCapturedStepAndTheAnswersAreCapturedBeside) {
    TempDir run;
    std::filesystem::copy_file(capture_, run / "site.zcap");
    auto bms = startSim({"bms", "--expect", run / "site.zcap"}, run / "bms");
    const CliResult r = runCli({"emulate", "--port", run / "bms", "--from", run / "site.zcap"}, env(), 60s);
    ASSERT_EQ(r.code, 0) << both(r);
    EXPECT_EQ(bms->stop(), 0);

    const auto summary = bms->linesWith("expect summary");
    ASSERT_EQ(summary.size(), 1U) << bms->transcript();
    EXPECT_EQ(numberAfter(summary[0], "mismatched"), 0) << bms->transcript();
    EXPECT_GE(numberAfter(summary[0], "matched"), 5) << bms->transcript();
    const auto steps = std::regex_search(summary[0], std::regex("steps=\\d+/(\\d+)"));
    EXPECT_TRUE(steps) << summary[0];

    // One line a step on standard output, in order, the last one the recording's last step.
    const std::vector<std::string> lines = linesOf(r.out);
    ASSERT_GE(lines.size(), 6U) << r.out;
    const std::regex stepLine(R"(  \d\d:\d\d:\d\d(\.\d+)? / \d\d:\d\d:\d\d(\.\d+)?  step (\d+)/(\d+)$)");
    int previous = 0;
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line, m, stepLine)) << line;
        EXPECT_EQ(std::stoi(m[3]), previous + 1) << r.out;
        previous = std::stoi(m[3]);
        EXPECT_EQ(m[4], std::to_string(lines.size())) << r.out;
    }

    // The answers lie beside the recording, and stderr says where and how often the BMS asked.
    std::vector<std::filesystem::path> answers;
    for (const auto& e : std::filesystem::directory_iterator(run.path())) {
        if (e.path().filename().string().starts_with("site_answers_")) {
            answers.push_back(e.path());
        }
    }
    ASSERT_EQ(answers.size(), 1U) << r.err;
    EXPECT_GT(std::filesystem::file_size(answers[0]), 100U);
    EXPECT_NE(r.err.find("its answers are in " + answers[0].string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("8 cells as "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 in parallel"), std::string::npos) << r.err;
}

TEST_F(CliEmulateE2E, TenTimesThePaceInALoopComesRoundUntilCtrlC) {
    TempDir run;
    auto bms = startSim({"bms", "--expect", capture_}, run / "bms");
    CliProcess emulate({"emulate", "--port", run / "bms", "--from", capture_, "--speed", "10", "--loop"},
                       env());
    ASSERT_TRUE(emulate.waitForOutput("loop 4", 30s));
    // A loop lasts under a second at 10x; the BMS asks once a second: a few answers see it restart.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (bms->linesWith(" match step ").size() < 5 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_GE(bms->linesWith(" match step ").size(), 5U) << bms->transcript();
    emulate.signal(SIGINT);
    const CliResult r = emulate.wait(20s);
    EXPECT_EQ(r.code, 0) << both(r);
    EXPECT_EQ(bms->stop(), 0);
    const auto summary = bms->linesWith("expect summary");
    ASSERT_EQ(summary.size(), 1U) << bms->transcript();
    EXPECT_EQ(numberAfter(summary[0], "mismatched"), 0) << bms->transcript();
    EXPECT_GE(numberAfter(summary[0], "loops"), 1) << "the BMS saw the recording start again: " << summary[0];
    EXPECT_NE(r.err.find(" times round; the BMS was answered "), std::string::npos) << r.err;
}

TEST_F(CliEmulateE2E, WhatCannotBePlayedIsRefusedWithItsReasonAndExitCode) {
    TempDir run;
    std::ofstream(run / "twelve.csv", std::ios::binary) << csvRecording({12}, 3);
    auto bms = startSim({"bms"}, run / "bms");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err; // a line on standard error
    };
    const std::vector<Case> cases = {
        {{"--from", run / "twelve.csv"},
         1,
         "zanst-cli: emulate: cannot play " + run / "twelve.csv" +
             ": The recorded battery has 12 cells; the emulator's models have 4, 8 or 16"},
        {{"--from", run / "missing.zcap"},
         1,
         "zanst-cli: emulate: cannot play " + run / "missing.zcap" + ": "},
        {{"--from", capture_, "--edit", "cell 99 pinned at 3000 mV from 00:00:01"},
         1,
         "zanst-cli: emulate: edit \"cell 99 pinned at 3000 mV from 00:00:01\" refused: "},
        {{"--from", capture_, "--speed", "3"}, 2, "zanst-cli emulate: --speed: 3 is not one of 1, 2 and 10"},
        {{"--from", capture_, "--edit", " ; "}, 2, "zanst-cli emulate: --edit holds no edit"},
        {{"--from", capture_, "--port", run / "no-such-port"}, 3, "zanst-cli: emulate: cannot open "},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"emulate"};
        if (std::find(c.args.begin(), c.args.end(), "--port") == c.args.end()) {
            args.insert(args.end(), {"--port", run / "bms"});
        }
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.err);
        const CliResult r = runCli(args, env(), 30s);
        EXPECT_EQ(r.code, c.code) << both(r);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(bms->stop(), 0);
    EXPECT_FALSE(bms->anyLine("MISMATCH")) << bms->transcript();
}

} // namespace
} // namespace zanst::test
