// The responder against a scripted BMS: what goes back on the bus, byte for byte.

#include "emulator/responder.hpp"
#include "support/fake_port.hpp"
#include "support/records.hpp"

#include "bus/hex.hpp"
#include "bus/identity.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace zanst::emulator {
namespace {

using bus::Bytes;
using test::concat;

Bytes withWakeup(const Bytes& frame) {
    Bytes out(10, 0);
    out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

// The BMS's info request: its product id and serial in the places of the tool's own.
Bytes infoRequest(std::uint16_t pid = 0xE4A3, const std::string& serial = "BMSSERIAL01") {
    Bytes payload(16, 0);
    bus::putLe16(payload, 0, pid);
    bus::putAscii(payload, 4, serial);
    return test::frame(0x01, payload, 0);
}

// The BMS's measurement request with `records` placeholder records behind it.
Bytes measurementRequest(int records, std::int16_t currentTenths = -15, std::uint16_t voltageTenths = 132,
                         std::uint8_t lastByte3 = 0) {
    Bytes payload(20, 0x11);
    bus::putLe16(payload, 0, 3350); // balancing setpoint, carried in the echo only
    bus::putLe16(payload, 2, static_cast<std::uint16_t>(currentTenths));
    bus::putLe16(payload, 4, voltageTenths);
    Bytes out = test::frame(0x02, payload, records > 0 ? 2 : 0);
    for (int i = 1; i <= records; ++i) {
        Bytes r = test::measurementRecord(static_cast<std::uint16_t>(i), 0x00, 0, 0, i < records ? 2 : 0);
        if (i == records) {
            r[3] = lastByte3;
            test::sealLast(r);
        }
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

test::InfoFields expectedInfo(int i, int cells, const std::string& serialBase, std::uint16_t pid,
                              std::uint16_t capacity, int count, std::uint8_t minor = 2) {
    test::InfoFields f;
    f.id = static_cast<std::uint16_t>(i + 1);
    f.flags = i % 4 == 0 ? 0x01 : (i % 4 == 2 ? 0x03 : 0x00);
    f.serial = serialBase + static_cast<char>('1' + i / cells);
    f.productId = pid;
    f.capacity = capacity;
    f.fwVersion = 0x000100FFu | (static_cast<std::uint32_t>(minor) << 8);
    f.following = i < count - 1 ? 1 : 0;
    return f;
}

struct Shown {
    std::vector<std::pair<std::string, std::string>> identity;
    std::vector<std::pair<std::string, std::string>> measurement;
    std::vector<BatteriesInParallel> numbat;
    int refreshed = 0;
    int fwDefaulted = 0;
    std::vector<bool> ownAnswers;
};

// What the responder's reports said, as texts the window would show.
class Recorder {
  public:
    explicit Recorder(Shown& s) : s_(s) {}
    void take(const ResponderReport& r) {
        if (r.identityReceived) {
            s_.identity.emplace_back(bus::ConvertHex1(r.identityReceived->productId, 4),
                                     r.identityReceived->serial);
        }
        if (r.measurementReceived) {
            s_.measurement.emplace_back(bus::tenthsText(r.measurementReceived->voltageTenths),
                                        bus::groupedTenthsText(r.measurementReceived->currentTenths));
        }
        if (r.batteriesInParallelRead) {
            s_.numbat.push_back(*r.batteriesInParallelRead);
        }
        s_.refreshed += r.measurementAnswered ? 1 : 0;
        s_.fwDefaulted += r.firmwareVersionDefaulted ? 1 : 0;
        if (r.ownAnswersReturning) {
            s_.ownAnswers.push_back(*r.ownAnswersReturning);
        }
    }

  private:
    Shown& s_;
};

class ResponderTest : public testing::Test {
  protected:
    bus::BusState state;
    test::FakePort port;
    Shown shown;
    Recorder recorder{shown};
    BmsResponder responder{state, port};

    void SetUp() override { usePreset(0); }

    void usePreset(int listIndex, const std::string& numbat = "1", int fw = 2) {
        responder.setPreset(bankPresetForListIndex(listIndex));
        BankSettings s = responder.settings();
        s.numBatText = numbat;
        s.fwVersionIndex = fw;
        responder.setSettings(s);
    }
    // One receive pass; its report goes to `shown`.
    void feed(const Bytes& bytes) { recorder.take(responder.serialBMSdataParser(bytes)); }
    Bytes exchange(const Bytes& request) {
        port.writes.clear();
        feed(request);
        return port.all();
    }
};

TEST_F(ResponderTest, InfoAnswerForPresetA602IsTheEchoAndFourRecords) {
    const Bytes request = infoRequest();
    const Bytes out = exchange(request);

    Bytes echo = request;
    echo[20] = 0x01;
    test::sealLast(echo);
    Bytes expected = withWakeup(echo);
    for (int i = 0; i < 4; ++i) {
        const Bytes r = test::infoRecord(expectedInfo(i, 4, "HQ2200A602", 0xA602, 100, 4));
        expected.insert(expected.end(), r.begin(), r.end());
    }
    EXPECT_EQ(out, expected);
    ASSERT_EQ(shown.identity.size(), 1u);
    EXPECT_EQ(shown.identity[0], std::make_pair(std::string("E4A3"), std::string("BMSSERIAL01")));
    EXPECT_TRUE(responder.bmsTesterBalancersInfoReceived());
    EXPECT_EQ(state.ackReceived, 0x01);
    EXPECT_FALSE(responder.frameRx());
}

TEST_F(ResponderTest, TenBatteriesOfSixteenCellsGive160RecordsAndTheColonSerial) {
    usePreset(12, "10");
    const Bytes out = exchange(infoRequest());
    ASSERT_EQ(out.size(), 10u + 22u + 160u * 32u);
    for (int i = 0; i < 160; ++i) {
        const Bytes expected = test::infoRecord(expectedInfo(i, 16, "HQ2200A612", 0xA612, 105, 160));
        const Bytes got(out.begin() + 32 + i * 32, out.begin() + 32 + (i + 1) * 32);
        ASSERT_EQ(got, expected) << "record " << i;
    }
    const std::size_t last = 32 + 159 * 32;
    EXPECT_EQ(
        std::string(out.begin() + static_cast<long>(last) + 4, out.begin() + static_cast<long>(last) + 15),
        "HQ2200A612:");
    EXPECT_EQ(out[last + 2], 160);
}

TEST_F(ResponderTest, CapacityIsReportedAsAtLeastFifty) {
    BankPreset small = bankPresetForListIndex(0);
    small.info.capacityAh = 20;
    responder.setPreset(small);
    const Bytes out = exchange(infoRequest());
    ASSERT_EQ(out.size(), 32u + 4 * 32u);
    EXPECT_EQ(bus::getLe16(out, 32 + 18), 50);
}

// Batteries in parallel: whole numbers only, capped at 10; anything else leaves the echo alone.
TEST_F(ResponderTest, BatteriesInParallelDecideTheRecordCount) {
    struct Row {
        std::string text;
        std::size_t records;
        bool read;
        std::string shownText;
    };
    const Row rows[] = {
        {"1", 4, true, "1"},
        {"3", 12, true, "3"},
        {"10", 40, true, "10"},
        {"15", 40, true, "10"},
        {"99999999999", 40, true, "10"},
        {"0", 0, true, "0"},
        {"-2", 0, true, "-2"},
        {"abc", 0, false, ""},
        {"2.5", 0, false, ""},
        {"", 0, false, ""},
        {" 3", 0, false, ""},
    };
    for (const auto& r : rows) {
        shown = {};
        usePreset(0, r.text);
        const Bytes out = exchange(infoRequest());
        ASSERT_EQ(out.size(), 32u + r.records * 32u) << r.text;
        if (r.records > 0) {
            EXPECT_EQ(out[out.size() - 2], 0x00) << "last record marked, " << r.text;
            EXPECT_EQ(out[out.size() - 34], 0x01) << "second last record not marked, " << r.text;
        }
        ASSERT_EQ(shown.numbat.size(), r.read ? 1u : 0u) << r.text;
        if (r.read) {
            EXPECT_EQ(shown.numbat[0].text, r.shownText) << r.text;
        }
        EXPECT_EQ(out[30], 0x01) << "the echo announces records, " << r.text;
    }
}

TEST_F(ResponderTest, FirmwareMinorByteFollowsTheSelector) {
    struct Row {
        int selector;
        std::uint8_t minor;
        int defaulted;
    };
    for (const Row r : {Row{0, 0, 0}, Row{1, 1, 0}, Row{2, 2, 0}, Row{-1, 2, 1}}) {
        shown = {};
        usePreset(0, "1", r.selector);
        const Bytes out = exchange(infoRequest());
        ASSERT_EQ(out.size(), 32u + 4 * 32u);
        EXPECT_EQ(out[32 + 21], r.minor) << r.selector;
        EXPECT_EQ(bus::getLe32(out, 32 + 20), 0x000100FFu | (r.minor << 8)) << r.selector;
        EXPECT_EQ(shown.fwDefaulted, r.defaulted) << r.selector;
    }
}

TEST_F(ResponderTest, InfoRequestLongerThan22BytesIsShownButNotAnswered) {
    Bytes payload(20, 0);
    bus::putLe16(payload, 0, 0x1234);
    bus::putAscii(payload, 4, "LONGREQUEST");
    const Bytes out = exchange(test::frame(0x01, payload, 0));
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(shown.identity.size(), 1u);
    EXPECT_EQ(shown.identity[0].first, "1234");
    EXPECT_EQ(shown.identity[0].second, "LONGREQUEST");
    EXPECT_FALSE(responder.bmsTesterBalancersInfoReceived());
    // The responder is ready for the next request.
    EXPECT_EQ(exchange(infoRequest()).size(), 32u + 4 * 32u);
}

TEST_F(ResponderTest, SerialIsShownUpToTheFirstZero) {
    exchange(infoRequest(0x00A3, std::string("AB\0CDEFGHIJ", 11)));
    ASSERT_EQ(shown.identity.size(), 1u);
    EXPECT_EQ(shown.identity[0], std::make_pair(std::string("00A3"), std::string("AB")));
}

TEST_F(ResponderTest, InfoHeaderStartClearsTheKnownBalancerCount) {
    state.numCells = 7;
    feed(Bytes{0xAA});
    EXPECT_EQ(state.numCells, 7);
    feed(Bytes{0x01});
    EXPECT_EQ(state.numCells, 0);
}

class MeasurementTest : public ResponderTest {
  protected:
    void SetUp() override {
        ResponderTest::SetUp();
        exchange(infoRequest());
        shown = {};
    }
    // The records of an answer to `request`, after checking that the echo leads it.
    std::vector<Bytes> answerRecords(const Bytes& request, std::size_t headerSize = 26) {
        const Bytes out = exchange(request);
        const Bytes header(request.begin(), request.begin() + static_cast<long>(headerSize));
        EXPECT_GE(out.size(), 10 + headerSize);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(std::min(out.size(), 10 + headerSize))),
                  withWakeup(header));
        std::vector<Bytes> records;
        for (std::size_t at = 10 + headerSize; at + 12 <= out.size(); at += 12) {
            records.emplace_back(out.begin() + static_cast<long>(at),
                                 out.begin() + static_cast<long>(at + 12));
        }
        EXPECT_EQ((out.size() - 10 - headerSize) % 12, 0u);
        return records;
    }
};

TEST_F(MeasurementTest, FourCellsAtDefaultsAnswerWithTheEchoAndFourRecords) {
    const auto records = answerRecords(measurementRequest(4));
    ASSERT_EQ(records.size(), 4u);
    const std::uint8_t following[] = {2, 2, 2, 0};
    for (std::size_t i = 0; i < 4; ++i) {
        Bytes expected = test::measurementRecord(static_cast<std::uint16_t>(i + 1), 0x40, 0x000008FC, 0x1900,
                                                 following[i]);
        EXPECT_EQ(records[i], expected) << i;
    }
    ASSERT_EQ(shown.measurement.size(), 1u);
    EXPECT_EQ(shown.measurement[0], std::make_pair(std::string("13.2"), std::string("-1.5")));
    EXPECT_EQ(shown.refreshed, 1);
    EXPECT_EQ(state.ackReceived, 0x02);
}

TEST_F(MeasurementTest, SeqNumRunsInTheHighNibbleAndWrapsAfter15) {
    for (int answer = 0; answer < 18; ++answer) {
        const auto records = answerRecords(measurementRequest(4, 0, 132, 0x05));
        ASSERT_EQ(records.size(), 4u);
        for (const auto& r : records) {
            EXPECT_EQ(r[3], ((answer % 16) << 4) | 0x05) << answer;
            EXPECT_EQ(r[11], test::crc8(r, 11));
        }
    }
}

TEST_F(MeasurementTest, PackedWordsCarryCurrentVoltageAndTemperature) {
    struct Row {
        int currentA;
        int mv;
        int tenths;
        std::uint32_t word;
        std::uint16_t temp;
    };
    const Row rows[] = {
        {0, 3300, 200, 0x000008FC, 0x1900},   {-500, 3300, 200, 0x85EE08FC, 0x1900},
        {0, 3300, -400, 0x000008FC, 0xCE00},  {0, 3300, 800, 0x000008FC, 0x6400},
        {500, 4000, -15, 0x7A120BB8, 0xFE20}, {1, 1800, 0, 0x003E8320, 0x0000},
    };
    for (const auto& r : rows) {
        BankSettings s = responder.settings();
        s.currentA = r.currentA;
        s.voltageMv[2] = r.mv;
        s.tempTenths[2] = r.tenths;
        responder.setSettings(s);
        const auto records = answerRecords(measurementRequest(4));
        ASSERT_EQ(records.size(), 4u);
        EXPECT_EQ(bus::getLe32(records[2], 4), r.word) << r.currentA << " " << r.mv;
        EXPECT_EQ(bus::getLe16(records[2], 8), r.temp) << r.tenths;
        EXPECT_EQ(responder.current(), r.currentA * 1000);
    }
}

TEST_F(MeasurementTest, EveryBatteryReportsTheSameCellsUnderRunningIds) {
    usePreset(6, "3"); // 8 cells, 3 batteries
    exchange(infoRequest());
    BankSettings s = responder.settings();
    for (int c = 0; c < 16; ++c) {
        s.voltageMv[static_cast<std::size_t>(c)] = 3000 + c;
    }
    responder.setSettings(s);
    const auto records = answerRecords(measurementRequest(24));
    ASSERT_EQ(records.size(), 24u);
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(records[static_cast<std::size_t>(i)][2], i + 1);
        EXPECT_EQ(bus::getLe32(records[static_cast<std::size_t>(i)], 4) & 0xFFF,
                  static_cast<std::uint32_t>(2000 + i % 8));
        EXPECT_EQ(records[static_cast<std::size_t>(i)][10], i < 23 ? 2 : 0);
    }
    // Cells beyond the preset's count are 0 in the snapshot.
    EXPECT_EQ(responder.voltage()[7], 3007);
    EXPECT_EQ(responder.voltage()[8], 0);
    EXPECT_EQ(responder.temp()[8], 0);
}

TEST_F(MeasurementTest, PresetChangeLeavesOnlyTheEchoUntilTheNextInfoRequest) {
    const std::uint8_t before = responder.seqNum();
    usePreset(10);
    EXPECT_FALSE(responder.bmsTesterBalancersInfoReceived());
    EXPECT_TRUE(answerRecords(measurementRequest(8)).empty());
    EXPECT_EQ(responder.seqNum(), (before + 1) % 16); // counted all the same
    EXPECT_EQ(shown.refreshed, 1);

    exchange(infoRequest());
    EXPECT_EQ(answerRecords(measurementRequest(8)).size(), 8u);
}

TEST_F(MeasurementTest, RequestWithoutRecordsIsShownButNeverAnswered) {
    EXPECT_TRUE(exchange(measurementRequest(0, 12345, 515)).empty());
    ASSERT_EQ(shown.measurement.size(), 1u);
    EXPECT_EQ(shown.measurement[0], std::make_pair(std::string("51.5"), std::string("1,234.5")));
    EXPECT_EQ(responder.seqNum(), 0);
}

TEST_F(MeasurementTest, NumbatThatIsNotANumberLeavesTheEchoAlone) {
    BankSettings s = responder.settings();
    s.numBatText = "x";
    responder.setSettings(s);
    EXPECT_TRUE(answerRecords(measurementRequest(4)).empty());
    EXPECT_EQ(responder.seqNum(), 0);
}

TEST_F(MeasurementTest, AnswerIsTheSameWhateverTheChunking) {
    const Bytes request = concat({Bytes{0x00, 0x17}, measurementRequest(4), Bytes{0x55}});
    const Bytes whole = exchange(request);
    // Rewind seqNum by running 15 more answers.
    for (int i = 0; i < 15; ++i) {
        exchange(measurementRequest(4));
    }
    port.writes.clear();
    for (auto b : request) {
        feed(Bytes{b});
    }
    EXPECT_EQ(port.all(), whole);
}

// Measurement records behind a header that was no measurement request, with none stored before:
// the echo is the wake-up prefix alone, then the records.
TEST_F(MeasurementTest, ChainWithoutAStoredRequestSendsTheWakeUpPrefixThenTheRecords) {
    BmsResponder fresh{state, port};
    fresh.setPreset(bankPresetForListIndex(0));
    BankSettings s = fresh.settings();
    s.fwVersionIndex = 2;
    fresh.setSettings(s);
    port.writes.clear();
    recorder.take(fresh.serialBMSdataParser(infoRequest()));
    port.writes.clear();
    const Bytes header = test::frame(0x09, Bytes(12, 0), 2);
    recorder.take(fresh.serialBMSdataParser(concat({header, test::measurementRecord(1, 0, 0, 0, 0)})));
    const Bytes out = port.all();
    // The 0x09 header is echoed at once; the chain's end brings the bare prefix and four records.
    const std::size_t after = 10 + header.size();
    ASSERT_EQ(out.size(), after + 10u + 4 * 12u);
    EXPECT_EQ(Bytes(out.begin() + static_cast<long>(after), out.begin() + static_cast<long>(after) + 10),
              Bytes(10, 0));
    EXPECT_EQ(out[after + 10], bus::rec::kMeasurement);
}

TEST_F(MeasurementTest, CalibrationRecordsAreStoredAndOtherCommandsEchoedWithAFreshCrc) {
    Bytes corrupted = test::calibrationRecord(9, 0x80, 999, 999, 9, 8);
    corrupted[4] ^= 0x10; // its CRC no longer matches: counted, not stored
    const Bytes cal1 = test::calibrationRecord(5, 0x80, 1000, 2000, 30, 8);
    const Bytes cal2 = test::calibrationRecord(0x1103, 0x80, 1100, 2100, 31, 8); // id 0x103: no entry
    const Bytes cal3 = test::calibrationRecord(0x2007, 0x80, 1200, 2200, 32, 0); // id 7
    Bytes header = test::frame(0x08, Bytes(12, 0x33), 8);
    header.back() ^= 0x5A; // a wrong CRC is not checked
    const Bytes out = exchange(concat({header, corrupted, cal1, cal2, cal3}));
    Bytes echo = header;
    test::sealLast(echo);
    EXPECT_EQ(out, withWakeup(echo));
    EXPECT_EQ(state.tables.balCalData[5].vGain, 1000);
    EXPECT_EQ(state.tables.balCalData[7].iOffset, 32);
    EXPECT_EQ(state.tables.balCalData[3].vGain, 0);
    EXPECT_EQ(state.tables.balCalData[9].vGain, 0);
    EXPECT_EQ(state.health.crcErrors, 2u) << "the header and the corrupted record";
    EXPECT_FALSE(responder.frameRx());
    EXPECT_EQ(state.ackReceived, 0x08);
}

TEST_F(ResponderTest, OtherCommandsComeStraightBackWithAFreshCrc) {
    struct Row {
        Bytes frame;
        std::size_t size;
        int ack;
        bool clearsFlash;
    };
    Bytes fixed(16, 0x21);
    fixed[0] = 0xAA;
    fixed[1] = 0x21;
    Bytes block(2064, 0x77);
    block[0] = 0xAA;
    block[1] = 0x23;
    block[2] = 0x01;
    block[3] = 0xFF;
    block[4] = 0x08;
    block[5] = 0x0A;
    Bytes short80(16, 0x00);
    short80[0] = 0xAA;
    short80[1] = 0x80;
    const Row rows[] = {
        {test::frame(0x31, Bytes(16, 0x42), 0), 22, 0x31, false},
        {test::frame(0x10, Bytes(16, 0x43), 0), 22, 0x10, false},
        {fixed, 16, 0x21, true},
        {short80, 16, 0x80, true},
        {block, 2064, -1, false},
        {test::frame(0x50, Bytes(13, 0x01), 0), 19, 0x50, false},
    };
    for (const auto& r : rows) {
        Bytes sent = r.frame;
        sent.back() ^= 0xFF; // break the CRC
        state.ackReceived = -1;
        state.flashBsy = true;
        const Bytes out = exchange(sent);
        Bytes expected(sent.begin(), sent.begin() + static_cast<long>(r.size));
        test::sealLast(expected);
        EXPECT_EQ(out, withWakeup(expected)) << std::hex << int(r.frame[1]);
        EXPECT_EQ(state.ackReceived, r.ack) << std::hex << int(r.frame[1]);
        EXPECT_EQ(state.flashBsy, !r.clearsFlash) << std::hex << int(r.frame[1]);
        EXPECT_FALSE(responder.frameRx());
    }
}

TEST_F(ResponderTest, PresetChangedFrameIsEchoedByAnotherEmulator) {
    // The 0x31 frame the tool announces with, echoed by the responder of another tool.
    bus::BusState otherState;
    test::FakePort sent;
    BmsResponder other{otherState, sent};
    otherState.frameReceiving = true;
    ASSERT_TRUE(other.transmitPresetChanged());
    EXPECT_FALSE(otherState.frameReceiving);
    const Bytes wire = sent.all();
    const Bytes out = exchange(Bytes(wire.begin() + 10, wire.end()));
    EXPECT_EQ(out, wire);
}

// Wired into a ring by mistake, the responder's answers come back to it: it must not answer its
// own frames, and after a few in a row it says so; a real request later clears the warning.
TEST_F(ResponderTest, OwnAnswersComingBackAreNotAnsweredAgain) {
    static BmsResponder::Clock::time_point fakeNow{};
    responder.setClock([] { return fakeNow; });
    const auto strip = [](const Bytes& wire) { return Bytes(wire.begin() + 10, wire.end()); };

    port.writes.clear();
    ASSERT_TRUE(responder.transmitPresetChanged());
    const Bytes announcement = strip(port.all());
    for (int i = 1; i <= 3; ++i) {
        fakeNow += std::chrono::milliseconds(5);
        EXPECT_TRUE(exchange(announcement).empty()) << "round " << i;
    }
    EXPECT_EQ(responder.ownEchoes(), 3);
    EXPECT_EQ(shown.ownAnswers, std::vector<bool>{true});

    // After an info exchange a measurement answer comes back: its echo is the BMS's request
    // unchanged, but the records behind it are ours, so it goes unanswered; the BMS's own next
    // request is answered, which clears the warning.
    fakeNow += std::chrono::seconds(1);
    ASSERT_EQ(exchange(infoRequest()).size(), 32u + 4 * 32u);
    EXPECT_EQ(shown.ownAnswers, (std::vector<bool>{true, false})) << "a real request was answered";
    const Bytes measured = exchange(measurementRequest(4));
    ASSERT_EQ(measured.size(), 36u + 4 * 12u);
    fakeNow += std::chrono::milliseconds(3);
    EXPECT_TRUE(exchange(strip(measured)).empty());
    EXPECT_EQ(responder.ownEchoes(), 4);
    EXPECT_EQ(exchange(measurementRequest(4)).size(), 36u + 4 * 12u);

    // The info echo comes back: not answered (its records then run on to the buffer limit).
    fakeNow += std::chrono::seconds(1);
    const Bytes answer = exchange(infoRequest());
    fakeNow += std::chrono::milliseconds(3);
    EXPECT_TRUE(exchange(strip(answer)).empty());
    EXPECT_EQ(responder.ownEchoes(), 5);
    exchange(Bytes(3000, 0)); // the records run to the limit

    // The same frame long after it was sent is a new request and gets its answer.
    fakeNow += std::chrono::seconds(2);
    EXPECT_EQ(exchange(announcement), withWakeup(announcement));
}

TEST_F(ResponderTest, ReceivedSerialShowsUnprintableBytesAsQuestionMarks) {
    Bytes payload(16, 0);
    bus::putAscii(payload, 4, "BMS");
    payload[7] = 0x07;
    payload[8] = 0xC3;
    payload[9] = 'X';
    exchange(test::frame(0x01, payload, 0));
    ASSERT_EQ(shown.identity.size(), 1u);
    EXPECT_EQ(shown.identity[0].second, "BMS??X");
}

TEST_F(ResponderTest, ClosedPortSendsNothingAndTheResponderKeepsGoing) {
    port.open = false;
    EXPECT_TRUE(exchange(infoRequest()).empty());
    EXPECT_TRUE(responder.bmsTesterBalancersInfoReceived());
    port.open = true;
    EXPECT_EQ(exchange(measurementRequest(4)).size(), 36u + 4 * 12u);
}

TEST_F(ResponderTest, NoPresetMeansNoRecords) {
    responder.setPreset(bankPresetForListIndex(13));
    EXPECT_EQ(exchange(infoRequest()).size(), 32u);
    EXPECT_EQ(exchange(measurementRequest(4)).size(), 36u);
}

// A played bank: battery b, cell c at 3000 + 100 b + c mV and 150 + 10 b + c tenths of a degree.
PlayedBank playedBank(int batteries, std::int32_t currentMa) {
    PlayedBank bank;
    bank.batteries = batteries;
    for (std::size_t b = 0; b < bank.voltageMv.size(); ++b) {
        for (std::size_t c = 0; c < bank.voltageMv[b].size(); ++c) {
            bank.voltageMv[b][c] = static_cast<std::int32_t>(3000 + 100 * b + c);
            bank.tempTenths[b][c] = static_cast<std::int32_t>(150 + 10 * b + c);
        }
    }
    bank.currentMa = currentMa;
    return bank;
}

// While played, every battery answers with its own cells and the bank current in mA, packed as
// for the sliders; the count is the played bank's, whatever tbNumBat says.
TEST_F(ResponderTest, PlayedBankGivesEveryBatteryItsOwnCells) {
    struct Row {
        int listIndex;
        std::string numbat;
        int batteries;
        std::int32_t currentMa;
    };
    const Row rows[] = {
        {0, "1", 2, -12345},  // 4 cells, two batteries where the slider says one
        {6, "abc", 3, 40500}, // 8 cells: tbNumBat is not read at all
        {11, "1", 1, 0},      // 16 cells, one battery
        {0, "7", 10, 524287}, // the most the current field holds
    };
    for (const Row& r : rows) {
        shown = {};
        usePreset(r.listIndex, r.numbat);
        responder.setPlayedBank(playedBank(r.batteries, r.currentMa));
        const int cells = bankPresetForListIndex(r.listIndex).info.cellsInSeries;
        const auto count = static_cast<std::size_t>(r.batteries * cells);
        const Bytes info = exchange(infoRequest());
        ASSERT_EQ(info.size(), 32u + count * 32u) << r.listIndex;
        EXPECT_EQ(info[32 + (count - 1) * 32 + 14], '0' + r.batteries) << "digit of the last battery";
        EXPECT_TRUE(shown.numbat.empty()) << "tbNumBat is not read while played";

        const std::uint8_t seq = responder.seqNum();
        const Bytes out = exchange(measurementRequest(static_cast<int>(count)));
        ASSERT_EQ(out.size(), 36u + count * 12u) << r.listIndex;
        for (int b = 0; b < r.batteries; ++b) {
            for (int c = 0; c < cells; ++c) {
                const int i = b * cells + c;
                Bytes expected =
                    test::measurementRecord(static_cast<std::uint16_t>(i + 1), 0x40,
                                            test::measurementWord(3000 + 100 * b + c, r.currentMa),
                                            static_cast<std::int16_t>((150 + 10 * b + c) << 5),
                                            i + 1 < static_cast<int>(count) ? 2 : 0);
                expected[3] = static_cast<std::uint8_t>(seq << 4);
                test::sealLast(expected);
                const Bytes got(out.begin() + 36 + i * 12, out.begin() + 36 + (i + 1) * 12);
                ASSERT_EQ(got, expected) << "battery " << b << " cell " << c << " of preset " << r.listIndex;
            }
        }
        EXPECT_EQ(responder.voltage()[1], 3001) << "the snapshot shows battery 1";
        EXPECT_EQ(responder.current(), r.currentMa);
        responder.setPlayedBank(std::nullopt);
    }
}

// A change in the number of emulated balancers needs a fresh info request, as a preset change
// does; the same number does not. Back on the sliders the answers are theirs again.
TEST_F(MeasurementTest, PlayedBankOfAnotherSizeWaitsForTheNextInfoRequest) {
    BankSettings s = responder.settings();
    s.voltageMv.fill(3456);
    responder.setSettings(s);

    EXPECT_FALSE(responder.setPlayedBank(playedBank(1, 0))) << "one battery, as tbNumBat says";
    EXPECT_TRUE(responder.bmsTesterBalancersInfoReceived());
    EXPECT_EQ(answerRecords(measurementRequest(4)).size(), 4u);

    EXPECT_TRUE(responder.setPlayedBank(playedBank(2, 0)));
    EXPECT_FALSE(responder.bmsTesterBalancersInfoReceived());
    EXPECT_TRUE(answerRecords(measurementRequest(4)).empty()) << "the echo alone until the BMS asks again";
    exchange(infoRequest());
    EXPECT_EQ(answerRecords(measurementRequest(8)).size(), 8u);

    EXPECT_TRUE(responder.setPlayedBank(std::nullopt)) << "back to tbNumBat's one battery";
    exchange(infoRequest());
    const auto records = answerRecords(measurementRequest(4));
    ASSERT_EQ(records.size(), 4u);
    for (const Bytes& r : records) {
        EXPECT_EQ(bus::getLe32(r, 4) & 0xFFF, 2456u) << "the sliders' 3456 mV";
    }
    EXPECT_FALSE(responder.playedBank().has_value());
}

TEST_F(ResponderTest, PlayedBankCountIsKeptWithinTenBatteries) {
    PlayedBank bank = playedBank(0, 0);
    for (const int asked : {-3, 0, 11, 1000}) {
        bank.batteries = asked;
        responder.setPlayedBank(bank);
        ASSERT_TRUE(responder.playedBank().has_value());
        const int kept = responder.playedBank()->batteries;
        EXPECT_EQ(kept, asked < 0 ? 0 : std::min(asked, 10)) << asked;
        EXPECT_EQ(exchange(infoRequest()).size(), 32u + static_cast<std::size_t>(kept) * 4u * 32u) << asked;
    }
}

} // namespace
} // namespace zanst::emulator
