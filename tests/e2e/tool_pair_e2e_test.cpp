// Tool against tool: one engine in "Battery tester" mode polls another in "BMS tester" mode,
// joined by two pseudo-terminals and a relay that copies the bytes both ways, as a cable would.

#include "e2e_tool.hpp"
#include "support/pty.hpp"

#include "bus/identity.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using bank::Column;
using bus::Mode;

// Copies whatever arrives on either pseudo-terminal to the other until destroyed.
class Relay {
  public:
    Relay(Pty& a, Pty& b) : thread_([this, fa = a.masterFd(), fb = b.masterFd()] { run(fa, fb); }) {}
    ~Relay() {
        stop_ = true;
        thread_.join();
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    long bytes() const { return bytes_; }

  private:
    void run(int fa, int fb) {
        std::uint8_t buf[4096];
        while (!stop_) {
            pollfd p[2] = {{fa, POLLIN, 0}, {fb, POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0) {
                continue; // the short time-out only lets the destructor stop the loop
            }
            for (int i = 0; i < 2; ++i) {
                if ((p[i].revents & POLLIN) == 0) {
                    continue;
                }
                const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                if (n > 0) {
                    writeAll(p[1 - i].fd, buf, static_cast<std::size_t>(n));
                    bytes_ += n;
                }
            }
        }
    }
    void writeAll(int fd, const std::uint8_t* data, std::size_t size) {
        while (size > 0 && !stop_) {
            const ssize_t n = ::write(fd, data, size);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
            } else {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 20);
            }
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<long> bytes_{0};
    std::thread thread_;
};

TEST(ToolPairE2E, TesterShowsTheEmulatedBankAndFollowsItsSliders) {
    Pty testerSide;
    Pty emulatorSide;
    Relay relay(testerSide, emulatorSide);

    Tool emulator;
    emulator::BankSettings settings;
    settings.fwVersionIndex = 2;
    settings.voltageMv = emulator::filledCells(3300);
    settings.voltageMv[0] = 3301;
    settings.voltageMv[1] = 3302;
    settings.voltageMv[2] = 3303;
    settings.voltageMv[3] = 3304;
    settings.tempTenths[3] = 255;
    settings.currentA = 25;
    emulator.publishSettings(settings);
    emulator.applyPreset(0, false); // 12,8V/100Ah, 0xA602: four cells
    emulator.selectMode(Mode::BmsTester);
    ASSERT_TRUE(emulator.openPort(emulatorSide.slavePath()));

    Tool tester;
    ASSERT_TRUE(tester.openPort(testerSide.slavePath()));
    tester.selectMode(Mode::BatteryTester);

    ASSERT_TRUE(waitUntil([&] { return measured(tester.lastTable(), 4); }, kLongWait))
        << tester.lastTable().rows.size() << " rows; " << relay.bytes() << " bytes relayed";
    const bank::CellTable table = tester.lastTable();
    EXPECT_EQ(millivolts(table), (std::vector<int>{3301, 3302, 3303, 3304}));
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& row = table.rows[i];
        SCOPED_TRACE("row " + std::to_string(i + 1));
        EXPECT_EQ(row[Column::CellId], std::to_string(i + 1));
        EXPECT_EQ(row[Column::Serial], "HQ2200A6021");
        EXPECT_EQ(row[Column::ProdID], "A602");
        EXPECT_EQ(unitsOf(row[Column::Temp]), i == 3 ? 255 : 200);
    }
    EXPECT_EQ(table.rows[0][Column::Current], "L: 25");
    EXPECT_EQ(table.rows[1][Column::Current], "-");
    EXPECT_EQ(table.rows[2][Column::Current], "H: 25");
    EXPECT_EQ(emulator.emulatorIdentity(), "E4A3/" + std::string(bus::identity::kMasterSerial))
        << "the emulator shows the tester as the BMS that asked";

    // A slider moves on the emulator's tab: the tester shows it within two ticks.
    settings.voltageMv[1] = 3456;
    const auto moved = SteadyClock::now();
    emulator.publishSettings(settings);
    const auto ticksAfter = [&] {
        std::vector<EmittedTable> out;
        for (auto& t : tester.tables()) {
            if (t.at > moved) {
                out.push_back(std::move(t));
            }
        }
        return out;
    };
    ASSERT_TRUE(waitUntil([&] { return ticksAfter().size() >= 2; }, kLongWait));
    const auto after = ticksAfter();
    EXPECT_EQ(millivolts(after[1].table), (std::vector<int>{3301, 3456, 3303, 3304}))
        << "first tick after the change: " << after[0].table.rows[1][Column::Voltage];
}

} // namespace
} // namespace zanst::test
