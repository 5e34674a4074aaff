#include "sim/bms.hpp"
#include "sim_test_util.hpp"

#include "bus/tables.hpp"

#include <gtest/gtest.h>

namespace zanst::sim {
namespace {

using bus::Bytes;
using test::concat;

const TimePoint t0{};

// What the tool's emulator sends back for an info request: the echo with following 1, then records.
Bytes emulatorInfoAnswer(const Bytes& request, int balancers) {
    Bytes echo = request;
    echo[20] = 0x01;
    test::sealLast(echo);
    Bytes out = concat({Bytes(10, 0), echo});
    for (int i = 1; i <= balancers; ++i) {
        test::InfoFields f;
        f.id = static_cast<std::uint16_t>(i);
        f.flags = (i - 1) % 4 == 0 ? 0x01 : ((i - 1) % 4 == 2 ? 0x03 : 0x00);
        f.following = i < balancers ? 1 : 0;
        const Bytes r = test::infoRecord(f);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

// The emulator's measurement answer: the request unchanged, then one record per cell with the answer
// counter in the high nibble of byte 3.
std::vector<Bytes> emulatorRecords(int balancers, int seq, int mv = 3300, int ma = 0) {
    std::vector<Bytes> out;
    for (int i = 1; i <= balancers; ++i) {
        Bytes r = test::measurementRecord(static_cast<std::uint16_t>(i), 0x40, test::measurementWord(mv, ma),
                                          0x1900, i < balancers ? 2 : 0);
        r[3] = static_cast<std::uint8_t>(seq << 4);
        test::sealLast(r);
        out.push_back(r);
    }
    return out;
}

Message answerOf(const Bytes& request, std::vector<Bytes> records) {
    return Message{request, std::move(records), {}, {}};
}

Bytes measurementRequestFrame() {
    Bytes payload(20, 0);
    bus::putLe16(payload, 0, 3400);
    return test::frame(0x02, payload, 2);
}

struct CheckCase {
    const char* name;
    std::function<void(Bytes& frame, std::vector<Bytes>& records)> damage;
    std::optional<int> previousSequence;
    const char* error; // nullptr: the answer is good
};

class AnswerChecks : public testing::TestWithParam<CheckCase> {};

TEST_P(AnswerChecks, FindTheFaultByteByByte) {
    const CheckCase& c = GetParam();
    const Bytes request = measurementRequestFrame();
    Bytes frame = request;
    std::vector<Bytes> records = emulatorRecords(4, 5);
    c.damage(frame, records);
    CheckRules rules;
    rules.recordType = 0x02;
    rules.expectedRecords = 4;
    rules.expectSequence = true;
    rules.previousSequence = c.previousSequence;
    const CheckResult r = checkAnswer(request, answerOf(frame, records), rules);
    if (c.error == nullptr) {
        EXPECT_TRUE(r.ok()) << c.name << ": " << joinErrors(r.errors);
        EXPECT_EQ(r.sequence, c.previousSequence ? (*c.previousSequence + 1) % 16 : 5);
    } else {
        ASSERT_FALSE(r.ok()) << c.name;
        EXPECT_NE(joinErrors(r.errors).find(c.error), std::string::npos)
            << c.name << ": " << joinErrors(r.errors);
    }
}

void none(Bytes&, std::vector<Bytes>&) {}

INSTANTIATE_TEST_SUITE_P(
    Table, AnswerChecks,
    testing::Values(
        CheckCase{"good answer", none, 4, nullptr},
        CheckCase{"first answer of a session", none, std::nullopt, nullptr},
        CheckCase{"record CRC", [](Bytes&, std::vector<Bytes>& r) { r[1][11] ^= 0x10; }, 4, "record 2: CRC"},
        CheckCase{"frame CRC", [](Bytes& f, std::vector<Bytes>&) { f[25] ^= 0x01; }, 4, "frame CRC"},
        CheckCase{"frame altered",
                  [](Bytes& f, std::vector<Bytes>&) {
                      f[5] = 0x77;
                      test::sealLast(f);
                  },
                  4, "frame byte 5"},
        CheckCase{"wrong id",
                  [](Bytes&, std::vector<Bytes>& r) {
                      r[2][2] = 9;
                      test::sealLast(r[2]);
                  },
                  4, "record 3: id 9, expected 3"},
        CheckCase{"following flag on the last record",
                  [](Bytes&, std::vector<Bytes>& r) {
                      r[3][10] = 2;
                      test::sealLast(r[3]);
                  },
                  4, "record 4: following flag 0x02, expected 0x00"},
        CheckCase{"a record missing", [](Bytes&, std::vector<Bytes>& r) { r.pop_back(); }, 4,
                  "3 records, expected 4"},
        CheckCase{"status without bit 6",
                  [](Bytes&, std::vector<Bytes>& r) {
                      r[0][1] = 0x00;
                      test::sealLast(r[0]);
                  },
                  4, "without bit 6"},
        CheckCase{"counter differs inside one answer",
                  [](Bytes&, std::vector<Bytes>& r) {
                      r[3][3] = 0x60;
                      test::sealLast(r[3]);
                  },
                  4, "answer counter 6, earlier records had 5"},
        CheckCase{"an answer went missing", none, 3, "went missing"},
        CheckCase{"counter wraps after 15", [](Bytes&, std::vector<Bytes>& r) { r = emulatorRecords(4, 0); },
                  15, nullptr}),
    [](const testing::TestParamInfo<CheckCase>& p) { return "case" + std::to_string(p.index); });

class Bms : public testing::Test {
  protected:
    BmsMaster bms{BmsConfig{}, t0};

    std::vector<ExchangeReport> answer(const Bytes& bytes, TimePoint at) {
        return bms.receive(std::span<const std::uint8_t>(bytes), at);
    }
    Bytes requestFrameOf(const Bytes& out, std::size_t size) {
        return Bytes(out.begin() + 10, out.begin() + 10 + static_cast<long>(size));
    }

    void enumerate(int balancers) {
        const Bytes out = bms.poll(t0 + 1s);
        ASSERT_EQ(out.size(), 32U);
        const auto reports = answer(emulatorInfoAnswer(requestFrameOf(out, 22), balancers), t0 + 1s + 2ms);
        ASSERT_EQ(reports.size(), 1U);
        ASSERT_TRUE(reports[0].ok()) << reports[0].line();
    }
};

TEST_F(Bms, AsksForInfoOnceASecondUntilAnswered) {
    EXPECT_TRUE(bms.poll(t0 + 999ms).empty());
    const Bytes out = bms.poll(t0 + 1s);
    ASSERT_EQ(out.size(), 10U + 22U);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), Bytes(10, 0)) << "wake-up bytes";
    const Bytes frame = requestFrameOf(out, 22);
    EXPECT_EQ(frame[1], 0x01);
    EXPECT_EQ(bus::getLe16(frame, 4), BmsConfig{}.productId);
    EXPECT_EQ(std::string(frame.begin() + 8, frame.begin() + 19), BmsConfig{}.serial);
    EXPECT_EQ(frame[21], test::crc8(frame, 21));
    EXPECT_TRUE(bms.poll(t0 + 1500ms).empty()) << "one exchange at a time";

    const auto timedOut = bms.expire(t0 + 1s + BmsConfig{}.answerTimeout);
    ASSERT_TRUE(timedOut);
    EXPECT_EQ(timedOut->outcome, ExchangeReport::Outcome::Timeout);
    EXPECT_NE(timedOut->line().find("TIMEOUT"), std::string::npos);
    EXPECT_NE(timedOut->line().find("nothing came back"), std::string::npos);

    const Bytes again = bms.poll(t0 + 2s);
    ASSERT_EQ(again.size(), 32U);
    EXPECT_EQ(again[11], 0x01) << "still enumerating";
}

TEST_F(Bms, InfoThenMeasurementsWithOnePlaceholderPerBalancer) {
    const Bytes first = bms.poll(t0 + 1s);
    bms.sent(t0 + 1s + 300us);
    const auto reports = answer(emulatorInfoAnswer(requestFrameOf(first, 22), 4), t0 + 1s + 1300us);
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_TRUE(reports[0].ok()) << reports[0].line();
    EXPECT_EQ(reports[0].records, 4);
    EXPECT_NEAR(*reports[0].delayMs, 1.0, 1e-6);
    EXPECT_NE(reports[0].line().find("serials=HQ2200A6021"), std::string::npos) << reports[0].line();
    EXPECT_EQ(bms.knownBalancers(), 4);

    const Bytes out = bms.poll(t0 + 2s);
    ASSERT_EQ(out.size(), 10U + 26U + 4U * 12U);
    const Bytes frame = requestFrameOf(out, 26);
    EXPECT_EQ(frame[1], 0x02);
    EXPECT_EQ(frame[24], 0x02) << "records follow";
    for (std::size_t i = 0; i < 4; ++i) {
        const Bytes r(out.begin() + 36 + static_cast<long>(12 * i),
                      out.begin() + 48 + static_cast<long>(12 * i));
        EXPECT_EQ(r[0], 0x02);
        EXPECT_EQ(r[1] & 0x40, 0) << "bit 6 is the balancers' to set";
        EXPECT_EQ(bus::getLe16(r, 2), i + 1);
        EXPECT_EQ(r[10], i < 3 ? 2 : 0);
        EXPECT_EQ(r[11], test::crc8(r, 11));
    }

    Bytes reply = concat({Bytes(10, 0), frame});
    for (const Bytes& r : emulatorRecords(4, 0, 3312, -12000)) {
        reply.insert(reply.end(), r.begin(), r.end());
    }
    const auto m = answer(reply, t0 + 2s + 1ms);
    ASSERT_EQ(m.size(), 1U);
    EXPECT_TRUE(m[0].ok()) << m[0].line();
    EXPECT_EQ(m[0].cellMv, (std::vector<int>{3312, 3312, 3312, 3312}));
    EXPECT_EQ(m[0].currentMa, -12000);
    EXPECT_NE(m[0].line().find("mV=3312,3312,3312,3312"), std::string::npos) << m[0].line();
    EXPECT_NE(m[0].line().find("seq=0"), std::string::npos) << m[0].line();

    // The next request reports what was measured: setpoint and the string voltage in 0.1 V.
    const Bytes next = requestFrameOf(bms.poll(t0 + 3s), 26);
    EXPECT_EQ(bus::getLe16(next, 4), 3400) << "(3312 + 3312) / 2 clamped to 3400";
    EXPECT_EQ(bus::getLe16(next, 8), 132);
}

TEST_F(Bms, ThreeFailedMeasurementsStartTheEnumerationAgain) {
    enumerate(4);
    for (int i = 0; i < 3; ++i) {
        const TimePoint at = t0 + 2s + std::chrono::seconds(i);
        const Bytes out = bms.poll(at);
        ASSERT_EQ(out[11], 0x02);
        Bytes reply = concat({Bytes(10, 0), requestFrameOf(out, 26)});
        for (const Bytes& r : emulatorRecords(3, i)) { // one balancer short
            reply.insert(reply.end(), r.begin(), r.end());
        }
        const auto reports = answer(reply, at + 1ms);
        ASSERT_EQ(reports.size(), 1U);
        EXPECT_EQ(reports[0].outcome, ExchangeReport::Outcome::Failed);
    }
    EXPECT_TRUE(bms.enumerating());
    EXPECT_EQ(bms.poll(t0 + 5s)[11], 0x01);
    EXPECT_EQ(bms.failedCount(), 3);
}

TEST_F(Bms, ABankChangeAnnouncementRestartsTheEnumeration) {
    enumerate(4);
    Bytes payload(16, 0);
    payload[0] = 0xA3;
    payload[1] = 0xE4;
    EXPECT_TRUE(answer(concat({Bytes(10, 0), test::frame(0x31, payload, 0)}), t0 + 1500ms).empty());
    const auto notes = bms.takeNotes();
    ASSERT_EQ(notes.size(), 1U);
    EXPECT_NE(notes[0].find("0x31"), std::string::npos);
    EXPECT_EQ(bms.poll(t0 + 2s)[11], 0x01);
}

TEST_F(Bms, AnAnswerCutShortTimesOutWithWhatArrived) {
    enumerate(4);
    const Bytes out = bms.poll(t0 + 2s);
    Bytes reply = concat({Bytes(10, 0), requestFrameOf(out, 26)});
    const auto records = emulatorRecords(4, 0);
    for (std::size_t i = 0; i < 2; ++i) {
        reply.insert(reply.end(), records[i].begin(), records[i].end());
    }
    reply.insert(reply.end(), records[2].begin(), records[2].begin() + 5);
    EXPECT_TRUE(answer(reply, t0 + 2s + 1ms).empty());
    const auto r = bms.expire(t0 + 2s + 900ms);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->outcome, ExchangeReport::Outcome::Timeout);
    EXPECT_EQ(r->records, 2);
    EXPECT_NE(r->line().find("answer stopped after 2 records and 5 bytes"), std::string::npos) << r->line();
}

} // namespace
} // namespace zanst::sim
