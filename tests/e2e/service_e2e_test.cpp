// The service tools end to end: the tool's bus engine drives zanst-sim's bank through calibration,
// battery parameters and a firmware update, and the bank's answers show what took effect.

#include "e2e_tool.hpp"
#include "service/hex_image.hpp"
#include "support/hex_text.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using bus::Mode;
using service::CalibrationKind;

struct LogEvent {
    SteadyClock::time_point at;
    std::string text;
    bool newLine;
};

// The tool plus what its service feature reports: the updater log as the window keeps it (a new
// line, or the last one replaced), console lines and the latest bank snapshot.
class ServiceTool {
  public:
    ServiceTool() {
        app::ServiceFeature* service = tool.host.engine()->service();
        QObject::connect(
            service, &app::ServiceFeature::updaterReported, &context_,
            [this](const service::UpdaterReport& report) {
                std::lock_guard lock(mutex_);
                for (const service::UpdaterLogLine& line : report.log) {
                    events_.push_back({SteadyClock::now(), line.text, line.newLine});
                    if (line.newLine || log_.empty()) {
                        log_.push_back(line.text);
                    } else {
                        log_.back() = line.text;
                    }
                }
                if (report.endUpdateSent) {
                    console_.emplace_back(service::kEndUpdateConsoleLine);
                }
            },
            Qt::DirectConnection);
        QObject::connect(
            tool.host.engine()->tester(), &app::TesterFeature::ticked, &context_,
            [this](const tester::TickReport& report) {
                if (!report.polled) {
                    return;
                }
                std::lock_guard lock(mutex_);
                snapshot_ = report.snapshot;
                ++snapshots_;
            },
            Qt::DirectConnection);
    }

    template <typename Fn> void service(Fn&& fn) {
        app::post(tool.host.engine()->service(), std::forward<Fn>(fn));
    }

    // A HEX file read as the window reads it, handed to the updater.
    void dropHex(const std::string& path, const std::string& text) {
        service([r = service::readHexImage(path, text)](app::ServiceFeature& s) mutable {
            s.fileRead(std::move(r));
        });
    }

    std::vector<std::string> log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    // Every log event in order, for failure messages.
    std::string events() const {
        std::lock_guard lock(mutex_);
        std::string out;
        for (const auto& e : events_) {
            out += (e.newLine ? "+ " : "= ") + e.text + "\n";
        }
        return out;
    }
    bool logHas(const std::string& line) const {
        const auto l = log();
        return std::find(l.begin(), l.end(), line) != l.end();
    }
    std::vector<SteadyClock::time_point> timesOf(const std::string& text) const {
        std::lock_guard lock(mutex_);
        std::vector<SteadyClock::time_point> out;
        for (const auto& e : events_) {
            if (e.text == text) {
                out.push_back(e.at);
            }
        }
        return out;
    }
    std::vector<std::string> console() const {
        std::lock_guard lock(mutex_);
        return console_;
    }
    bank::BankSnapshot snapshot() const {
        std::lock_guard lock(mutex_);
        return snapshot_;
    }
    long snapshots() const {
        std::lock_guard lock(mutex_);
        return snapshots_;
    }
    // Waits for a snapshot taken after this call that satisfies `pred`.
    template <typename Pred> bool waitForSnapshot(Pred pred, std::chrono::milliseconds timeout = kLongWait) {
        const long after = snapshots();
        return waitUntil([&] { return snapshots() > after && pred(snapshot()); }, timeout);
    }

    Tool tool;

  private:
    mutable std::mutex mutex_;
    std::vector<LogEvent> events_;
    std::vector<std::string> log_;
    std::vector<std::string> console_;
    bank::BankSnapshot snapshot_;
    long snapshots_ = 0;
    QObject context_;
};

bool allInTestMode(const bank::BankSnapshot& s, std::size_t n) {
    return s.balancers.size() == n && std::all_of(s.balancers.begin(), s.balancers.end(), [](const auto& b) {
               return (b.statusFlags & 0x80) != 0 && b.millivolts.has_value();
           });
}

class ServiceE2E : public testing::Test {
  protected:
    std::unique_ptr<SimProcess> start(std::vector<std::string> args) {
        return startSim(std::move(args), link);
    }

    // The calibration tab with every balancer in test mode and its calibration data polled.
    void enterCalibration(std::size_t balancers) {
        ASSERT_TRUE(t.tool.openPort(link));
        t.tool.selectMode(Mode::Calibration);
        ASSERT_TRUE(t.waitForSnapshot([&](const auto& s) { return allInTestMode(s, balancers); }))
            << "the balancers never reported test mode";
        // One more tick, so that a calibration-data poll has come back in test mode too.
        ASSERT_TRUE(t.waitForSnapshot([](const auto&) { return true; }));
        ASSERT_TRUE(t.waitForSnapshot([](const auto&) { return true; }));
    }

    const bank::BalancerReading& first() {
        last_ = t.snapshot();
        return last_.balancers.front();
    }

    TempDir dir;
    const std::string link = dir / "port";
    ServiceTool t;
    bank::BankSnapshot last_;
};

TEST_F(ServiceE2E, CalibrationChangesTheWorkingValuesUntilReloadAndSaveKeepsThem) {
    auto sim = start({"bank", "--current", "20", "--no-noise"});
    enterCalibration(4);
    const bank::BalancerReading before = first();
    const std::uint16_t secondGain = last_.balancers[1].vGain;
    ASSERT_TRUE(before.millivolts);
    const auto reading = static_cast<quint16>(*before.millivolts);

    // The reference meter reads 20 mV more than the balancer: its voltage gain rises.
    t.service([reading](app::ServiceFeature& s) { s.calibrate(0, CalibrationKind::Voltage, reading + 20); });
    ASSERT_TRUE(sim->waitForLine("0x11: balancer 1 voltage to " + std::to_string(reading + 20) + " mV: done",
                                 kLongWait))
        << sim->transcript();
    ASSERT_TRUE(t.waitForSnapshot([&](const auto& s) { return s.balancers[0].vGain > before.vGain + 30; }))
        << "vGain stayed " << before.vGain;
    // 20 A flow; the reference reads 20.5 A: the current gain of the low-range sensor rises.
    t.service([](app::ServiceFeature& s) { s.calibrate(0, CalibrationKind::CurrentGain, 205); });
    ASSERT_TRUE(t.waitForSnapshot([&](const auto& s) { return s.balancers[0].iGain > before.iGain + 100; }))
        << sim->transcript();
    const auto calibrated = first();
    EXPECT_NEAR(*calibrated.millivolts, reading + 20, 2);
    EXPECT_EQ(last_.balancers[1].vGain, secondGain) << "only the addressed balancer";

    // "Reload cal data" takes the saved page back: the unsaved calibration is gone.
    t.service([](app::ServiceFeature& s) { s.runAction(service::ServiceAction::ReloadCalData); });
    ASSERT_TRUE(sim->waitForLine("0x14: calibration reloaded", kLongWait));
    ASSERT_TRUE(t.waitForSnapshot([&](const auto& s) {
        return s.balancers[0].vGain == before.vGain && s.balancers[0].iGain == before.iGain;
    }));

    // Calibrated and saved, the values survive a reload.
    t.service([reading](app::ServiceFeature& s) {
        s.calibrate(0, CalibrationKind::Voltage, reading + 20);
        s.saveCalibration(0);
    });
    ASSERT_TRUE(sim->waitForLine("0x12: balancer 1 save calibration: done", kLongWait)) << sim->transcript();
    t.service([](app::ServiceFeature& s) { s.runAction(service::ServiceAction::ReloadCalData); });
    ASSERT_TRUE(sim->waitForLine("0x14: calibration reloaded", kLongWait));
    ASSERT_TRUE(t.waitForSnapshot([](const auto&) { return true; }));
    ASSERT_TRUE(t.waitForSnapshot([](const auto&) { return true; }));
    EXPECT_GT(first().vGain, before.vGain + 30);
    EXPECT_EQ(first().iGain, before.iGain);
}

TEST_F(ServiceE2E, BatteryParametersShowAfterTheBalancersAreEnumeratedAgain) {
    auto sim = start({"bank", "--no-noise"});
    enterCalibration(4);
    ASSERT_EQ(first().serial, "SIMA602B001");

    t.service([](app::ServiceFeature& s) { s.setBatteryParameters({"ZNEWSERIAL7", 150, 0xA0C8}); });
    ASSERT_TRUE(sim->waitForLine("0x13: parameters ZNEWSERIAL7, 150 Ah, product A0C8: taken by 4", kLongWait))
        << sim->transcript();
    // The info table was zeroed with the send: the balancers are enumerated afresh.
    ASSERT_TRUE(sim->waitForLine("bank info: 4 records", kLongWait)) << sim->transcript();
    ASSERT_TRUE(t.waitForSnapshot([](const auto& s) {
        return s.balancers.size() == 4 &&
               std::all_of(s.balancers.begin(), s.balancers.end(), [](const auto& b) {
                   return b.serial == "ZNEWSERIAL7" && b.capacity == 150 && b.productId == 0xA0C8;
               });
    })) << sim->transcript();
}

constexpr std::uint32_t kNewVersion = 0x000203FF; // v02.03

class UpdateE2E : public ServiceE2E {
  protected:
    // Opens the port on "Battery tester" and waits for the enumerated bank.
    void enumerate() {
        ASSERT_TRUE(t.tool.openPort(link));
        t.tool.selectMode(Mode::BatteryTester);
        ASSERT_TRUE(t.waitForSnapshot([](const auto& s) {
            return s.balancers.size() == 4 && s.balancers.front().fwVersion == 0x000104FF;
        }));
    }
    // A 3-block image: 5008 bytes.
    void dropImage() {
        const std::string path = dir / "balancer.hex";
        t.dropHex(path, hexFile(0x7000, imageBytes(5008, kNewVersion)));
    }
    bool newVersionEverywhere() {
        return t.waitForSnapshot([](const auto& s) {
            return s.balancers.size() == 4 &&
                   std::all_of(s.balancers.begin(), s.balancers.end(),
                               [](const auto& b) { return b.fwVersion == kNewVersion && b.bootMode == 0; });
        });
    }
};

TEST_F(UpdateE2E, ThreeBlocksEndWithTheNewVersionInEveryBalancer) {
    auto sim = start({"bank", "--no-noise"});
    enumerate();
    t.service([](app::ServiceFeature& s) { s.setForceUpdate(true); }); // "Force update"
    dropImage();
    ASSERT_TRUE(waitUntil([&] { return t.logHas("Firmware updated to v02.03"); }, 30s))
        << t.events() << sim->transcript();
    EXPECT_EQ(t.log(), (std::vector<std::string>{
                           "", "**************** Updater ****************", "File:" + dir / "balancer.hex",
                           "Image size: 5008 bytes", "Version: v02.03", "Start BootLoaders",
                           "Start Update...100%", "Update Ready", "Firmware updated to v02.03"}));
    EXPECT_EQ(t.console(), std::vector<std::string>{"END_UPDATE"});
    EXPECT_TRUE(newVersionEverywhere()) << sim->transcript();
    for (int block = 0; block < 3; ++block) {
        EXPECT_EQ(sim->linesWith("0x23: block " + std::to_string(block) + " written (forced)").size(), 1U)
            << block;
    }
    EXPECT_TRUE(sim->anyLine("0x22: update complete, 3 blocks, firmware v02.03")) << sim->transcript();
}

TEST_F(UpdateE2E, ALostStartOfTheBootLoadersIsSentAgainAfterElevenTicks) {
    auto sim = start({"bank", "--no-noise", "--swallow-command", "0x20"});
    enumerate();
    dropImage();
    ASSERT_TRUE(waitUntil([&] { return t.logHas("Firmware updated to v02.03"); }, 30s))
        << t.events() << sim->transcript();
    const auto starts = t.timesOf("Start BootLoaders");
    ASSERT_EQ(starts.size(), 2U);
    // Sent, eleven ticks of waiting, sent again on the next tick.
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(starts[1] - starts[0]);
    EXPECT_GE(gap, 1150ms);
    EXPECT_LE(gap, 2500ms);
    EXPECT_EQ(sim->linesWith("0x20: frame lost on the ring").size(), 1U);
    EXPECT_EQ(sim->linesWith("0x20: all balancers in their boot loader").size(), 1U);
    EXPECT_TRUE(newVersionEverywhere()) << sim->transcript();
}

TEST_F(UpdateE2E, ABlockThatNeverComesBackEndsTheUpdateAtTheTimeLimitWithoutARepeat) {
    auto sim = start({"bank", "--no-noise", "--swallow-block", "1"});
    enumerate();
    const auto dropped = SteadyClock::now();
    dropImage();
    ASSERT_TRUE(waitUntil([&] { return t.logHas("Updater Timeout"); }, 40s)) << sim->transcript();
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - dropped);
    EXPECT_GE(limit, 20s) << "200 ticks of 100 ms";
    // The end-update frame goes out; the bank refuses it, so no success is logged.
    ASSERT_TRUE(sim->waitForLine("0x22: refused, update FAILED", kLongWait)) << sim->transcript();
    EXPECT_EQ(t.console(), std::vector<std::string>{"END_UPDATE"});
    const auto log = t.log();
    EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
              (std::vector<std::string>{"Start Update...66%", "Updater Timeout"}));
    EXPECT_FALSE(t.logHas("Update Ready"));
    // Blocks are not repeated: 0 came back, 1 was lost, 2 was never sent.
    EXPECT_EQ(sim->linesWith("0x23: block 0 written").size(), 1U);
    EXPECT_EQ(sim->linesWith("0x23: block 1 lost on the ring").size(), 1U);
    EXPECT_EQ(sim->linesWith("0x23: block 1").size(), 1U);
    EXPECT_FALSE(sim->anyLine("0x23: block 2")) << sim->transcript();
}

} // namespace
} // namespace zanst::test
