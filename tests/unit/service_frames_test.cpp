#include "service/actions.hpp"
#include "service/battery_parameters.hpp"
#include "service/calibration.hpp"
#include "service/updater.hpp"

#include "bus/identity.hpp"
#include "support/fake_port.hpp"
#include "support/records.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace zanst::service {
namespace {

using bus::Bytes;
using test::frame;

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// A zero payload of n bytes with the given fields written at their payload offsets.
Bytes payload(std::size_t n, std::initializer_list<std::pair<std::size_t, Bytes>> fields) {
    Bytes p(n, 0);
    for (const auto& [at, bytes] : fields) {
        std::copy(bytes.begin(), bytes.end(), p.begin() + static_cast<long>(at));
    }
    return p;
}

const Bytes kSerial = text(bus::identity::kMasterSerial);

Bytes wordFrame(std::uint8_t command, std::string_view word) {
    return frame(command, payload(16, {{0, text(word)}, {4, kSerial}}), 0);
}

TEST(ServiceFramesTest, CommandFramesAreByteExact) {
    bus::BalancerTables tables;
    std::ranges::copy(std::string_view("ZB2400A6021"), tables.balInfo[3].serial.begin());
    const auto calibrate = [](std::uint8_t address, Bytes value, std::uint8_t kind) {
        return frame(0x11, payload(20, {{0, {address}}, {2, value}, {4, {kind}}, {8, kSerial}}), 0);
    };
    const auto adjust = [](std::uint8_t operation, std::uint8_t step) {
        return frame(
            0x30, payload(20, {{0, text("GAIN")}, {4, {operation}}, {6, {step}}, {8, text("ZB2400A6021")}}),
            0);
    };
    const auto parameters = readBatteryParameters({"ZB2400A6021", "2000", "A0C8"}).parameters.value();
    struct Case {
        const char* name;
        Bytes built;
        Bytes expected;
    } cases[] = {
        {"calibrate voltage, row 0", calibrateVoltage(0, "3.3").frame, calibrate(1, {0xE4, 0x0C}, 1)},
        {"calibrate gain, row 4", calibrateGain(4, "12.3").frame, calibrate(5, {123, 0}, 2)},
        {"calibrate offset, row 254", calibrateOffset(254).value(), calibrate(255, {0, 0}, 3)},
        {"save calibration", saveCalibration(0).value(),
         frame(0x12, payload(20, {{0, {1}}, {8, kSerial}}), 0)},
        {"zero current", currentAdjustment(tables, 2, GainOperation::ZeroCurrent).value(), adjust(3, 0)},
        {"default gain", currentAdjustment(tables, 2, GainOperation::DefaultGain).value(), adjust(4, 0)},
        {"inc gain", currentAdjustment(tables, 2, GainOperation::IncreaseGain).value(), adjust(5, 2)},
        {"dec gain", currentAdjustment(tables, 2, GainOperation::DecreaseGain).value(), adjust(6, 2)},
        {"battery parameters", buildBatteryParametersFrame(parameters),
         frame(0x13, payload(16, {{0, {0xE8, 0x03}}, {2, {0xC8, 0xA0}}, {4, text("ZB2400A6021")}}), 0)},
        {"enable test mode", buildServiceFrame(ServiceAction::EnableTestMode), wordFrame(0x10, "TMEN")},
        {"end test mode", buildServiceFrame(ServiceAction::EndTestMode), wordFrame(0x10, "TMLV")},
        {"load on", buildServiceFrame(ServiceAction::BalancingLoadOn), wordFrame(0x10, "LDON")},
        {"load off", buildServiceFrame(ServiceAction::BalancingLoadOff), wordFrame(0x10, "LDOF")},
        {"reload cal data", buildServiceFrame(ServiceAction::ReloadCalData), frame(0x14, Bytes(10, 0), 0)},
        {"start boot loaders", buildStartBootloadersFrame(), wordFrame(0x20, "BOOT")},
        {"start update", buildStartUpdateFrame(), frame(0x21, text("UPDT-START"), 0)},
        {"end update", buildEndUpdateFrame(), frame(0x22, text("UPDT-END!!"), 0)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.built, c.expected) << c.name;
    }
}

TEST(ServiceFramesTest, GainFramesCarryAllElevenSerialBytesAsStored) {
    // The serial comes from the balancer's info record; a zero byte inside it is a byte like any other.
    const std::string rows[] = {
        std::string("AB\0DEFGHIJK", 11),
        std::string("\0BCDEFGHIJK", 11),
        std::string("ABCDEFGHIJ\0", 11),
        std::string(11, '\0'),
        std::string("\xFF\x01\0\x7F\x80zbc\0\0x", 11),
    };
    for (const std::string& serial : rows) {
        bus::BalancerTables tables;
        test::InfoFields f;
        f.id = 3;
        f.serial = serial;
        ASSERT_TRUE(tables.storeInfo(test::infoRecord(f)));
        for (GainOperation operation : {GainOperation::ZeroCurrent, GainOperation::IncreaseGain}) {
            const Bytes built = currentAdjustment(tables, 2, operation).value();
            ASSERT_EQ(built.size(), 26u);
            EXPECT_EQ(Bytes(built.begin() + 12, built.begin() + 23), text(serial))
                << testing::PrintToString(text(serial));
            EXPECT_EQ(built[23], 0x00);
            EXPECT_EQ(built[25], test::crc8(built, 25));
        }
    }
}

TEST(ServiceFramesTest, GarbageBlock) {
    const Bytes block = buildServiceFrame(ServiceAction::Garbage);
    ASSERT_EQ(block.size(), 20000u);
    Bytes head{0xAA, 0x20, test::crc8({0xAA, 0x20}, 2), 0x10};
    head.insert(head.end(), {'B', 'O', 'O', 'T'});
    head.insert(head.end(), kSerial.begin(), kSerial.end());
    head.insert(head.end(), {0, 0, 0xCC});
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 22), head);
    EXPECT_TRUE(std::all_of(block.begin() + 22, block.end(), [](auto b) { return b == 0; }));
}

TEST(ServiceFramesTest, DataBlocks) {
    // 4097 bytes: three blocks, the last holding one image byte and 2047 erased ones.
    Bytes bytes(4097);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i % 251);
    }
    bytes[1029] = 0x06;
    bytes[1030] = 0x00;
    bytes[1031] = 0x02;
    bytes[1032] = 0x00;
    FirmwareImage image;
    ASSERT_TRUE(image.append(bytes));

    for (std::size_t blockNum : {0u, 2u}) {
        for (bool force : {false, true}) {
            const Bytes block = buildDataBlock(image, blockNum, force);
            ASSERT_EQ(block.size(), 2064u);
            EXPECT_EQ(Bytes(block.begin(), block.begin() + 12),
                      (Bytes{0xAA, 0x23, 0x01, 0xFF, 0x08, 0x0A, static_cast<std::uint8_t>(blockNum),
                             static_cast<std::uint8_t>(force), 0x00, 0x02, 0x00, 0x06}));
            Bytes data(2048, 0xFF);
            const std::size_t from = blockNum * 2048;
            std::copy(bytes.begin() + static_cast<long>(from),
                      bytes.begin() + static_cast<long>(std::min(from + 2048, bytes.size())), data.begin());
            EXPECT_EQ(Bytes(block.begin() + 12, block.begin() + 2060), data);
            unsigned sum = 0;
            for (auto b : data) {
                sum += b;
            }
            EXPECT_EQ(block[2060], (sum >> 8) & 0xFF);
            EXPECT_EQ(block[2061], sum & 0xFF);
            EXPECT_EQ(block[2062], 0);
            EXPECT_EQ(block[2063], test::crc8(block, 2063));
        }
    }
    EXPECT_EQ(buildDataBlock(image, 2, false)[12], bytes[4096]);

    // Nothing but erased bytes: 2048 x 0xFF sums to 0xF800.
    const Bytes erased = buildDataBlock(FirmwareImage{}, 0, false);
    EXPECT_EQ(erased[2060], 0xF8);
    EXPECT_EQ(erased[2061], 0x00);
}

TEST(ServiceFramesTest, SendingResetsWhatTheNextPollMustRelearn) {
    using A = ServiceAction;
    struct Case {
        std::optional<ServiceAction> action; // none: "set battery parameters"
        std::size_t frameSize;
        bool clearsInfo;
    } cases[] = {
        {A::EnableTestMode, 22, true}, {A::EndTestMode, 22, true}, {A::BalancingLoadOn, 22, false},
        {A::Garbage, 20000, false},    {std::nullopt, 22, true},
    };
    for (const auto& c : cases) {
        bus::BusState state;
        state.balancersInfo = true;
        state.frameReceiving = true;
        state.tables.balInfo[1].id = 1;
        test::FakePort port;
        if (c.action) {
            sendServiceAction(state, port, *c.action);
        } else {
            sendBatteryParameters(state, port, {"ZB2400A6021", 100, 0xA0C8});
        }
        const bool parameters = !c.action;
        ASSERT_EQ(port.writes.size(), 2u);
        EXPECT_EQ(port.writes[0], Bytes(10, 0)); // the wake-up prefix
        EXPECT_EQ(port.writes[1].size(), c.frameSize);
        EXPECT_FALSE(state.frameReceiving);
        EXPECT_EQ(state.balancersInfo, !c.clearsInfo);
        // The parameters make the next poll find a silent bus: tables emptied, balancers enumerated afresh.
        EXPECT_EQ(state.tables.balInfo[1].id, parameters ? 0 : 1);
        EXPECT_EQ(state.battCommTimeout, parameters ? 5 : 0);
    }
}

} // namespace
} // namespace zanst::service
