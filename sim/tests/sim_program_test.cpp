// zanst-sim started as a child process and spoken to through its pseudo-terminal, as the tool
// (or a test of the second round) would.

#include "bus/master_receiver.hpp"
#include "bus/protocol.hpp"
#include "bus/records.hpp"
#include "bus/state.hpp"
#include "sim_test_util.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace zanst::sim {
namespace {

using bus::Bytes;
using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using test::TempDir;

// The simulator as a child process; a line not seen in time reads as an empty text.
class SimProcess : public test::SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) : test::SimProcess(ZANST_SIM_PATH, std::move(args)) {}
    std::string waitForLine(const std::string& text, milliseconds timeout = milliseconds(3000)) {
        return test::SimProcess::waitForLine(text, timeout).value_or("");
    }
};

// The tool's end: the device path opened as a serial port.
class Port {
  public:
    explicit Port(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            throw std::runtime_error("cannot open " + path);
        }
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~Port() { ::close(fd_); }
    void write(const Bytes& b) {
        ASSERT_EQ(::write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    // Reads until `count` bytes arrived or the time is up.
    Bytes read(std::size_t count, milliseconds timeout) {
        Bytes out;
        const auto deadline = SteadyClock::now() + timeout;
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now()).count();
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
                break;
            }
            std::uint8_t buf[4096];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0) {
                out.insert(out.end(), buf, buf + n);
            }
        }
        return out;
    }

  private:
    int fd_ = -1;
};

Bytes withWakeup(const Bytes& frame) {
    return test::concat({Bytes(10, 0), frame});
}

Bytes infoRequest() {
    Bytes payload(16, 0);
    payload[0] = 0xA3;
    payload[1] = 0xE4;
    return test::frame(0x01, payload, 0);
}

void feed(bus::MasterReceiver& rx, const Bytes& bytes) {
    for (std::uint8_t b : bytes) {
        rx.feed(b);
    }
}

TEST(Program, BankIsEnumeratedPolledAndFallsSilent) {
    TempDir dir;
    const std::string link = dir / "bank";
    SimProcess sim({"bank", "--link", link, "--preset", "0xA607", "--batteries", "2", "--current", "15",
                    "--silent-after", "3", "--no-noise"});
    ASSERT_FALSE(sim.waitForLine(" ready ").empty());
    ASSERT_TRUE(sim.anyLine("device /dev/pts/"));
    Port port(link);

    // The tool's own receiver takes the answers, as in "Battery tester" mode.
    bus::BusState state;
    bus::MasterReceiver rx(state);
    port.write(withWakeup(infoRequest()));
    const Bytes info = port.read(22 + 16 * 32, milliseconds(1000));
    ASSERT_EQ(info.size(), 22U + 16U * 32U);
    feed(rx, info);
    EXPECT_EQ(state.numCells, 16);
    EXPECT_TRUE(state.balancersInfo);
    EXPECT_EQ(state.tables.balInfo[1].serialText(), "SIMA607B001");
    EXPECT_EQ(state.tables.balInfo[16].serialText(), "SIMA607B002");
    EXPECT_EQ(state.tables.balInfo[3].flags, 0x03);

    port.write(withWakeup(testutil::measurementRequest(3400, 16)));
    const Bytes measurement = port.read(26 + 16 * 12, milliseconds(1000));
    ASSERT_EQ(measurement.size(), 26U + 16U * 12U);
    feed(rx, measurement);
    EXPECT_EQ(state.ackReceived, 0x02);
    for (int id = 1; id <= 16; ++id) {
        const auto& m = state.tables.balancer[static_cast<std::size_t>(id)];
        EXPECT_EQ(m.flags & 0x40, 0x40) << id;
        EXPECT_NEAR(bus::cellVoltageMv(m.measurement), 3330, 100) << id;
        const bool sensor = (id - 1) % 4 == 0 || (id - 1) % 4 == 2;
        EXPECT_EQ(bus::cellCurrentMa(m.measurement) != 0, sensor) << id;
    }
    EXPECT_FALSE(sim.waitForLine("measurement: setpoint 3400 mV, 16 filled").empty());

    ASSERT_FALSE(sim.waitForLine("silent from now on", milliseconds(5000)).empty());
    port.write(withWakeup(infoRequest()));
    EXPECT_TRUE(port.read(1, milliseconds(500)).empty()) << "nothing answers after --silent-after";
    EXPECT_EQ(sim.stop(SIGTERM), 0);
}

TEST(Program, StopsCleanlyOnEitherSignalAndRemovesItsLink) {
    for (int sig : {SIGTERM, SIGINT}) {
        TempDir dir;
        const std::string link = dir / "sim";
        SimProcess sim({"--link", link});
        ASSERT_FALSE(sim.waitForLine(" ready ").empty());
        struct stat st {};
        ASSERT_EQ(::lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        EXPECT_EQ(sim.stop(sig), 0);
        EXPECT_TRUE(sim.anyLine("summary requests=0"));
        EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link left behind after signal " << sig;
    }
}

TEST(Program, RefusesToReplaceAFileAndABadCommandLine) {
    TempDir dir;
    const std::string file = dir / "precious";
    {
        std::FILE* f = std::fopen(file.c_str(), "w");
        std::fputs("keep", f);
        std::fclose(f);
    }
    SimProcess a({"--link", file});
    EXPECT_EQ(a.waitExit(), 2);
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));

    SimProcess b({"--batteries", "12"});
    EXPECT_EQ(b.waitExit(), 2);
    SimProcess c({"--help"});
    EXPECT_EQ(c.waitExit(), 0);
    EXPECT_FALSE(c.waitForLine("--silent-after S").empty());
}

TEST(Program, BmsPollsAndChecksTheAnswersItGets) {
    TempDir dir;
    const std::string link = dir / "bms";
    SimProcess sim({"bms", "--link", link});
    ASSERT_FALSE(sim.waitForLine(" ready ").empty());
    Port port(link);

    const Bytes request = port.read(32, milliseconds(2500));
    ASSERT_EQ(request.size(), 32U);
    Bytes echo(request.begin() + 10, request.end());
    ASSERT_EQ(echo[1], 0x01);
    echo[20] = 0x01;
    test::sealLast(echo);
    Bytes answer = withWakeup(echo);
    for (int i = 1; i <= 4; ++i) {
        test::InfoFields f;
        f.id = static_cast<std::uint16_t>(i);
        f.following = i < 4 ? 1 : 0;
        const Bytes r = test::infoRecord(f);
        answer.insert(answer.end(), r.begin(), r.end());
    }
    port.write(answer);
    EXPECT_FALSE(sim.waitForLine("info #1 ok balancers=4 product=A602 serials=HQ2200A6021").empty());

    const Bytes poll = port.read(10 + 26 + 48, milliseconds(2000));
    ASSERT_EQ(poll.size(), 84U);
    ASSERT_EQ(poll[11], 0x02);
    Bytes reply = withWakeup(Bytes(poll.begin() + 10, poll.begin() + 36));
    for (int i = 1; i <= 4; ++i) {
        const Bytes r = test::measurementRecord(static_cast<std::uint16_t>(i), 0x40,
                                                test::measurementWord(3300 + i, 0), 0x1900, i < 4 ? 2 : 0);
        reply.insert(reply.end(), r.begin(), r.end());
    }
    port.write(reply);
    const std::string line = sim.waitForLine("measurement #2 ");
    EXPECT_NE(line.find("ok balancers=4 mV=3301,3302,3303,3304"), std::string::npos) << line;
    EXPECT_NE(line.find("delay_ms="), std::string::npos) << line;

    // An answer with a broken record is caught.
    const Bytes poll2 = port.read(84, milliseconds(2000));
    ASSERT_EQ(poll2.size(), 84U);
    Bytes bad = withWakeup(Bytes(poll2.begin() + 10, poll2.begin() + 36));
    for (int i = 1; i <= 4; ++i) {
        Bytes r = test::measurementRecord(static_cast<std::uint16_t>(i), 0x40, test::measurementWord(3300, 0),
                                          0x1900, i < 4 ? 2 : 0);
        r[3] = 0x10; // answer counter 1, following counter 0
        test::sealLast(r);
        if (i == 2) {
            r[6] ^= 0x01;
        }
        bad.insert(bad.end(), r.begin(), r.end());
    }
    port.write(bad);
    const std::string failed = sim.waitForLine("measurement #3 ");
    EXPECT_NE(failed.find("FAIL"), std::string::npos) << failed;
    EXPECT_NE(failed.find("record 2: CRC"), std::string::npos) << failed;
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    EXPECT_TRUE(sim.anyLine("summary exchanges="));
}

TEST(Program, RingTellsWhetherTheSnifferRepeatedEveryByte) {
    TempDir dir;
    const std::string link = dir / "ring";
    SimProcess sim({"ring", "--link", link});
    ASSERT_FALSE(sim.waitForLine(" ready ").empty());
    Port port(link);

    const Bytes info = port.read(150, milliseconds(2500));
    ASSERT_EQ(info.size(), 150U);
    port.write(info);
    EXPECT_NE(sim.waitForLine("info #1 ").find("ok balancers=4"), std::string::npos);
    EXPECT_TRUE(sim.anyLine("echo=150/150 echo_ok"));

    Bytes measurement = port.read(74, milliseconds(2000));
    ASSERT_EQ(measurement.size(), 74U);
    measurement[50] ^= 0x80;
    port.write(measurement);
    const std::string line = sim.waitForLine("measurement #2 ");
    EXPECT_NE(line.find("echo_BAD differ=1 first_diff_at=50"), std::string::npos) << line;
    EXPECT_EQ(sim.stop(SIGINT), 0);
}

TEST(Program, SlowBytesArePacedLikeARealLine) {
    TempDir dir;
    const std::string link = dir / "slow";
    SimProcess sim({"--link", link, "--slow-byte-us", "200"});
    ASSERT_FALSE(sim.waitForLine(" ready ").empty());
    Port port(link);
    port.write(withWakeup(infoRequest()));
    const Bytes first = port.read(1, milliseconds(1000));
    ASSERT_EQ(first.size(), 1U);
    const auto start = SteadyClock::now();
    const Bytes rest = port.read(149, milliseconds(2000));
    const auto took = SteadyClock::now() - start;
    ASSERT_EQ(rest.size(), 149U);
    EXPECT_GE(took, milliseconds(25)) << "149 bytes at 200 us each take about 30 ms";
}

// A ring behind a slow adapter: the info answer (150 bytes) reaches the tool in two full packets,
// its tail only when the latency timer expires (the summary tells, in the adapter's own time). The
// BMS, waiting 1 ms, gives up long before the tool's echo is through; the echo is judged whole all
// the same, however late this test repeats it.
TEST(Program, AnAdapterHoldsTheTailOfEachBurstForItsLatency) {
    TempDir dir;
    const std::string link = dir / "ring";
    SimProcess sim({"ring", "--link", link, "--adapter-latency", "16", "--bms-answer-ms", "1"});
    ASSERT_NE(sim.waitForLine(" adapter latency timer 16 ms towards the tool, at most 62 data bytes")
                  .find("40 us a byte on its serial side"),
              std::string::npos);
    ASSERT_FALSE(sim.waitForLine(" ready ").empty());
    Port port(link);

    const Bytes info = port.read(150, milliseconds(2500));
    ASSERT_EQ(info.size(), 150U);
    port.write(Bytes(info.begin(), info.begin() + 124));
    ::usleep(20000);
    port.write(Bytes(info.begin() + 124, info.end()));
    const std::string line = sim.waitForLine("info #1 ");
    EXPECT_NE(line.find("info #1 TIMEOUT "), std::string::npos) << line;
    EXPECT_NE(line.find("echo=150/150 echo_ok"), std::string::npos) << line;

    EXPECT_EQ(sim.stop(SIGTERM), 0);
    // Two full packets and the tail, which waits out the timer; a fourth when the timer expired
    // while the first was filling. (When that early packet makes the rest fit whole packets
    // exactly, nothing waits the full latency: the summary's longest hold is only bounded.)
    const auto adapter = sim.linesWith("adapter summary ");
    ASSERT_EQ(adapter.size(), 1U) << sim.transcript();
    const bool threeOrFour = adapter[0].find(" to_tool_packets=3 ") != std::string::npos ||
                             adapter[0].find(" to_tool_packets=4 ") != std::string::npos;
    EXPECT_TRUE(threeOrFour) << adapter[0];
    EXPECT_NE(adapter[0].find(" to_tool_bytes=150 "), std::string::npos) << adapter[0];
    const auto held = adapter[0].find(" to_tool_held_max_ms=");
    ASSERT_NE(held, std::string::npos) << adapter[0];
    const double heldMs = std::atof(adapter[0].c_str() + held + 21);
    EXPECT_GT(heldMs, 0.0) << adapter[0];
    EXPECT_LE(heldMs, 16.0) << adapter[0];
    const auto ring = sim.linesWith("ring summary ");
    ASSERT_EQ(ring.size(), 1U) << sim.transcript();
    EXPECT_NE(ring[0].find(" timeouts=1 "), std::string::npos) << ring[0];
}

// The adapter on the other side: what the tool sends waits in it before the BMS hears it, so the
// answer the BMS gets is late by the adapter's hold, however fast the tool answered.
TEST(Program, AnAdapterFromTheToolDelaysTheAnswersTheBmsHears) {
    TempDir dir;
    const std::string link = dir / "bms";
    SimProcess sim({"bms", "--link", link, "--adapter-latency", "16", "--adapter-side", "from-tool"});
    ASSERT_FALSE(sim.waitForLine(" adapter latency timer 16 ms from the tool").empty());
    ASSERT_FALSE(sim.waitForLine(" ready ").empty());
    Port port(link);

    const Bytes request = port.read(32, milliseconds(2500));
    ASSERT_EQ(request.size(), 32U) << "towards the tool nothing is held";
    Bytes echo(request.begin() + 10, request.end());
    echo[20] = 0x01;
    test::sealLast(echo);
    Bytes answer = withWakeup(echo);
    for (int i = 1; i <= 4; ++i) {
        test::InfoFields f;
        f.id = static_cast<std::uint16_t>(i);
        f.following = i < 4 ? 1 : 0;
        const Bytes r = test::infoRecord(f);
        answer.insert(answer.end(), r.begin(), r.end());
    }
    port.write(answer);
    const std::string line = sim.waitForLine("info #1 ");
    EXPECT_NE(line.find("info #1 ok balancers=4"), std::string::npos) << line;
    // 160 bytes leave the adapter's serial side 40 us apart, so the answer takes 6.36 ms at least;
    // the tail usually waits 16 ms more, unless the packets happened to come out full.
    const auto at = line.find(" answer_ms=");
    ASSERT_NE(at, std::string::npos) << line;
    EXPECT_GE(std::atof(line.c_str() + at + 11), 6.36) << line;
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    const auto adapter = sim.linesWith("adapter summary ");
    ASSERT_EQ(adapter.size(), 1U) << sim.transcript();
    EXPECT_NE(adapter[0].find(" from_tool_bytes=160 "), std::string::npos) << adapter[0];
    EXPECT_EQ(adapter[0].find("to_tool_"), std::string::npos) << adapter[0];
}

} // namespace
} // namespace zanst::sim
