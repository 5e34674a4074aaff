// The battery tester and the data sniffer in the bus engine, over a pseudo-terminal: a ring of
// balancers scripted here answers the tool's polls; a scripted BMS and bank feed the sniffer.

#include "bank/cell_rows.hpp"
#include "bus/bytes.hpp"
#include "support/engine_fixture.hpp"
#include "support/records.hpp"

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using bank::Column;
using bus::Bytes;
using bus::Mode;

struct Balancer {
    std::uint16_t id;
    std::uint8_t infoFlags;
    std::string serial;
    int mv;
    int ma;
    std::int16_t temperature;
};

// One request of the tool as it arrives at the ring: the frame and its placeholder records.
struct Request {
    Bytes frame;
    std::vector<Bytes> records;
    std::uint8_t command() const { return frame.size() > 1 ? frame[1] : 0; }
};

// The balancers of a bank, wired as a ring behind the pseudo-terminal.
class ScriptedRing {
  public:
    ScriptedRing(Pty& pty, std::vector<Balancer> balancers) : pty_(pty), balancers_(std::move(balancers)) {}

    // The tool's next frame (wake-up bytes skipped) with the records that follow it.
    std::optional<Request> next(std::chrono::milliseconds timeout) {
        const auto deadline = Pty::Clock::now() + timeout;
        const auto left = [&] {
            return std::max(
                1ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Pty::Clock::now()));
        };
        Request request;
        while (true) {
            const Bytes b = pty_.read(1, left());
            if (b.empty()) {
                return std::nullopt;
            }
            if (b[0] == 0xAA) {
                break;
            }
        }
        request.frame = {0xAA};
        const Bytes head = pty_.read(3, left());
        if (head.size() != 3) {
            return std::nullopt;
        }
        request.frame.insert(request.frame.end(), head.begin(), head.end());
        const Bytes rest = pty_.read(static_cast<std::size_t>(head[2]) + 2, left());
        request.frame.insert(request.frame.end(), rest.begin(), rest.end());
        std::uint8_t following = request.frame[request.frame.size() - 2];
        if (request.command() == 0x01) {
            following = 0; // the balancers append their info records themselves
        }
        while (following != 0) {
            Bytes record = pty_.read(12, left());
            if (record.size() != 12) {
                return std::nullopt;
            }
            following = record[10];
            request.records.push_back(std::move(record));
        }
        return request;
    }

    // What comes back round the ring: the frame, then every balancer's own record.
    void answer(const Request& request) {
        Bytes out = request.frame;
        if (request.command() == 0x01) {
            out[out.size() - 2] = 0x01;
            sealLast(out);
            for (std::size_t i = 0; i < balancers_.size(); ++i) {
                InfoFields f;
                f.id = balancers_[i].id;
                f.flags = balancers_[i].infoFlags;
                f.serial = balancers_[i].serial;
                f.following = i + 1 < balancers_.size() ? 1 : 0;
                const Bytes r = infoRecord(f);
                out.insert(out.end(), r.begin(), r.end());
            }
        } else if (request.command() == 0x02) {
            for (std::size_t i = 0; i < balancers_.size(); ++i) {
                const Balancer& b = balancers_[i];
                const Bytes r = measurementRecord(b.id, 0x40, measurementWord(b.mv, b.ma), b.temperature,
                                                  i + 1 < balancers_.size() ? 2 : 0);
                out.insert(out.end(), r.begin(), r.end());
            }
        }
        pty_.write(out);
    }

    // Reads requests until one with `command` arrives; other frames (test-mode) are passed by.
    std::optional<Request> nextOf(std::uint8_t command, std::chrono::milliseconds timeout = 3000ms) {
        const auto deadline = Pty::Clock::now() + timeout;
        while (Pty::Clock::now() < deadline) {
            auto request =
                next(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Pty::Clock::now()));
            if (request && request->command() == command) {
                return request;
            }
        }
        return std::nullopt;
    }

    const std::vector<Balancer>& balancers() const { return balancers_; }

  private:
    Pty& pty_;
    std::vector<Balancer> balancers_;
};

class TesterPty : public EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        // The rows as the window makes them from the engine's numbers.
        const auto keepRows = [this](const bank::BankSnapshot& snapshot) {
            lastTable = bank::UpdateCellData(snapshot, bus::TextFormat{});
            ++tables;
        };
        QObject::connect(
            host.engine()->tester(), &app::TesterFeature::ticked, &context,
            [this, keepRows](const tester::TickReport& report) {
                if (!report.polled) {
                    return;
                }
                keepRows(report.snapshot);
                const bank::BankTexts texts = bank::bankTexts(report.bank, bus::TextFormat{});
                bank = {QString::fromStdString(texts.setpoint), QString::fromStdString(texts.voltage),
                        QString::fromStdString(texts.current)};
            },
            Qt::QueuedConnection);
        QObject::connect(
            host.engine()->sniffer(), &app::SnifferFeature::reported, &context,
            [this, keepRows](const sniffer::SnifferReport& report) {
                for (const bank::BankSnapshot& snapshot : report.burstsEnded) {
                    keepRows(snapshot);
                }
                for (const sniffer::BmsFieldText& f : report.bmsInfoReceived) {
                    bmsInfo[static_cast<int>(f.field)] = QString::fromLatin1(f.text.c_str());
                }
            },
            Qt::QueuedConnection);
    }

    bank::CellTable lastTable;
    int tables = 0;
    QStringList bank;
    std::map<int, QString> bmsInfo;
};

int setpointOf(const Request& r) {
    return bus::getLe16(r.frame, 4);
}
int bankVoltageOf(const Request& r) {
    return bus::getLe16(r.frame, 8);
}

TEST_F(TesterPty, RingIsEnumeratedPolledWithTheComputedValuesAndForgottenWhenSilent) {
    ScriptedRing ring(pty, {
                               {1, 0x03, "HQ2200A6021", 3400, 20000, 250 * 32}, // measures 20 A, high range
                               {2, 0x00, "HQ2200A6021", 3410, 0, 251 * 32},
                               {3, 0x00, "HQ2200A6021", 3420, 0, 252 * 32},
                           });
    openPty();
    selectMode(Mode::BatteryTester);

    // Enumeration.
    const auto info = ring.nextOf(0x01);
    ASSERT_TRUE(info.has_value()) << "no info request";
    EXPECT_EQ(info->frame.size(), 22u);
    ring.answer(*info);

    // First measurement poll: one placeholder per balancer, nothing measured yet.
    const auto first = ring.nextOf(0x02);
    ASSERT_TRUE(first.has_value()) << "no measurement poll after the enumeration";
    ASSERT_EQ(first->records.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(first->records[i],
                  measurementRecord(static_cast<std::uint16_t>(i + 1), 0, 0, 0, i < 2 ? 2 : 0));
    }
    EXPECT_EQ(setpointOf(*first), 3400) << "no measurements yet: clamped";
    EXPECT_EQ(bankVoltageOf(*first), 3000);
    ring.answer(*first);

    // Second poll: setpoint and bank voltage from the answers, the balancers' values handed back.
    const auto second = ring.nextOf(0x02);
    ASSERT_TRUE(second.has_value());
    // Average 3410, lowest 3400: 3405; 20 A at 5 mV/A: +100.
    EXPECT_EQ(setpointOf(*second), 3505);
    EXPECT_EQ(bankVoltageOf(*second), 3400 + 3410 + 3420);
    ASSERT_EQ(second->records.size(), 3u);
    const auto& b1 = ring.balancers()[0];
    EXPECT_EQ(second->records[0],
              measurementRecord(1, 0x00, measurementWord(b1.mv, b1.ma), b1.temperature, 2))
        << "bit 6 cleared, the rest as the balancer sent it";
    ASSERT_TRUE(waitUntil([&] { return lastTable.rows.size() == 3; }));
    EXPECT_EQ(lastTable.rows[0][Column::Voltage], "3.400");
    EXPECT_EQ(lastTable.rows[0][Column::Current], "H: 20");
    EXPECT_EQ(lastTable.rows[2][Column::Temp], "25.2");
    ASSERT_TRUE(waitUntil([&] { return bank.size() == 3 && bank[0] == "3.505"; }));
    EXPECT_EQ(bank[1], "10.230");
    EXPECT_EQ(bank[2], "20.000");

    // The correction and the system voltage of the tab reach the next poll.
    app::post(host.engine()->tester(), [](app::TesterFeature& t) { t.setSetpointCorrection(1); });
    app::post(host.engine()->tester(), [](app::TesterFeature& t) { t.setSetpointCorrection(0); }); // ignored
    ring.answer(*second);
    const auto third = ring.nextOf(0x02);
    ASSERT_TRUE(third.has_value());
    EXPECT_EQ(setpointOf(*third), 3425); // 20 A at 1 mV/A

    // Silence: the bus counts as silent after four ticks; the table empties and enumeration restarts.
    const int before = tables;
    std::optional<Request> again;
    for (int i = 0; i < 6 && !again; ++i) {
        auto request = ring.next(2500ms);
        ASSERT_TRUE(request.has_value()) << "the tool stopped polling";
        if (request->command() == 0x01) {
            again = request;
        }
    }
    ASSERT_TRUE(again.has_value()) << "no enumeration after the silence";
    ASSERT_TRUE(waitUntil([&] { return tables > before && lastTable.rows.empty(); }));
    const bus::BusState s = snapshot();
    EXPECT_EQ(s.numCells, 0);
    EXPECT_FALSE(s.balancersInfo);
}

TEST_F(TesterPty, SnifferRepeatsTheBmsAndBankTrafficAndDecodesIt) {
    openPty();
    selectMode(Mode::Sniffer);
    pump(100ms);

    // A BMS enumerating a bank of three, then polling it.
    Bytes enumPayload(16, 0);
    bus::putLe16(enumPayload, 0, 0x00A3);
    bus::putAscii(enumPayload, 4, "BMS00000042");
    Bytes stream = frame(0x01, enumPayload, 1);
    for (std::uint16_t id = 1; id <= 3; ++id) {
        InfoFields f;
        f.id = id;
        f.flags = id == 1 ? 0x01 : 0x00;
        f.following = id < 3 ? 1 : 0;
        const Bytes r = infoRecord(f);
        stream.insert(stream.end(), r.begin(), r.end());
    }
    Bytes pollPayload(20, 0);
    bus::putLe16(pollPayload, 0, 3456);
    bus::putLe16(pollPayload, 2, 0xFFFF);
    bus::putLe16(pollPayload, 4, 0x0200);
    bus::putLe16(pollPayload, 6, 0x1234);
    const Bytes poll = frame(0x02, pollPayload, 2);
    stream.insert(stream.end(), poll.begin(), poll.end());
    for (std::uint16_t id = 1; id <= 3; ++id) {
        const Bytes r =
            measurementRecord(id, 0x40, measurementWord(3300 + id, 120), 255 * 32, id < 3 ? 2 : 0);
        stream.insert(stream.end(), r.begin(), r.end());
    }

    pty.write(stream);
    EXPECT_EQ(pty.read(stream.size(), 2000ms), stream) << "every byte once, in order";
    EXPECT_TRUE(pty.readFor(300ms).empty()) << "nothing else is sent in this mode";

    using sniffer::BmsField;
    ASSERT_TRUE(waitUntil([&] { return bmsInfo.size() == 6; }));
    EXPECT_EQ(bmsInfo[static_cast<int>(BmsField::Pid)], "00A3");
    EXPECT_EQ(bmsInfo[static_cast<int>(BmsField::Serial)], "BMS00000042");
    EXPECT_EQ(bmsInfo[static_cast<int>(BmsField::BalancerSetpoint)], "3456");
    EXPECT_EQ(bmsInfo[static_cast<int>(BmsField::BmsCurrent)], "-0.1");
    EXPECT_EQ(bmsInfo[static_cast<int>(BmsField::SystemVbat)], "51.2");
    EXPECT_EQ(bmsInfo[static_cast<int>(BmsField::Status)], "1234");

    ASSERT_TRUE(waitUntil([&] { return tables == 2; })) << "one refresh per burst with records";
    ASSERT_EQ(lastTable.rows.size(), 3u);
    EXPECT_EQ(lastTable.rows[0][Column::Voltage], "3.301");
    EXPECT_EQ(lastTable.rows[0][Column::Current], "L: 0.12");
    EXPECT_EQ(lastTable.rows[2][Column::Temp], "25.5");
    EXPECT_EQ(lastTable.rows[1][Column::Serial], "HQ2200A6021");
}

TEST_F(TesterPty, SnifferKeepsUpWithABankOf160) {
    openPty();
    selectMode(Mode::Sniffer);
    pump(100ms);
    Bytes burst = frame(0x02, Bytes(20, 0), 2);
    for (std::uint16_t id = 1; id <= 160; ++id) {
        const Bytes r =
            measurementRecord(id, 0x40, measurementWord(3200 + id, -250), 200 * 32, id < 160 ? 2 : 0);
        burst.insert(burst.end(), r.begin(), r.end());
    }
    std::mt19937 rng(7);
    Bytes sent;
    Bytes back;
    for (int round = 0; round < 10; ++round) {
        Bytes chunk(static_cast<std::size_t>(rng() % 40), 0x00); // line noise between bursts
        chunk.insert(chunk.end(), burst.begin(), burst.end());
        pty.write(chunk);
        const Bytes echoed = pty.read(chunk.size(), 2000ms);
        sent.insert(sent.end(), chunk.begin(), chunk.end());
        back.insert(back.end(), echoed.begin(), echoed.end());
    }
    EXPECT_EQ(back, sent);
    ASSERT_TRUE(waitUntil([&] { return tables == 10; }));
    ASSERT_EQ(lastTable.rows.size(), 160u);
    EXPECT_EQ(lastTable.rows[159][Column::Voltage], "3.360");
}

} // namespace
} // namespace zanst::test
