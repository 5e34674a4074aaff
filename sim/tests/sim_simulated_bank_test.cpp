#include "sim/bank_metrics.hpp"
#include "sim/simulated_bank.hpp"
#include "sim_test_util.hpp"

#include "bus/frames.hpp"
#include "bus/records.hpp"
#include "bus/tables.hpp"
#include "metrics/answer.hpp"
#include "unit/metrics_sample.hpp"

#include <gtest/gtest.h>

namespace zanst::sim {
namespace {

using bus::Bytes;
using testutil::measurementRequest;
using testutil::parse;
using testutil::updateFrame;
using testutil::wordFrame;

const TimePoint t0{};

Bank makeBank(std::uint16_t productId = 0xA602, int batteries = 1, double currentA = 0.0) {
    BankConfig c;
    c.preset = *findPreset(productId);
    c.batteries = batteries;
    c.currentA = currentA;
    c.noise = false;
    return Bank(c, t0);
}

Bytes infoRequest() {
    Bytes payload(16, 0);
    payload[0] = 0xA3;
    payload[1] = 0xE4;
    return test::frame(0x01, payload, 0);
}

// Cuts a bank's answer and checks what every answer must satisfy: CRCs and following flags.
Message cutAnswer(const Bytes& answer) {
    Message m = parse(answer);
    if (m.frame.empty()) {
        return m; // parse() has reported it
    }
    EXPECT_EQ(m.frame.back(), test::crc8(m.frame, m.frame.size() - 1)) << "frame CRC";
    for (std::size_t i = 0; i < m.records.size(); ++i) {
        const Bytes& r = m.records[i];
        EXPECT_EQ(r.back(), test::crc8(r, r.size() - 1)) << "record " << i << " CRC";
        EXPECT_EQ(r[r.size() - 2], i + 1 < m.records.size() ? r[0] : 0) << "record " << i << " following";
    }
    EXPECT_EQ(bus::Bytes(answer.begin(), answer.begin() + static_cast<long>(m.frame.size())), m.frame);
    return m;
}

struct InfoCase {
    std::uint16_t productId;
    int batteries;
    int balancers;
};

class InfoAnswer : public testing::TestWithParam<InfoCase> {};

TEST_P(InfoAnswer, OneRecordPerBalancerWithItsBatterysSerial) {
    const InfoCase& c = GetParam();
    Bank bank = makeBank(c.productId, c.batteries);
    const Bytes request = infoRequest();
    const Answer a = bank.respond(parse(request), t0);
    const Message m = cutAnswer(a.bytes);
    EXPECT_EQ(Bytes(m.frame.begin(), m.frame.begin() + 20), Bytes(request.begin(), request.begin() + 20));
    EXPECT_EQ(m.frame[20], 0x01);
    ASSERT_EQ(static_cast<int>(m.records.size()), c.balancers);
    const int cells = c.balancers / c.batteries;
    for (int i = 0; i < c.balancers; ++i) {
        const Bytes& r = m.records[static_cast<std::size_t>(i)];
        EXPECT_EQ(bus::recordId(r), i + 1);
        const std::uint8_t flags = i % 4 == 0 ? 0x01 : (i % 4 == 2 ? 0x03 : 0x00);
        EXPECT_EQ(r[1], flags) << "balancer " << i + 1;
        EXPECT_EQ(std::string(r.begin() + 4, r.begin() + 15), Bank::serialFor(c.productId, i / cells));
        EXPECT_EQ(bus::getLe16(r, 16), c.productId);
        EXPECT_EQ(r[29], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, InfoAnswer,
                         testing::Values(InfoCase{0xA602, 1, 4}, InfoCase{0xA60A, 3, 24},
                                         InfoCase{0xA612, 10, 160}));

TEST(Bank, SerialsDifferPerBattery) {
    EXPECT_EQ(Bank::serialFor(0xA602, 0), "SIMA602B001");
    EXPECT_EQ(Bank::serialFor(0xA612, 9), "SIMA612B010");
}

TEST(Bank, MeasurementPollFillsEveryBalancersOwnRecord) {
    Bank bank = makeBank(0xA602, 1, 10.0);
    const Bytes request = measurementRequest(3400, 4);
    const Message m = cutAnswer(bank.respond(parse(request), t0).bytes);
    EXPECT_EQ(m.frame, Bytes(request.begin(), request.begin() + 26)) << "the frame comes back as sent";
    ASSERT_EQ(m.records.size(), 4U);
    for (int i = 0; i < 4; ++i) {
        const Bytes& r = m.records[static_cast<std::size_t>(i)];
        EXPECT_EQ(bus::recordId(r), i + 1);
        EXPECT_EQ(r[1] & 0x40, 0x40);
        const auto word = static_cast<std::int32_t>(bus::getLe32(r, 4));
        EXPECT_NEAR(bus::cellVoltageMv(word), 3315, 80);
        const bool sensor = i % 4 == 0 || i % 4 == 2;
        if (sensor) {
            EXPECT_NEAR(bus::cellCurrentMa(word), 10000, 30) << "balancer " << i + 1;
        } else {
            EXPECT_EQ(bus::cellCurrentMa(word), 0) << "balancer " << i + 1;
        }
        EXPECT_NEAR(bus::temperatureTenths(static_cast<std::int16_t>(bus::getLe16(r, 8))), 200, 6);
    }
}

TEST(Bank, BalancersMissingFromThePollAppendTheirRecords) {
    Bank bank = makeBank(0xA607); // 8 cells
    const Message m = cutAnswer(bank.respond(parse(measurementRequest(3400, 3)), t0).bytes);
    ASSERT_EQ(m.records.size(), 8U);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(bus::recordId(m.records[i]), i + 1);
        EXPECT_NE(bus::getLe32(m.records[i], 4), 0U);
    }
}

TEST(Bank, AFrameWithAWrongCrcPassesUntouched) {
    Bank bank = makeBank();
    Bytes request = measurementRequest(3400, 4);
    request[25] ^= 0x5A;
    const Answer a = bank.respond(parse(request), t0);
    EXPECT_EQ(a.bytes, request);
}

TEST(Bank, CalibrationDataCarriesTheWorkingConstants) {
    Bank bank = makeBank();
    Bytes request = test::frame(0x08, Bytes(12, 0), 8);
    for (int i = 1; i <= 4; ++i) {
        const Bytes r = test::calibrationRecord(static_cast<std::uint16_t>(i), 0, 0, 0, 0, i < 4 ? 8 : 0);
        request.insert(request.end(), r.begin(), r.end());
    }
    const Message m = cutAnswer(bank.respond(parse(request), t0).bytes);
    ASSERT_EQ(m.records.size(), 4U);
    for (std::size_t i = 0; i < 4; ++i) {
        const Balancer& b = bank.balancers()[i];
        EXPECT_EQ(bus::getLe16(m.records[i], 4), b.working.vGain);
        EXPECT_EQ(bus::getLe16(m.records[i], 6), b.working.iGain);
        EXPECT_EQ(bus::getLe16(m.records[i], 8), static_cast<std::uint16_t>(b.working.iOffset));
    }
}

struct WordCase {
    std::string_view word;
    bool testMode;
    bool loadOn;
    std::uint8_t statusBits; // expected bits 7 and 1 of the measurement status
};

class TestModeWords : public testing::TestWithParam<WordCase> {};

TEST_P(TestModeWords, ChangeTheStatusOfEveryBalancer) {
    const WordCase& c = GetParam();
    Bank bank = makeBank();
    const Bytes frame = wordFrame(0x10, c.word);
    EXPECT_EQ(bank.respond(parse(frame), t0).bytes, frame) << "comes back around the ring";
    for (const auto& b : bank.balancers()) {
        EXPECT_EQ(b.testMode, c.testMode);
        EXPECT_EQ(b.loadOn, c.loadOn);
    }
    const Message m = cutAnswer(bank.respond(parse(measurementRequest(3400, 4)), t0).bytes);
    for (const auto& r : m.records) {
        EXPECT_EQ(r[1] & 0x82, c.statusBits);
        EXPECT_EQ((r[1] & 0x01) != 0, c.loadOn) << "a switched-on load bleeds";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, TestModeWords,
                         testing::Values(WordCase{"TMEN", true, false, 0x80},
                                         WordCase{"TMLV", false, false, 0x00},
                                         WordCase{"LDON", false, true, 0x02},
                                         WordCase{"LDOF", false, false, 0x00},
                                         WordCase{"XXXX", false, false, 0x00}));

Bytes calibrate(int target, int value, int kind) {
    Bytes payload(20, 0);
    payload[0] = static_cast<std::uint8_t>(target);
    bus::putLe16(payload, 2, static_cast<std::uint16_t>(value));
    payload[4] = static_cast<std::uint8_t>(kind);
    return test::frame(0x11, payload, 0);
}

Bytes parameters(int capacity, int productId, std::string_view serial) {
    Bytes payload(16, 0);
    bus::putLe16(payload, 0, static_cast<std::uint16_t>(capacity));
    bus::putLe16(payload, 2, static_cast<std::uint16_t>(productId));
    for (std::size_t i = 0; i < serial.size(); ++i) {
        payload[4 + i] = static_cast<std::uint8_t>(serial[i]);
    }
    return test::frame(0x13, payload, 0);
}

TEST(Bank, ServiceCommandsChangeWhatTheNextAnswersShow) {
    Bank bank = makeBank();
    const auto info = [&] { return cutAnswer(bank.respond(parse(infoRequest()), t0).bytes).records; };

    bank.respond(parse(calibrate(2, 3320, 1)), t0);
    EXPECT_EQ(bank.balancers()[1].working, bank.balancers()[1].saved) << "refused outside test mode";

    bank.respond(parse(wordFrame(0x10, "TMEN")), t0);
    bank.respond(parse(calibrate(2, 3320, 1)), t0);
    EXPECT_EQ(bank.balancers()[1].reportedMv(), 3320);

    Bytes save(20, 0);
    save[0] = 2;
    bank.respond(parse(test::frame(0x12, save, 0)), t0);
    EXPECT_EQ(info()[1][4], 0) << "saving clears the battery parameters";
    EXPECT_EQ(info()[0][4], 'S') << "of that balancer only";

    const Bytes params = parameters(280, 0xA0C8, "HQ2311A0C81");
    EXPECT_EQ(bank.respond(parse(params), t0).bytes, params);
    for (const Bytes& r : info()) {
        EXPECT_EQ(std::string(r.begin() + 4, r.begin() + 15), "HQ2311A0C81");
        EXPECT_EQ(bus::getLe16(r, 16), 0xA0C8);
        EXPECT_EQ(bus::getLe16(r, 18), 280);
    }

    bank.respond(parse(calibrate(4, 3200, 1)), t0);
    EXPECT_EQ(bank.balancers()[3].reportedMv(), 3200);
    bank.respond(parse(test::frame(0x14, Bytes(10, 0), 0)), t0);
    EXPECT_NE(bank.balancers()[3].reportedMv(), 3200) << "reload takes the saved page back";
}

TEST(Bank, CurrentAdjustmentAddressesOneBatteryBySerial) {
    Bank bank = makeBank(0xA602, 2);
    Bytes payload(20, 0);
    for (std::size_t i = 0; i < 4; ++i) {
        payload[i] = static_cast<std::uint8_t>("GAIN"[i]);
    }
    payload[4] = adjust::kIncreaseGain;
    payload[6] = 2;
    const std::string serial = Bank::serialFor(0xA602, 1);
    for (std::size_t i = 0; i < 11; ++i) {
        payload[8 + i] = static_cast<std::uint8_t>(serial[i]);
    }
    std::vector<std::uint16_t> before;
    for (const auto& b : bank.balancers()) {
        before.push_back(b.working.iGain);
    }
    bank.respond(parse(test::frame(0x30, payload, 0)), t0);
    for (std::size_t i = 0; i < bank.balancers().size(); ++i) {
        const Balancer& b = bank.balancers()[i];
        const bool changes = b.serial == serial && b.measuresCurrent();
        EXPECT_EQ(b.working.iGain, before[i] + (changes ? 20 : 0)) << "balancer " << i + 1;
    }
}

// ---- firmware update ----

Bytes block(int number, std::uint32_t version, std::uint8_t fill) {
    Bytes b = bus::makeDataBlockFrame();
    b[6] = static_cast<std::uint8_t>(number);
    b[8] = static_cast<std::uint8_t>(version >> 24);
    b[9] = static_cast<std::uint8_t>(version >> 16);
    b[10] = static_cast<std::uint8_t>(version >> 8);
    b[11] = static_cast<std::uint8_t>(version);
    unsigned sum = 0;
    for (std::size_t i = 12; i < 2060; ++i) {
        b[i] = fill;
        sum += fill;
    }
    b[2060] = static_cast<std::uint8_t>((sum >> 8) & 0xFF);
    b[2061] = static_cast<std::uint8_t>(sum & 0xFF);
    test::sealLast(b);
    return b;
}

constexpr std::uint32_t kImage = 0x000200FF; // v02.00

class Update : public testing::Test {
  protected:
    Bank bank = makeBank();
    TimePoint now = t0;

    Bytes send(const Bytes& frame) { return bank.respond(parse(frame, now), now).bytes; }
    Message info() { return cutAnswer(bank.respond(parse(infoRequest()), now).bytes); }
    void start() {
        ASSERT_FALSE(send(wordFrame(0x20, "BOOT")).empty());
        for (const Bytes& r : info().records) {
            ASSERT_EQ(r[29], 1) << "bootMode in the info record";
        }
        const Bytes f = updateFrame(0x21, "UPDT-START");
        ASSERT_EQ(send(f), f);
    }
};

TEST_F(Update, BlocksComeBackAndTheNewVersionIsReported) {
    start();
    for (int n = 0; n < 3; ++n) {
        const Bytes b = block(n, kImage, static_cast<std::uint8_t>(n + 1));
        EXPECT_EQ(send(b), b) << "block " << n;
    }
    const Bytes end = updateFrame(0x22, "UPDT-END!!");
    EXPECT_EQ(send(end), end);
    for (const Bytes& r : info().records) {
        EXPECT_EQ(bus::getLe32(r, 20), kImage);
        EXPECT_EQ(r[29], 0);
    }
}

struct BadBlock {
    const char* name;
    int number;
    bool breakChecksum;
    std::uint32_t version;
};

class UpdateRefused : public Update, public testing::WithParamInterface<BadBlock> {};

TEST_P(UpdateRefused, TheBlockDoesNotComeBackAndTheUpdateFails) {
    const BadBlock& c = GetParam();
    start();
    ASSERT_FALSE(send(block(0, kImage, 0x11)).empty());
    Bytes bad = block(c.number, c.version, 0x22);
    if (c.breakChecksum) {
        bad[500] ^= 0x01;
        test::sealLast(bad); // the frame CRC is right; only the block checksum is wrong
    }
    const Answer refused = bank.respond(parse(bad), now);
    EXPECT_TRUE(refused.bytes.empty()) << c.name;
    EXPECT_NE(refused.line.find("REFUSED"), std::string::npos) << refused.line;
    EXPECT_TRUE(send(block(1, kImage, 0x22)).empty()) << "nothing more is written";
    EXPECT_TRUE(send(updateFrame(0x22, "UPDT-END!!")).empty()) << "the end does not come back either";
    for (const Bytes& r : info().records) {
        EXPECT_EQ(bus::getLe32(r, 20), kFactoryFirmware);
        EXPECT_EQ(r[29], 1) << "the balancers stay in their boot loader";
    }
    now += Bank::kBootLoaderIdle * 2;
    EXPECT_EQ(info().records.at(0)[29], 1) << "an erased application cannot start";
    start();
    send(block(0, kImage, 1));
    send(updateFrame(0x22, "UPDT-END!!"));
    EXPECT_EQ(info().records.at(0)[29], 0) << "a complete update recovers them";
}

INSTANTIATE_TEST_SUITE_P(Table, UpdateRefused,
                         testing::Values(BadBlock{"wrong checksum", 1, true, kImage},
                                         BadBlock{"block out of order", 2, false, kImage},
                                         BadBlock{"image version changes", 1, false, 0x000300FF}));

TEST_F(Update, EndWithoutBlocksFails) {
    start();
    EXPECT_TRUE(send(updateFrame(0x22, "UPDT-END!!")).empty());
    EXPECT_EQ(bank.update().phase, UpdateState::Phase::Failed);
}

TEST_F(Update, AnIdleBootLoaderStartsTheApplicationAgain) {
    send(wordFrame(0x20, "BOOT"));
    now += Bank::kBootLoaderIdle - 1s;
    EXPECT_EQ(info().records.at(0)[29], 1);
    now += 2s;
    EXPECT_EQ(info().records.at(0)[29], 0);
}

TEST_F(Update, BlocksOutsideAnUpdatePassOn) {
    const Bytes b = block(0, kImage, 1);
    EXPECT_EQ(send(b), b);
    const Bytes f = updateFrame(0x21, "UPDT-START");
    EXPECT_EQ(send(f), f) << "no boot loader running: the start passes on";
    EXPECT_EQ(bank.update().phase, UpdateState::Phase::Idle);
}

// ---- how the values move ----

int measuredMv(Bank& bank, int setpoint, std::size_t index, TimePoint at) {
    const Message m = cutAnswer(bank.respond(parse(measurementRequest(setpoint, 0), at), at).bytes);
    return bus::cellVoltageMv(static_cast<std::int32_t>(bus::getLe32(m.records.at(index), 4)));
}

TEST(BankDynamics, TheHighCellCreepsUpUnlessBalancedThenBleedsDown) {
    Bank bank = makeBank();
    const int start = measuredMv(bank, 0, 2, t0);
    const int neighbour = measuredMv(bank, 0, 1, t0);
    EXPECT_GT(start - neighbour, 50) << "cell 3 runs high";
    // No setpoint from the master: nothing balances, the cell creeps.
    const int crept = measuredMv(bank, 0, 2, t0 + 120s);
    EXPECT_GT(crept, start + 3);
    EXPECT_FALSE(bank.balancers()[2].bleeding);
    // A setpoint under it: it bleeds down until it reaches the setpoint; the others stay put.
    const int setpoint = neighbour + 20;
    TimePoint t = t0 + 120s;
    measuredMv(bank, setpoint, 2, t);
    EXPECT_TRUE(bank.balancers()[2].bleeding);
    EXPECT_FALSE(bank.balancers()[1].bleeding);
    for (int i = 0; i < 300; ++i) {
        t += 1s;
        measuredMv(bank, setpoint, 2, t);
    }
    EXPECT_NEAR(measuredMv(bank, setpoint, 2, t), setpoint, 3);
    EXPECT_NEAR(measuredMv(bank, setpoint, 1, t), neighbour, 2);
}

TEST(BankDynamics, TestModeAndAStaleSetpointStopBalancing) {
    Bank bank = makeBank();
    measuredMv(bank, 3300, 2, t0);
    EXPECT_TRUE(bank.balancers()[2].bleeding);
    bank.advance(t0 + Bank::kSetpointLifetime + 1s);
    EXPECT_FALSE(bank.balancers()[2].bleeding) << "the master went quiet";
    measuredMv(bank, 3300, 2, t0 + 20s);
    bank.respond(parse(wordFrame(0x10, "TMEN")), t0 + 20s);
    EXPECT_FALSE(bank.balancers()[2].bleeding) << "test mode holds the balancing";
}

struct CurrentCase {
    double amps;
    int direction; // sign of the voltage change over ten minutes
    int minWarmingTenths;
};

class BankCurrent : public testing::TestWithParam<CurrentCase> {};

TEST_P(BankCurrent, VoltagesDriftAndCellsWarmWithCurrent) {
    const CurrentCase& c = GetParam();
    Bank bank = makeBank(0xA602, 1, c.amps);
    const int before = measuredMv(bank, 0, 0, t0);
    const double tempBefore = bank.balancers()[0].tempTenths;
    const int after = measuredMv(bank, 0, 0, t0 + 600s);
    const int change = after - before;
    EXPECT_EQ((change > 2) - (change < -2), c.direction) << c.amps << " A: " << before << " -> " << after;
    EXPECT_GE(bank.balancers()[0].tempTenths - tempBefore, c.minWarmingTenths);
}

INSTANTIATE_TEST_SUITE_P(Table, BankCurrent,
                         testing::Values(CurrentCase{0.0, 0, 0}, CurrentCase{20.0, 1, 20},
                                         CurrentCase{-50.0, -1, 50}));

TEST(BankMetrics, EveryBatteryKeepsItsOwnLifeAndItsMatrixAddsUpToIt) {
    BankConfig config;
    config.batteries = 10;
    metrics::MetricsMetadata older;
    for (int battery = 1; battery <= 10; ++battery) {
        SCOPED_TRACE(battery);
        const metrics::MetricsMetadata m = simulatedMetrics(config, battery);
        EXPECT_EQ(m.instanceNumber, battery);
        std::uint64_t sum = 0;
        for (const auto& byTemperature : m.timeMatrix) {
            for (const auto& byCRate : byTemperature) {
                for (std::uint32_t seconds : byCRate) {
                    sum += seconds;
                }
            }
        }
        EXPECT_EQ(sum, m.secsLifeSpan);
        EXPECT_LT(m.secsInSub01C, m.secsLifeSpan);
        if (battery > 1) {
            EXPECT_GT(m.secsLifeSpan, older.secsLifeSpan);
            EXPECT_LT(m.cyclesBeforeEOL, older.cyclesBeforeEOL);
            EXPECT_GE(m.secsAtIRAbove225perc, older.secsAtIRAbove225perc);
        }
        EXPECT_EQ(simulatedMetrics(config, battery), m) << "the same seed gives the same metrics";
        older = m;
    }
}

TEST(BankMetrics, BatteryNAnswersInstanceNBehindTheRequest) {
    BankConfig config;
    config.batteries = 3;
    config.metricsSilent = 2;
    Bank bank(config, t0);
    struct Row {
        int instance;
        bool answered;
    };
    for (const Row& row : {Row{1, true}, Row{2, false}, Row{3, true}, Row{4, false}, Row{0, false}}) {
        SCOPED_TRACE(row.instance);
        const Bytes request = metrics::buildMetricsRequest(row.instance);
        Message m;
        m.frame = request;
        const Answer a = bank.respond(m, t0);
        ASSERT_GE(a.bytes.size(), request.size());
        EXPECT_EQ(Bytes(a.bytes.begin(), a.bytes.begin() + static_cast<long>(request.size())), request);
        const Bytes behind(a.bytes.begin() + static_cast<long>(request.size()), a.bytes.end());
        if (!row.answered) {
            EXPECT_TRUE(behind.empty());
            continue;
        }
        const metrics::DecodedAnswer decoded = metrics::decodeMetricsAnswer(behind);
        ASSERT_TRUE(decoded.record) << metrics::answerErrorText(decoded.error);
        EXPECT_EQ(*decoded.record, simulatedMetrics(config, row.instance));
    }
}

TEST(BankMetrics, EveryBatteryAnswersWithTheLayoutAndAChecksumTheToolAccepts) {
    for (const std::uint32_t seed : {1u, 7u, 4242u}) {
        BankConfig config;
        config.seed = seed;
        config.batteries = kMaxBatteries;
        for (int battery = 1; battery <= kMaxBatteries; ++battery) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", battery " + std::to_string(battery));
            const metrics::MetricsMetadata m = simulatedMetrics(config, battery);
            EXPECT_EQ(m.layoutVersion, metrics::kLayoutVersion);
            EXPECT_EQ(m.storeChecksum, test::referenceStoreChecksum(m));
            const metrics::DecodedAnswer decoded =
                metrics::decodeMetricsAnswer(metrics::buildMetricsAnswer(m));
            EXPECT_EQ(decoded.error, metrics::AnswerError::None) << metrics::answerErrorText(decoded.error);
        }
    }
}

} // namespace
} // namespace zanst::sim
