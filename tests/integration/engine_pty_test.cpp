// The bus engine against a pseudo-terminal, as it would use a USB serial adapter.

#include "bus/frames.hpp"
#include "bus/identity.hpp"
#include "metrics/answer.hpp"
#include "service/actions.hpp"
#include "support/engine_fixture.hpp"
#include "support/records.hpp"

#include <sys/resource.h>

#include <random>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using bus::Bytes;
using bus::Mode;
using test::concat;

Bytes withWakeup(const Bytes& frame) {
    Bytes out(10, 0);
    out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

class EnginePty : public EngineFixture {};

TEST_F(EnginePty, OpensThePseudoTerminalAndReportsItAfterTheSettlePause) {
    const auto start = Pty::Clock::now();
    selectPort(QString::fromStdString(pty.slavePath()));
    ASSERT_TRUE(waitUntil([&] { return sawStatus(PortStatus::Open); }));
    const auto elapsed = Pty::Clock::now() - start;
    EXPECT_GE(elapsed, 450ms);
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses.front().status, PortStatus::Opening);
    EXPECT_EQ(statuses.back().name.toStdString(), pty.slavePath()); // the name as given, not "pts/N"
}

TEST_F(EnginePty, UnopenablePortIsReportedAtOnce) {
    selectPort(QStringLiteral("/dev/does-not-exist-zanst"));
    ASSERT_TRUE(waitUntil([&] { return sawStatus(PortStatus::Failed); }));
    pump(700ms);
    EXPECT_FALSE(sawStatus(PortStatus::Open));
}

TEST_F(EnginePty, ChoosingTheOpenPortAgainReopensIt) {
    openPty();
    selectPort(QString::fromStdString(pty.slavePath()));
    ASSERT_TRUE(waitUntil([&] { return sawStatus(PortStatus::Open); }));
    EXPECT_EQ(statuses.front().status, PortStatus::Opening);
}

// Tabs that leave test mode send exactly one leave frame about 500 ms after the change.
TEST_F(EnginePty, LeaveFrameFollowsTheTabChangeAfterHalfASecond) {
    openPty();
    const Bytes expected = withWakeup(bus::buildTestModeFrame(bus::identity::kWordLeaveTest));
    for (Mode tab : {Mode::BatteryTester, Mode::Connection, Mode::Actions, Mode::Metrics}) {
        const auto start = Pty::Clock::now();
        selectMode(tab);
        const auto first = pty.waitForByte(2000ms);
        ASSERT_NE(first, Pty::Clock::time_point::max()) << "tab " << static_cast<int>(tab);
        const auto delay = first - start;
        EXPECT_GE(delay, 450ms) << static_cast<int>(tab);
        EXPECT_LE(delay, 900ms) << static_cast<int>(tab);
        EXPECT_EQ(pty.read(expected.size(), 1000ms), expected);
        EXPECT_TRUE(pty.readFor(200ms).empty());
    }
}

TEST_F(EnginePty, CalibrationSendsTheEnterFrameAndPollsTwiceASecond) {
    openPty();
    selectMode(Mode::Calibration);
    const Bytes expected = withWakeup(bus::buildTestModeFrame(bus::identity::kWordEnterTest));
    EXPECT_EQ(pty.read(expected.size(), 2000ms), expected);
    int interval = 0;
    bool active = false;
    bool testMode = false;
    host.runBlocking([&] {
        interval = host.engine()->tester()->pollTimerInterval();
        active = host.engine()->tester()->pollTimerActive();
        testMode = host.engine()->state().bTestMode;
    });
    EXPECT_TRUE(active);
    EXPECT_EQ(interval, 500);
    EXPECT_TRUE(testMode);
}

TEST_F(EnginePty, EmulatorAndSnifferTabsSendNothingAndStopPolling) {
    openPty();
    for (Mode tab : {Mode::BmsTester, Mode::Sniffer}) {
        selectMode(tab);
        EXPECT_TRUE(pty.readFor(900ms).empty()) << static_cast<int>(tab);
        bool active = true;
        host.runBlocking([&] { active = host.engine()->tester()->pollTimerActive(); });
        EXPECT_FALSE(active);
    }
}

TEST_F(EnginePty, NothingIsSentWhileDisconnected) {
    selectMode(Mode::BatteryTester);
    EXPECT_TRUE(pty.readFor(900ms).empty());
    bool active = false;
    host.runBlocking([&] { active = host.engine()->tester()->pollTimerActive(); });
    EXPECT_TRUE(active); // the mode changed silently and the poll timer runs
}

// Quick changes drop nothing: every selection that sends a frame sends it, in selection order,
// each at least 500 ms after its selection and after the frame before it; only the latest
// selection decides the mode.
TEST_F(EnginePty, QuickTabChangesSendEveryFrameInOrder) {
    openPty();
    const Bytes leave = withWakeup(bus::buildTestModeFrame(bus::identity::kWordLeaveTest));
    const Bytes enter = withWakeup(bus::buildTestModeFrame(bus::identity::kWordEnterTest));

    const auto t0 = Pty::Clock::now();
    selectMode(Mode::BatteryTester);
    pump(200ms);
    selectMode(Mode::Sniffer);
    const auto first = pty.waitForByte(2000ms);
    EXPECT_GE(first - t0, 450ms);
    EXPECT_EQ(pty.read(leave.size(), 1000ms), leave);
    EXPECT_TRUE(pty.readFor(700ms).empty()); // the sniffer sends nothing, nor does the poll timer
    bool polling = true;
    host.runBlocking([&] { polling = host.engine()->tester()->pollTimerActive(); });
    EXPECT_FALSE(polling) << "the older step must not restart polling under the sniffer";

    selectMode(Mode::Calibration);
    pump(100ms);
    const auto t1 = Pty::Clock::now();
    selectMode(Mode::Connection);
    EXPECT_EQ(pty.read(enter.size(), 2000ms), enter);
    const auto second = pty.waitForByte(2000ms);
    EXPECT_GE(second - t1, 450ms);
    EXPECT_EQ(pty.read(leave.size(), 1000ms), leave);
    EXPECT_TRUE(pty.readFor(700ms).empty()); // one frame each
    bool testMode = true;
    host.runBlocking([&] { testMode = host.engine()->state().bTestMode; });
    EXPECT_FALSE(testMode);
}

// A tab selected while the port was closed sends nothing, even if the port opens meanwhile.
TEST_F(EnginePty, APortOpenedDuringThePauseGetsNoStrayFrame) {
    selectMode(Mode::BatteryTester);
    selectPort(QString::fromStdString(pty.slavePath()));
    EXPECT_TRUE(pty.readFor(1200ms).empty());
}

TEST_F(EnginePty, MasterSideStoresTheBalancersAnswers) {
    openPty();
    selectMode(Mode::BatteryTester);
    pty.read(32, 2000ms); // the leave frame
    InfoFields one;
    one.id = 1;
    one.following = 1;
    InfoFields two = one;
    two.id = 2;
    two.following = 0;
    pty.write(concat({frame(0x01, Bytes(16, 0), 1), infoRecord(one), infoRecord(two)}));
    ASSERT_TRUE(waitUntil([&] { return snapshot().balancersInfo; }));
    const bus::BusState s = snapshot();
    EXPECT_EQ(s.numCells, 2);
    EXPECT_EQ(s.ackReceived, 0x01);
    EXPECT_EQ(s.tables.balInfo[2].serialText(), "HQ2200A6021");
}

TEST_F(EnginePty, ConnectionTabDiscardsReceivedBytes) {
    openPty();
    pty.write(concat({frame(0x01, Bytes(16, 0), 1), infoRecord({})}));
    pump(300ms);
    const bus::BusState s = snapshot();
    EXPECT_EQ(s.numCells, 0);
    EXPECT_EQ(s.ackReceived, 0);
}

TEST_F(EnginePty, SnifferEchoesEveryByteInOrder) {
    openPty();
    selectMode(Mode::Sniffer);
    pump(100ms);
    std::mt19937 rng(42);
    Bytes sent(20000);
    for (auto& b : sent) {
        b = static_cast<std::uint8_t>(rng());
    }
    Bytes back;
    for (std::size_t at = 0; at < sent.size(); at += 500) {
        pty.write(Bytes(sent.begin() + static_cast<long>(at), sent.begin() + static_cast<long>(at + 500)));
        const Bytes part = pty.read(500, 2000ms);
        back.insert(back.end(), part.begin(), part.end());
    }
    EXPECT_EQ(back, sent);
    EXPECT_TRUE(pty.readFor(200ms).empty());
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(EnginePty, ClosedPeerIsAConnectionLossAndTheEngineDoesNotSpin) {
    openPty();
    selectMode(Mode::BatteryTester);
    pty.read(32, 2000ms);
    pty.closeSlave();  // only the engine holds the slave now
    pty.closeMaster(); // the adapter goes away
    ASSERT_TRUE(waitUntil([&] { return sawStatus(PortStatus::Lost); }));
    EXPECT_EQ(statuses.back().name.toStdString(), pty.slavePath());
    bool open = true;
    host.runBlocking([&] { open = host.engine()->ports()->source().isOpen(); });
    EXPECT_FALSE(open);

    const double before = cpuSeconds();
    pump(1000ms); // includes at least one poll tick that would write
    const double used = cpuSeconds() - before;
    EXPECT_LT(used, 0.3) << "the engine keeps busy after the loss";
    int lost = 0;
    for (const auto& e : statuses) {
        lost += e.status == PortStatus::Lost ? 1 : 0;
    }
    EXPECT_EQ(lost, 1);
}

TEST_F(EnginePty, DisconnectClosesThePort) {
    openPty();
    post([](app::BusEngine& e) { e.ports()->disconnectPort(); });
    ASSERT_TRUE(waitUntil([&] { return sawStatus(PortStatus::Idle); }));
    selectMode(Mode::BatteryTester);
    EXPECT_TRUE(pty.readFor(900ms).empty());
}

// A command given while a tab's mode step is pending goes out after the step's frame, in the
// order given, as it did behind the blocking pause.
TEST_F(EnginePty, CommandsGivenDuringAModeStepWaitBehindIt) {
    openPty();
    const Bytes leave = withWakeup(bus::buildTestModeFrame(bus::identity::kWordLeaveTest));
    const Bytes metrics = withWakeup(metrics::buildMetricsRequest(1));
    const Bytes loadOn = withWakeup(service::buildServiceFrame(service::ServiceAction::BalancingLoadOn));
    selectMode(Mode::Metrics);
    post([](app::BusEngine& e) {
        e.modes()->getAllMetrics();
        e.modes()->afterModeSteps([&e] { e.service()->runAction(service::ServiceAction::BalancingLoadOn); });
    });
    EXPECT_EQ(pty.read(leave.size(), 2000ms), leave) << "the leave frame first";
    EXPECT_EQ(pty.read(metrics.size(), 1000ms), metrics) << "then the fetch's request";
    EXPECT_EQ(pty.read(loadOn.size(), 1000ms), loadOn) << "then the action, in the order given";

    // With no step pending a command goes out at once.
    pump(300ms);
    pty.readFor(100ms);
    const auto start = Pty::Clock::now();
    post([](app::BusEngine& e) {
        e.modes()->afterModeSteps([&e] { e.service()->runAction(service::ServiceAction::BalancingLoadOn); });
    });
    const auto first = pty.waitForByte(1000ms);
    EXPECT_LT(first - start, 300ms);
    EXPECT_EQ(pty.read(loadOn.size(), 1000ms), loadOn);
}

// "Get All Metrics" given before another tab was selected begins after its step and is stopped by
// that selection, as behind the blocking pause; it never runs into the next mode.
TEST_F(EnginePty, AFetchGivenBeforeAnotherSelectionEndsWithIt) {
    openPty();
    selectMode(Mode::Metrics);
    post([](app::BusEngine& e) { e.modes()->getAllMetrics(); });
    selectMode(Mode::BatteryTester);
    pump(1500ms);
    bool fetching = true;
    host.runBlocking([&] { fetching = host.engine()->metrics()->fetching(); });
    EXPECT_FALSE(fetching);
}

// The specified periods are kept to the millisecond: a coarse timer stretches or shrinks each
// tick by up to 5 % (475 ms and 950 ms poll ticks were seen).
TEST_F(EnginePty, TheSpecifiedTimersArePrecise) {
    std::vector<std::pair<const char*, Qt::TimerType>> timers;
    host.runBlocking([&] {
        app::BusEngine* e = host.engine();
        timers = {{"poll", e->tester()->pollTimerType()},
                  {"updater tick", e->service()->updateTickType()},
                  {"block sender", e->service()->blockSenderType()}};
    });
    for (const auto& [name, type] : timers) {
        EXPECT_EQ(type, Qt::PreciseTimer) << name;
    }
}

} // namespace
} // namespace zanst::test
