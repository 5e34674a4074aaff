// The sniffer's echo on its own thread, on a pseudo-terminal pair: the test plays the ring on the
// master side, the pump sits on the slave as it would on the adapter.

#include "adapter/echo_pump.hpp"
#include "adapter/spsc_queue.hpp"
#include "support/pty.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace zanst::adapter {
namespace {

using bus::Bytes;
using std::chrono::milliseconds;

struct Seen {
    Bytes bytes;
    std::vector<std::int64_t> stamps;
    std::uint64_t lostBefore = 0;
};

// Waits on the pump's wake-up and drains it until `count` bytes were handed on or time is up.
void consume(EchoPump& pump, Seen& seen, std::size_t count, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (seen.bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{pump.wakeFd(), POLLIN, 0};
        ::poll(&p, 1, 50);
        pump.drain([&](std::span<const std::uint8_t> bytes, std::int64_t ns, std::uint32_t lost) {
            seen.bytes.insert(seen.bytes.end(), bytes.begin(), bytes.end());
            seen.stamps.push_back(ns);
            seen.lostBefore += lost;
        });
    }
}

// The pump counts a chunk just after it echoed or queued it: wait until it has counted `total`.
EchoStats settled(const EchoPump& pump, std::size_t total) {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(3000);
    EchoStats s = pump.stats();
    while (s.bytesQueued + s.bytesLost < total && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(1));
        s = pump.stats();
    }
    return s;
}

Bytes pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 8));
    }
    return b;
}

class PumpOnPty : public testing::Test {
  protected:
    void SetUp() override {
        slave = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(slave, 0);
        termios t{};
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
        pty.closeSlave(); // only the pump's descriptor stays on the slave
    }
    void TearDown() override {
        if (slave >= 0) {
            ::close(slave);
        }
    }

    test::Pty pty;
    int slave = -1;
};

TEST_F(PumpOnPty, EveryByteComesBackInOrderAndTheConsumerSeesEachWithItsTime) {
    EchoPump pump(slave);
    std::string error;
    ASSERT_TRUE(pump.start(&error)) << error;
    EXPECT_TRUE(pump.running());
    EXPECT_FALSE(pump.priorityText().empty());

    // Bursts as a ring sends them, with pauses between, and one burst larger than a chunk.
    Bytes sent;
    Bytes echoed;
    const auto before = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    for (int burst = 0; burst < 20; ++burst) {
        const Bytes b = pattern(burst == 7 ? 3000 : static_cast<std::size_t>(11 + burst * 13),
                                static_cast<std::uint8_t>(burst));
        pty.write(b);
        sent.insert(sent.end(), b.begin(), b.end());
        const Bytes back = pty.read(b.size(), milliseconds(3000));
        echoed.insert(echoed.end(), back.begin(), back.end());
    }
    EXPECT_EQ(echoed, sent) << "the echo is the ring's traffic, byte for byte";

    Seen seen;
    consume(pump, seen, sent.size(), milliseconds(3000));
    EXPECT_EQ(seen.bytes, sent);
    EXPECT_EQ(seen.lostBefore, 0U);
    ASSERT_FALSE(seen.stamps.empty());
    EXPECT_GE(seen.stamps.front(), before);
    for (std::size_t i = 1; i < seen.stamps.size(); ++i) {
        EXPECT_GE(seen.stamps[i], seen.stamps[i - 1]) << "time stamps never go back";
    }
    const EchoStats s = settled(pump, sent.size());
    EXPECT_EQ(s.bytesRead, sent.size());
    EXPECT_EQ(s.bytesEchoed, sent.size());
    EXPECT_EQ(s.bytesQueued, sent.size());
    EXPECT_EQ(s.bytesLost, 0U);
    pump.stop();
    EXPECT_FALSE(pump.running());
    EXPECT_EQ(pump.failure(), "") << "a stop is no failure";
}

TEST_F(PumpOnPty, AFullQueueCostsTheConsumerBytesNeverTheEcho) {
    EchoPump::Options o;
    o.queueChunks = 4;
    o.raisePriority = false;
    EchoPump pump(slave, o);
    ASSERT_TRUE(pump.start());
    EXPECT_EQ(pump.priority(), PumpPriority::Default);

    // Nobody drains: the queue fills with the first chunks (4 at most), the rest is lost for the
    // consumer but echoed all the same.
    Bytes sent;
    for (int burst = 0; burst < 12; ++burst) {
        const Bytes b = pattern(100, static_cast<std::uint8_t>(burst));
        pty.write(b);
        sent.insert(sent.end(), b.begin(), b.end());
        ASSERT_EQ(pty.read(b.size(), milliseconds(3000)), b);
    }
    const EchoStats s = settled(pump, sent.size());
    EXPECT_EQ(s.bytesEchoed, sent.size());
    EXPECT_GT(s.bytesQueued, 0U);
    EXPECT_LE(s.bytesQueued, 4 * EchoChunk::kBytes);
    EXPECT_EQ(s.bytesLost, sent.size() - s.bytesQueued);

    Seen seen;
    consume(pump, seen, s.bytesQueued, milliseconds(1000));
    EXPECT_EQ(seen.bytes, Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(s.bytesQueued)))
        << "what got in is the start of the traffic, whole";
    EXPECT_EQ(seen.lostBefore, 0U);

    // The next chunk that gets in carries the count of what was lost before it.
    const Bytes more = pattern(50, 99);
    pty.write(more);
    ASSERT_EQ(pty.read(more.size(), milliseconds(3000)), more);
    Seen after;
    consume(pump, after, more.size(), milliseconds(3000));
    EXPECT_EQ(after.bytes, more);
    EXPECT_EQ(after.lostBefore, s.bytesLost);
    EXPECT_EQ(settled(pump, sent.size() + more.size()).bytesLost, s.bytesLost);
}

// The processors' times as /proc/stat gives them, rewritten whole so that the pump never reads half.
class FakeProcStat {
  public:
    FakeProcStat()
        : path_(std::filesystem::temp_directory_path() / ("zanst-stat-" + std::to_string(::getpid()))) {
        advance(50);
    }
    ~FakeProcStat() { std::filesystem::remove(path_); }
    // Another 100 ticks, `idlePercent` of them idle.
    void advance(int idlePercent) {
        idle_ += static_cast<std::uint64_t>(idlePercent);
        total_ += 100;
        const auto tmp = path_.string() + ".new";
        std::ofstream(tmp) << "cpu  " << (total_ - idle_) << " 0 0 " << idle_ << " 0 0 0 0 0 0\n";
        std::filesystem::rename(tmp, path_);
    }
    std::string path() const { return path_.string(); }

  private:
    std::filesystem::path path_;
    std::uint64_t idle_ = 0;
    std::uint64_t total_ = 0;
};

TEST_F(PumpOnPty, RealTimeOnlyWhileNoProcessorIsIdleAndOnlyLookedAtWhileBytesFlow) {
    FakeProcStat stat;
    EchoPump::Options o;
    o.procStat = stat.path();
    EchoPump pump(slave, o);
    ASSERT_TRUE(pump.start());
    if (pump.priority() != PumpPriority::RealTimeFifo &&
        pump.priority() != PumpPriority::RealTimeRoundRobin) {
        GTEST_SKIP() << "this system permits no real-time priority: " << pump.priorityText();
    }
    EXPECT_FALSE(pump.realTimeNow()) << "an echo thread starts at its nice value";

    // Every 50 ms a byte through the ring and another interval of the given idle share; true when
    // the pump reached `realTime` within 3 s.
    Seen seen;
    const auto run = [&](int idlePercent, bool withBytes, bool realTime, milliseconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (std::chrono::steady_clock::now() < deadline) {
            stat.advance(idlePercent);
            if (withBytes) {
                pty.write(Bytes{0x55});
                if (pty.read(1, milliseconds(1000)) != Bytes{0x55}) {
                    return false;
                }
            }
            if (pump.realTimeNow() == realTime) {
                return true;
            }
            std::this_thread::sleep_for(milliseconds(50));
        }
        return pump.realTimeNow() == realTime;
    };
    // Busy, but the line is quiet: nothing is looked at, nothing changes.
    EXPECT_FALSE(run(0, false, true, milliseconds(700)));
    EXPECT_TRUE(run(0, true, true, milliseconds(3000))) << "no processor idle while bytes flow";
    EXPECT_EQ(pump.stats().realTimeTurns, 1U);
    EXPECT_TRUE(run(60, true, false, milliseconds(3000))) << "idle processors again";
    EXPECT_EQ(pump.stats().realTimeTurns, 1U);
    // The pump counts an echo just after its write, so the last may still be on its way to the count.
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(1000);
    while (pump.stats().bytesEchoed < pump.stats().bytesRead && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_EQ(pump.stats().bytesEchoed, pump.stats().bytesRead) << "every byte read went back out";
}

TEST_F(PumpOnPty, AStreamOfSingleBytesWakesTheConsumerSeldomAndEachByteKeepsTheTimeOfItsRead) {
    EchoPump pump(slave);
    ASSERT_TRUE(pump.start());
    // 400 bytes one by one, 50 us apart, as a fast line delivers them to a pseudo-terminal.
    constexpr std::size_t kBytes = 400;
    const Bytes sent = pattern(kBytes, 3);
    std::vector<std::int64_t> writtenAt(kBytes);
    const auto now = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    std::thread line([&] {
        for (std::size_t i = 0; i < kBytes; ++i) {
            writtenAt[i] = now();
            pty.write(Bytes{sent[i]});
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    Seen seen;
    std::vector<std::int64_t> byteTimes;
    int wakes = 0;
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(5000);
    while (seen.bytes.size() < kBytes && std::chrono::steady_clock::now() < deadline) {
        pollfd p{pump.wakeFd(), POLLIN, 0};
        if (::poll(&p, 1, 50) == 1) {
            ++wakes;
        }
        pump.drain([&](std::span<const std::uint8_t> bytes, std::int64_t ns, std::uint32_t) {
            seen.bytes.insert(seen.bytes.end(), bytes.begin(), bytes.end());
            byteTimes.insert(byteTimes.end(), bytes.size(), ns);
        });
    }
    line.join();
    ASSERT_EQ(seen.bytes, sent);
    EXPECT_EQ(pty.read(kBytes, milliseconds(3000)), sent) << "the echo is unchanged";
    // Each byte carries the time it was read, which is after it was written: one time for a whole
    // chunk would date its later bytes before they existed.
    for (std::size_t i = 0; i < kBytes; ++i) {
        ASSERT_GE(byteTimes[i], writtenAt[i]) << "byte " << i;
    }
    // About 30 ms of traffic: told every 2 ms at most, not once per byte.
    EXPECT_LT(wakes, static_cast<int>(kBytes / 4)) << wakes << " wake-ups";
    pump.stop();
}

TEST_F(PumpOnPty, AHangUpEndsThePumpAndWakesTheConsumer) {
    EchoPump pump(slave);
    ASSERT_TRUE(pump.start());
    pty.closeMaster();
    pollfd p{pump.wakeFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 3000), 1) << "the consumer is woken";
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(3000);
    while (pump.failure().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_FALSE(pump.failure().empty());
    EXPECT_FALSE(pump.running());
    pump.stop();
}

TEST_F(PumpOnPty, StopsPromptlyWhileWaitingAndCanStartAgain) {
    EchoPump pump(slave);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(pump.start());
        const auto t0 = std::chrono::steady_clock::now();
        pump.stop();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, milliseconds(500));
    }
    EchoPump closed(-1);
    std::string error;
    EXPECT_FALSE(closed.start(&error));
    EXPECT_EQ(error, "the port is not open");
}

TEST(SpscQueue, HandsOverEveryItemInOrderBetweenTwoThreads) {
    SpscQueue<std::uint64_t> q(64);
    EXPECT_EQ(q.capacity(), 64U);
    EXPECT_EQ(SpscQueue<int>(5).capacity(), 8U) << "rounded up to a power of two";
    constexpr std::uint64_t kItems = 200000;
    std::thread producer([&] {
        for (std::uint64_t i = 0; i < kItems;) {
            if (q.push(i)) {
                ++i;
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::uint64_t expected = 0;
    bool inOrder = true;
    while (expected < kItems) {
        std::uint64_t v = 0;
        if (q.pop(v)) {
            inOrder = inOrder && v == expected;
            ++expected;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    std::uint64_t v = 0;
    EXPECT_FALSE(q.pop(v));
    for (int i = 0; i < 64; ++i) {
        EXPECT_TRUE(q.push(1));
    }
    EXPECT_FALSE(q.push(1)) << "full at its capacity";
    EXPECT_EQ(q.size(), 64U);
}

} // namespace
} // namespace zanst::adapter
