// Playing a recorded bank into a BMS through the engine without its window: a capture of a
// simulated two-battery bank, played into zanst-sim's BMS which checks every answer against the
// capture, step by step and at ten times the pace in a loop; the BMS's answers captured beside it;
// recordings no model can play refused with the reason; the hold on the emulated bank and its end.

#include "e2e_tool.hpp"
#include "engine/emulator_feature.hpp"
#include "engine/playback_feature.hpp"
#include "playback/recording.hpp"
#include "support/playback_csv.hpp"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using app::PlaybackFeature;
using app::PlaybackLogEntry;
using app::PlaybackReport;
using bus::Mode;
using playback::PlayState;

// What the playback feature emits, kept on the engine's thread as it is emitted.
class Probe {
  public:
    explicit Probe(app::BusEngine* engine) {
        PlaybackFeature* p = engine->playback();
        QObject::connect(
            p, &PlaybackFeature::reported, &context_,
            [this](const PlaybackReport& r) {
                std::lock_guard lock(mutex_);
                reports_.push_back(r);
            },
            Qt::DirectConnection);
        QObject::connect(
            p, &PlaybackFeature::logged, &context_,
            [this](const PlaybackLogEntry& e) {
                std::lock_guard lock(mutex_);
                log_.push_back(e);
            },
            Qt::DirectConnection);
        const auto refusal = [this](const QString& what, const QString& reason) {
            std::lock_guard lock(mutex_);
            refusals_.push_back(what + QStringLiteral(": ") + reason);
        };
        QObject::connect(p, &PlaybackFeature::recordingRefused, &context_, refusal, Qt::DirectConnection);
        QObject::connect(p, &PlaybackFeature::editRefused, &context_, refusal, Qt::DirectConnection);
    }
    PlaybackReport last() const {
        std::lock_guard lock(mutex_);
        return reports_.empty() ? PlaybackReport{} : reports_.back();
    }
    std::size_t reports() const {
        std::lock_guard lock(mutex_);
        return reports_.size();
    }
    std::vector<PlaybackLogEntry> log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    QStringList refusals() const {
        std::lock_guard lock(mutex_);
        return refusals_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<PlaybackReport> reports_;
    std::vector<PlaybackLogEntry> log_;
    QStringList refusals_;
    QObject context_;
};

template <typename Fn> void onPlayback(Tool& tool, Fn fn) {
    app::post(tool.host.engine()->playback(), fn);
}

// As the window's first showing: the first model and the sliders' defaults.
void showWindowDefaults(Tool& tool) {
    tool.applyPreset(0, false);
    tool.publishSettings(emulator::BankSettings{});
}

app::PlaybackSource opened(const std::string& path, const std::string& answers) {
    app::PlaybackOpening o = app::openPlayback(QString::fromStdString(path), QString::fromStdString(answers));
    EXPECT_TRUE(o.source.has_value()) << o.error.toStdString();
    return o.source ? std::move(*o.source) : app::PlaybackSource{};
}

std::vector<int> cellMillivolts(const playback::Step& s) {
    std::vector<int> out;
    for (const playback::CellValues& c : s.cells) {
        out.push_back(c.millivolts);
    }
    return out;
}

// A capture of zanst-sim's bank of two 4-cell batteries charging at 20 A, made by the simulator as
// the battery tester polls it: its cells move by noise and warming from poll to poll.
class PlaybackE2E : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        capture_ = *dir_ / "site.zcap";
        auto sim =
            startSim({"bank", "--batteries", "2", "--current", "20", "--capture", capture_}, *dir_ / "bank");
        Tool tool;
        ASSERT_TRUE(tool.openPort(*dir_ / "bank"));
        tool.selectMode(Mode::BatteryTester);
        ASSERT_TRUE(waitUntil(
            [&] {
                std::size_t full = 0;
                for (const EmittedTable& t : tool.tables()) {
                    full += measured(t.table, 8) ? 1 : 0;
                }
                return full >= 6;
            },
            kLongWait))
            << sim->transcript();
        EXPECT_EQ(sim->stop(), 0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    static TempDir* dir_;
    static std::string capture_;
};
TempDir* PlaybackE2E::dir_ = nullptr;
std::string PlaybackE2E::capture_;

TEST_F(PlaybackE2E, StepByStepEveryAnswerIsTheCapturedStepAndTheAnswersAreCapturedBeside) {
    TempDir answers;
    app::PlaybackSource source = opened(capture_, answers.path());
    const playback::Timeline recorded = source.timeline;
    ASSERT_GE(recorded.steps.size(), 5u);
    ASSERT_EQ(recorded.cellCount, 8);
    ASSERT_EQ(recorded.batteries.size(), 2u);
    // The values change from step to step, so that a stuck bank could not pass.
    std::set<std::vector<int>> distinct;
    for (const playback::Step& s : recorded.steps) {
        distinct.insert(cellMillivolts(s));
    }
    ASSERT_GE(distinct.size(), recorded.steps.size() - 1);

    auto bms = startSim({"bms", "--expect", capture_}, answers / "bms");
    Tool tool;
    Probe probe(tool.host.engine());
    tool.selectMode(Mode::BmsTester);
    showWindowDefaults(tool);
    // The playback holds the bank before the BMS first asks, so every answer it checks is played.
    onPlayback(tool, [s = std::move(source)](PlaybackFeature& p) mutable {
        p.load(std::move(s));
        p.setPace(playback::Pace::Step);
        p.play();
    });
    ASSERT_TRUE(waitUntil([&] { return probe.last().driven.has_value(); }));
    ASSERT_TRUE(tool.openPort(answers / "bms"));

    for (std::size_t k = 0; k < recorded.steps.size(); ++k) {
        const std::string step = "match step " + std::to_string(k + 1) + " at ";
        ASSERT_TRUE(bms->waitForLine(step, kLongWait)) << step << "\n" << bms->transcript();
        if (k + 1 < recorded.steps.size()) {
            onPlayback(tool, [](PlaybackFeature& p) { p.step(1); });
        }
    }
    EXPECT_FALSE(bms->anyLine("MISMATCH")) << bms->transcript();

    // An edit reaches the BMS at once, also while the step stands.
    onPlayback(tool, [](PlaybackFeature& p) {
        p.addEdit(QStringLiteral("cell 2 pinned at 3000 mV from 00:00:00"));
    });
    const auto edited = bms->waitForLine("MISMATCH", kLongWait);
    ASSERT_TRUE(edited) << bms->transcript();
    EXPECT_NE(edited->find("cell 2: 3000 mV, recorded "), std::string::npos) << *edited;
    EXPECT_EQ(edited->find("cell 1:"), std::string::npos) << "only the edited cell differs: " << *edited;

    onPlayback(tool, [](PlaybackFeature& p) { p.stop(); });
    ASSERT_TRUE(waitUntil([&] { return probe.last().state == PlayState::Stopped; }));
    const PlaybackReport end = probe.last();
    EXPECT_EQ(bms->stop(), 0);
    const auto summary = bms->linesWith("expect summary");
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_NE(summary[0].find("steps=" + std::to_string(recorded.steps.size()) + "/" +
                              std::to_string(recorded.steps.size())),
              std::string::npos)
        << summary[0];

    // The answers lie in the folder given, and read back as the bank the BMS was shown.
    ASSERT_FALSE(end.capturePath.isEmpty()) << end.captureError.toStdString();
    EXPECT_EQ(QFileInfo(end.capturePath).absolutePath(),
              QFileInfo(QString::fromStdString(answers.path())).absoluteFilePath());
    const playback::ReadResult back = playback::readRecording(end.capturePath.toStdString());
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(back.timeline->source, "capture (BMS tester)");
    EXPECT_EQ(back.timeline->cellCount, 8);
    std::set<std::vector<int>> shown;
    for (playback::Step s : back.timeline->steps) {
        if (s.cells.size() > 1 && s.cells[1].millivolts == 3000) {
            continue; // after the edit
        }
        shown.insert(cellMillivolts(s));
    }
    std::set<std::vector<int>> all;
    for (const playback::Step& s : recorded.steps) {
        all.insert(cellMillivolts(s));
    }
    EXPECT_EQ(shown, all) << "every step was answered, and nothing else";

    const auto log = probe.log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front().event, PlaybackLogEntry::Event::Started);
    EXPECT_TRUE(log.front().text.contains(QStringLiteral("captured to ") + end.capturePath))
        << log.front().text.toStdString();
    EXPECT_EQ(log.back().event, PlaybackLogEntry::Event::Stopped);
    EXPECT_EQ(log.back().edits, QStringList{QStringLiteral("cell 2 pinned at 3000 mV from 00:00:00")});
}

TEST_F(PlaybackE2E, ABmsThatKnewTheSlidersBankIsToldAndThenGetsRecordedStepsAtTenTimesThePaceInALoop) {
    TempDir answers;
    app::PlaybackSource source = opened(capture_, answers.path());
    auto bms = startSim({"bms", "--expect", capture_}, answers / "bms");
    Tool tool;
    Probe probe(tool.host.engine());
    tool.selectMode(Mode::BmsTester);
    showWindowDefaults(tool);
    ASSERT_TRUE(tool.openPort(answers / "bms"));
    // The BMS knows the sliders' bank: one battery of four cells.
    ASSERT_TRUE(bms->waitForLine("ok balancers=4 ", kLongWait)) << bms->transcript();

    onPlayback(tool, [s = std::move(source)](PlaybackFeature& p) mutable {
        p.load(std::move(s));
        p.setPace(playback::Pace::Tenfold);
        p.setLoop(true);
        p.play();
    });
    // Two batteries now: announced as a model change is, so the BMS asks for the info again.
    ASSERT_TRUE(bms->waitForLine("bank changed (0x31)", kLongWait)) << bms->transcript();
    ASSERT_TRUE(bms->waitForLine("ok balancers=8 ", kLongWait)) << bms->transcript();
    const std::size_t told = bms->lines().size();
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(bms->waitForLine(" match step ", kLongWait)) << bms->transcript();
    }
    const PlaybackReport playing = probe.last();
    EXPECT_EQ(playing.state, PlayState::Playing);
    EXPECT_GE(playing.loops, 3) << "a capture of a few seconds loops several times at 10x";
    onPlayback(tool, [](PlaybackFeature& p) { p.stop(); });
    EXPECT_EQ(bms->stop(), 0);
    const std::vector<std::string> lines = bms->lines();
    int matched = 0;
    std::set<std::string> steps;
    for (std::size_t i = told; i < lines.size(); ++i) {
        if (lines[i].find(" expect #") == std::string::npos) {
            continue;
        }
        EXPECT_NE(lines[i].find(" match step "), std::string::npos) << lines[i];
        const auto at = lines[i].find(" match step ");
        if (at != std::string::npos) {
            ++matched;
            steps.insert(lines[i].substr(at));
        }
    }
    EXPECT_GE(matched, 6);
    EXPECT_GE(steps.size(), 3u) << "the answers follow the recording, not one step";
    const auto summary = bms->linesWith("expect summary");
    ASSERT_EQ(summary.size(), 1u);
    const std::regex loops(R"(loops=(\d+))");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(summary[0], m, loops)) << summary[0];
    EXPECT_GE(std::stoi(m[1]), 1) << "the BMS saw the recording start again: " << summary[0];
}

TEST(PlaybackRefusal, ABankNoModelCanPlayIsRefusedWithTheReason) {
    TempDir dir;
    struct Row {
        std::vector<int> batteries;
        std::string reason;
    };
    const Row rows[] = {
        {{12}, "The recorded battery has 12 cells; the emulator's models have 4, 8 or 16"},
        {{6, 6}, "The recorded batteries have 6 cells each; the emulator's models have 4, 8 or 16"},
        {{4, 8}, "has 8 cells and battery 1 (SER1) has 4: the emulated batteries all have the same number"},
        {std::vector<int>(11, 4),
         "The recording has 11 batteries; the emulated bank has at most 10 in parallel"},
    };
    Tool tool;
    Probe probe(tool.host.engine());
    for (const Row& r : rows) {
        const std::string path = dir / ("bank" + std::to_string(r.batteries.size()) + ".csv");
        std::ofstream(path, std::ios::binary) << csvRecording(r.batteries, 3);
        const app::PlaybackOpening o = app::openPlayback(QString::fromStdString(path), {});
        EXPECT_FALSE(o.source.has_value()) << path;
        EXPECT_TRUE(o.error.contains(QString::fromStdString(r.reason))) << o.error.toStdString();

        // Handed to the engine anyway, it is refused there with the same reason and nothing loads.
        app::PlaybackSource source;
        source.file = QString::fromStdString(path);
        source.timeline = *playback::readRecording(path).timeline;
        source.match = playback::matchPreset(source.timeline);
        onPlayback(tool, [source](PlaybackFeature& p) { p.load(source); });
    }
    ASSERT_TRUE(waitUntil([&] {
        return static_cast<std::size_t>(probe.refusals().size()) == std::size(rows);
    })) << probe.refusals().size();
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_TRUE(probe.refusals()[static_cast<int>(i)].contains(QString::fromStdString(rows[i].reason)))
            << probe.refusals()[static_cast<int>(i)].toStdString();
    }
    EXPECT_EQ(probe.reports(), 0u);

    std::ofstream(dir / "other.csv", std::ios::binary) << "a,b\r\n1,2\r\n";
    const app::PlaybackOpening other = app::openPlayback(QString::fromStdString(dir / "other.csv"), {});
    EXPECT_TRUE(other.error.startsWith(QStringLiteral("Not a recording CSV"))) << other.error.toStdString();
}

TEST(PlaybackHold, TheRecordingHoldsTheBankWhilePlayingAndLeavesItsLastStepUntilTheUserChangesIt) {
    TempDir dir;
    const std::string path = dir / "two.csv";
    std::ofstream(path, std::ios::binary) << csvRecording({4, 4}, 4);
    Tool tool;
    Probe probe(tool.host.engine());
    app::BusEngine* engine = tool.host.engine();
    const auto responder = [&] {
        std::optional<emulator::PlayedBank> played;
        bool held = false;
        tool.host.runBlocking([&] {
            played = engine->emulator()->responder().playedBank();
            held = engine->emulator()->playedBankHeld();
        });
        return std::pair{played, held};
    };
    tool.selectMode(Mode::BmsTester);
    showWindowDefaults(tool);
    onPlayback(tool, [s = opened(path, dir.path())](PlaybackFeature& p) {
        p.load(s);
        p.setPace(playback::Pace::Step);
        p.play();
        p.step(2);
    });
    ASSERT_TRUE(waitUntil([&] { return probe.last().step == 2 && probe.last().driven; }));
    const PlaybackReport playing = probe.last();
    EXPECT_EQ(playing.batteries, 2);
    EXPECT_EQ(playing.driven->played.batteries, 2);
    EXPECT_EQ(playing.driven->sliders.numBatText, "2");
    EXPECT_EQ(playing.driven->played.voltageMv[1][0], csvMillivolts(2, 5))
        << "battery 2's cell 1 is the bank's 5";
    EXPECT_EQ(playing.driven->played.tempTenths[0][0], csvTenths(2));
    EXPECT_EQ(playing.driven->played.currentMa, -12500);
    // The user's settings do not take the bank from a playback.
    tool.publishSettings(emulator::BankSettings{});
    auto [played, held] = responder();
    ASSERT_TRUE(played.has_value());
    EXPECT_TRUE(held);

    // Edits: refused with the reason, or applied to the step shown at once.
    onPlayback(tool, [](PlaybackFeature& p) {
        p.addEdit(QStringLiteral("cell 9 pinned at 3000 mV from 00:00:00"));
        p.addEdit(QStringLiteral("cell 1 pinned at 3.0 V"));
        p.addEdit(QStringLiteral("cell 5 offset -15 mV from 00:00:01"));
    });
    ASSERT_TRUE(waitUntil([&] { return probe.refusals().size() == 2 && probe.last().edits.size() == 1; }));
    EXPECT_TRUE(probe.refusals()[0].contains(QStringLiteral("has no cell 9")))
        << probe.refusals()[0].toStdString();
    EXPECT_EQ(probe.last().driven->played.voltageMv[1][0], csvMillivolts(2, 5) - 15);
    EXPECT_EQ(probe.last().edits[0].fromMs, 1000);
    EXPECT_EQ(probe.last().edits[0].untilMs, -1);

    // Another tab ends the playback; the last step stays in the responder, no longer held.
    tool.selectMode(Mode::Connection);
    ASSERT_TRUE(waitUntil([&] { return probe.last().state == PlayState::Stopped; }));
    EXPECT_EQ(probe.last().ended, QStringLiteral("another tab was selected"));
    std::tie(played, held) = responder();
    ASSERT_TRUE(played.has_value());
    EXPECT_FALSE(held);
    EXPECT_EQ(played->voltageMv[1][0], csvMillivolts(2, 5) - 15);
    const auto log = probe.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().event, PlaybackLogEntry::Event::Stopped);
    EXPECT_TRUE(log.back().text.endsWith(QStringLiteral("another tab was selected")))
        << log.back().text.toStdString();

    // The user's next change of the bank gives it back to the sliders.
    emulator::BankSettings mine;
    mine.voltageMv[0] = 3456;
    tool.publishSettings(mine);
    ASSERT_TRUE(waitUntil([&] { return !responder().first.has_value(); }));

    // The engine's shutdown ends a playback and leaves no timer running.
    tool.selectMode(Mode::BmsTester);
    onPlayback(tool, [](PlaybackFeature& p) {
        p.setPace(playback::Pace::Recorded);
        p.play();
    });
    ASSERT_TRUE(waitUntil([&] { return probe.last().state == PlayState::Playing; }));
    bool timerLeft = true;
    tool.host.runBlocking([&] {
        engine->playback()->shutdown();
        timerLeft = engine->playback()->findChild<QTimer*>()->isActive();
    });
    EXPECT_FALSE(timerLeft);
    EXPECT_EQ(probe.last().state, PlayState::Stopped);
    EXPECT_TRUE(probe.log().back().text.endsWith(QStringLiteral("the tool was closed")))
        << probe.log().back().text.toStdString();
}

} // namespace
} // namespace zanst::test
