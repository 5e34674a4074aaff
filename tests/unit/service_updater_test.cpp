#include "service/updater.hpp"

#include "support/hex_text.hpp"

#include "bus/frames.hpp"
#include "bus/master_receiver.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zanst::service {
namespace {

using bus::Bytes;

// The ring as the tool sees it: every byte written comes back through the master-side receiver,
// either at the next 10 ms step or (immediate) while the write is still going on. One chosen
// frame can be lost on the way.
class FakeRing : public bus::BusPort {
  public:
    explicit FakeRing(bus::BusState& state) : rx_(state) {}

    struct Written {
        int step;
        Bytes bytes;
    };

    bool immediate = false;
    std::uint8_t dropCommand = 0; // with dropNth: the nth frame of this command never comes back
    int dropNth = 0;
    int step = 0;
    std::vector<Written> writes;

    bool isOpen() const override { return true; }
    bool write(std::span<const std::uint8_t> bytes) override {
        writes.push_back({step, Bytes(bytes.begin(), bytes.end())});
        const bool isFrame = bytes.size() > 1 && bytes[0] == 0xAA;
        if (isFrame && bytes[1] == dropCommand && ++dropped_ == dropNth) {
            return true;
        }
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
        if (immediate) {
            deliver();
        }
        return true;
    }

    void deliver() {
        for (auto b : pending_) {
            rx_.feed(b);
        }
        pending_.clear();
    }

    // Command byte of every frame written (wake-up prefixes are shown as 0).
    std::vector<int> commands(int fromStep = 0) const {
        std::vector<int> out;
        for (const auto& w : writes) {
            if (w.step >= fromStep) {
                out.push_back(w.bytes[0] == 0xAA ? w.bytes[1] : 0);
            }
        }
        return out;
    }

    std::vector<int> stepsOf(std::uint8_t command) const {
        std::vector<int> out;
        for (const auto& w : writes) {
            if (w.bytes.size() > 1 && w.bytes[0] == 0xAA && w.bytes[1] == command) {
                out.push_back(w.step);
            }
        }
        return out;
    }

  private:
    bus::MasterReceiver rx_;
    Bytes pending_;
    int dropped_ = 0;
};

// The log list as the window keeps it, and every text it was given.
class Log {
  public:
    std::vector<std::string> lines;
    std::vector<std::string> texts;
    std::vector<std::string> console;

    void take(const UpdaterReport& report) {
        for (const UpdaterLogLine& line : report.log) {
            texts.push_back(line.text);
            if (line.newLine || lines.empty()) {
                lines.push_back(line.text);
            } else {
                lines.back() = line.text;
            }
        }
        if (report.endUpdateSent) {
            console.emplace_back(kEndUpdateConsoleLine);
        }
    }
};

// 257 lines of 16 bytes: 4112 bytes, three blocks.
const Bytes kImageA = test::imageBytes(4112, 0x00010AFF);
const Bytes kImageB = test::imageBytes(1040, 0x00020006);

class UpdaterTest : public testing::Test {
  protected:
    bus::BusState state;
    FakeRing ring{state};
    Log log;
    FirmwareUpdater updater{state, ring};
    int updateTicks = 0;

    void drop(const Bytes& image) {
        log.take(updater.fileRead(readHexImage("/fw/image.hex", test::hexFile(0x7000, image))));
    }

    // The engine's two timers in 10 ms steps, until both have stopped or `until` says so.
    void run(const std::function<bool()>& until = {}) {
        while ((updater.updateTickRunning() || updater.blockSenderRunning()) && ring.step < 100000) {
            ++ring.step;
            ring.deliver();
            if (updater.blockSenderRunning()) {
                log.take(updater.timerFw_Tick());
            }
            if (ring.step % 10 == 0 && updater.updateTickRunning()) {
                log.take(updater.updaterTick());
                ++updateTicks;
            }
            if (until && until()) {
                return;
            }
        }
    }

    // The reader's lines for a file of image A, then `tail`.
    static std::vector<std::string> logA(std::vector<std::string> tail) {
        std::vector<std::string> lines{"", std::string(kUpdaterHeader), "File:/fw/image.hex",
                                       "Image size: 4112 bytes", "Version: v01.0A"};
        lines.insert(lines.end(), tail.begin(), tail.end());
        return lines;
    }
};

// Immediate echoes come back before the write returns: the block's in-flight flag must already be set.
class WholeUpdateTest : public UpdaterTest, public testing::WithParamInterface<bool> {};

TEST_P(WholeUpdateTest, ThreeBlocksEndInTheNewVersion) {
    ring.immediate = GetParam();
    updater.forceUpdate = true;
    drop(kImageA);
    run();

    EXPECT_FALSE(updater.updateTickRunning());
    EXPECT_FALSE(updater.blockSenderRunning());
    EXPECT_EQ(ring.commands(), (std::vector<int>{0, 0x20, 0x21, 0x23, 0x23, 0x23, 0x22}));
    std::size_t blockNum = 0;
    for (const auto& w : ring.writes) {
        if (w.bytes.size() == 2064) {
            EXPECT_EQ(w.bytes[6], blockNum);
            EXPECT_EQ(w.bytes[7], 1); // "Force update"
            for (std::size_t i = 0; i < 2048; ++i) {
                const std::size_t at = blockNum * 2048 + i;
                ASSERT_EQ(w.bytes[12 + i], at < kImageA.size() ? kImageA[at] : 0xFF) << at;
            }
            ++blockNum;
        }
    }
    EXPECT_EQ(log.lines, logA({"Start BootLoaders", "Start Update...100%", "Update Ready",
                               "Firmware updated to v01.0A"}));
    const std::vector<std::string> progress{"Start Update...", "Start Update...33%", "Start Update...66%",
                                            "Start Update...99%", "Start Update...100%"};
    EXPECT_NE(std::search(log.texts.begin(), log.texts.end(), progress.begin(), progress.end()),
              log.texts.end());
    EXPECT_EQ(log.console, std::vector<std::string>{"END_UPDATE"});
    EXPECT_FALSE(state.bUpdaterMode);
}

INSTANTIATE_TEST_SUITE_P(Echo, WholeUpdateTest, testing::Bool(),
                         [](const auto& param) { return param.param ? "Immediate" : "NextStep"; });

TEST_F(UpdaterTest, LostStartBootloadersIsSentAgainAfterElevenTicksWithoutAnswer) {
    ring.dropCommand = 0x20;
    ring.dropNth = 1;
    drop(kImageA);
    run();

    const auto sent = ring.stepsOf(0x20);
    ASSERT_EQ(sent.size(), 2u);
    // Eleven ticks wait in vain, the twelfth sends again.
    EXPECT_EQ(sent[1] - sent[0], 12 * FirmwareUpdater::kUpdateTickMs / FirmwareUpdater::kBlockTickMs);
    EXPECT_EQ(ring.commands(), (std::vector<int>{0, 0x20, 0, 0x20, 0x21, 0x23, 0x23, 0x23, 0x22}));
    EXPECT_EQ(log.lines, logA({"Start BootLoaders", "Start BootLoaders", "Start Update...100%",
                               "Update Ready", "Firmware updated to v01.0A"}));
}

TEST_F(UpdaterTest, LostBlockIsWaitedOnUntilTheUpdateIsAbandoned) {
    ring.dropCommand = 0x23;
    ring.dropNth = 2;
    drop(kImageA);
    run();

    EXPECT_EQ(updateTicks, FirmwareUpdater::kUpdateLimitTicks + 1);
    EXPECT_FALSE(updater.blockSenderRunning());
    // The lost block is not sent again and the third never goes out.
    EXPECT_EQ(ring.commands(), (std::vector<int>{0, 0x20, 0x21, 0x23, 0x23, 0x22}));
    EXPECT_EQ(log.lines, logA({"Start BootLoaders", "Start Update...66%", "Updater Timeout"}));
    EXPECT_EQ(log.console, std::vector<std::string>{"END_UPDATE"});
    EXPECT_FALSE(state.bUpdaterMode);
    EXPECT_TRUE(state.flashRdy);
}

TEST_F(UpdaterTest, APollAnswerBackAfterTheEndUpdateDoesNotHideIt) {
    drop(kImageA);
    run([&] { return updater.updaterState == 7; });
    // The poll engine is free again and its info request comes back before the next update tick.
    ring.write(bus::buildIdentityFrame(0x01));
    run();

    EXPECT_EQ(log.lines.back(), "Firmware updated to v01.0A");
    EXPECT_EQ(log.console, std::vector<std::string>{"END_UPDATE"});
    EXPECT_LT(updateTicks, FirmwareUpdater::kUpdateLimitTicks);
}

TEST_F(UpdaterTest, NewFileDuringTheBlocksRestartsWithoutAStrayBlock) {
    drop(kImageA);
    run([&] { return state.flashBsy; }); // block 0 is on its way
    ASSERT_TRUE(updater.blockSenderRunning());

    // A file that is not valid changes nothing.
    log.take(updater.fileRead(readHexImage("/fw/other.hex", std::string_view(":00000001FF\n"))));
    EXPECT_TRUE(updater.blockSenderRunning());
    EXPECT_EQ(updater.updaterState, 5);

    const int restart = ring.step;
    drop(kImageB);
    EXPECT_FALSE(updater.blockSenderRunning());
    EXPECT_FALSE(state.flashBsy);
    EXPECT_EQ(updater.updaterState, 0);
    run();

    // Block 0 of the first image still comes back; nothing else of it goes out.
    EXPECT_EQ(ring.commands(restart + 1), (std::vector<int>{0, 0x20, 0x21, 0x23, 0x22}));
    EXPECT_EQ(log.lines.back(), "Firmware updated to v02.00-beta06");
}

// Stopped by its user at each stage: the end-update frame goes out once, nothing after it, and
// both timers' work ends; an update that is not running is left alone.
TEST_F(UpdaterTest, StopUpdateEndsTheUpdateWithItsEndUpdateFrameAtEveryStage) {
    struct Stage {
        const char* name;
        std::function<bool(const FirmwareUpdater&, const bus::BusState&)> reached;
        std::vector<int> commands; // every frame written, the end-update frame last
        bool sendsEnd;
    };
    const std::vector<Stage> stages = {
        {"boot loaders started",
         [](const auto& u, const auto&) { return u.updaterState == 1; },
         {0, 0x20, 0x22},
         true},
        {"update opened",
         [](const auto& u, const auto&) { return u.updaterState == 4; },
         {0, 0x20, 0x21, 0x22},
         true},
        {"a block in flight",
         [](const auto&, const auto& st) { return st.flashBsy; },
         {0, 0x20, 0x21, 0x23, 0x22},
         true},
        {"end-update sent, its answer awaited",
         [](const auto& u, const auto&) { return u.updaterState == 7; },
         {0, 0x20, 0x21, 0x23, 0x23, 0x23, 0x22},
         false},
    };
    for (const Stage& stage : stages) {
        SCOPED_TRACE(stage.name);
        bus::BusState st;
        FakeRing r{st};
        FirmwareUpdater u{st, r};
        Log l;
        l.take(u.fileRead(readHexImage("/fw/image.hex", test::hexFile(0x7000, kImageA))));
        while (!stage.reached(u, st) && r.step < 100000) {
            ++r.step;
            r.deliver();
            if (u.blockSenderRunning()) {
                l.take(u.timerFw_Tick());
            }
            if (r.step % 10 == 0) {
                l.take(u.updaterTick());
            }
        }
        ASSERT_TRUE(stage.reached(u, st));
        const UpdaterReport report = u.stopUpdate("Update stopped: interrupted");
        l.take(report);
        EXPECT_EQ(report.endUpdateSent, stage.sendsEnd);
        EXPECT_FALSE(u.updateTickRunning());
        EXPECT_FALSE(u.blockSenderRunning());
        EXPECT_FALSE(st.bUpdaterMode);
        EXPECT_EQ(l.texts.back(), "Update stopped: interrupted");
        // The timers' calls after the stop send nothing more.
        for (int i = 0; i < 50; ++i) {
            ++r.step;
            r.deliver();
            l.take(u.timerFw_Tick());
            l.take(u.updaterTick());
        }
        EXPECT_EQ(r.commands(), stage.commands);
        EXPECT_TRUE(u.stopUpdate("again").empty()) << "a stopped update is not running";
    }
    EXPECT_TRUE(updater.stopUpdate("never started").empty());
    EXPECT_TRUE(ring.writes.empty());
}

} // namespace
} // namespace zanst::service
