#include "service/battery_parameters.hpp"
#include "service/calibration.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zanst::service {
namespace {

const std::string kHuge(40, '9');

// One row per text: the reader, the text, and what the box and the frame get.
struct InputCase {
    InputOutcome (*read)(std::string_view);
    std::string text;
    InputStatus status;
    std::uint16_t value;
};

constexpr auto V = readCellVoltage;        // mV
constexpr auto I = readCalibrationCurrent; // 0.1 A

TEST(CalibrationInputTest, TextsBecomeTheValueSent) {
    const InputCase cases[] = {
        {V, "3.3", InputStatus::Ok, 3300},
        {V, "3,3", InputStatus::Ok, 3300},
        {V, "3.2999", InputStatus::Ok, 3299},
        {V, "1.005", InputStatus::Ok, 1005}, // exact, no binary rounding
        {V, "4.095", InputStatus::Ok, 4095},
        {V, "3.", InputStatus::Ok, 3000},
        {V, ".5", InputStatus::Ok, 500},
        {V, "00000000000000000000003.3", InputStatus::Ok, 3300},
        {V, "65.535", InputStatus::Ok, 65535},
        {V, "65.536", InputStatus::Invalid, 0},
        {V, kHuge, InputStatus::Invalid, 0},
        {V, "3.3.1", InputStatus::Invalid, 0},
        {V, "3,3.0", InputStatus::Invalid, 0},
        {V, ".", InputStatus::Invalid, 0},
        {V, "3.3V", InputStatus::Invalid, 0},
        {V, "-1", InputStatus::Invalid, 0},
        {V, " 3.3", InputStatus::Invalid, 0},
        {V, "", InputStatus::Empty, 0},
        {I, "12", InputStatus::Ok, 120},
        {I, "12.3", InputStatus::Ok, 123},
        {I, "25", InputStatus::Ok, 250},
        {I, "25,5", InputStatus::Ok, 255},
        {I, "25.57", InputStatus::Ok, 255},
        {I, ".5", InputStatus::Ok, 5},
        {I, "0", InputStatus::Ok, 0},
        {I, "6553.5", InputStatus::Ok, 65535},
        {I, "6553.6", InputStatus::Invalid, 0},
        {I, "6554", InputStatus::Invalid, 0},
        {I, kHuge, InputStatus::Invalid, 0},
        {I, "1." + kHuge, InputStatus::Ok, 19},
        {I, "12.", InputStatus::Invalid, 0},
        {I, ".", InputStatus::Invalid, 0},
        {I, "1.2.3", InputStatus::Invalid, 0},
        {I, "-1", InputStatus::Invalid, 0},
        {I, "1A", InputStatus::Invalid, 0},
        {I, "", InputStatus::Empty, 0},
    };
    for (const auto& c : cases) {
        const std::string_view prompt = c.read == V ? "measured voltage" : "measured current";
        const InputOutcome want{c.status, c.value,
                                c.status == InputStatus::Empty ? prompt : std::string_view{}};
        EXPECT_EQ(c.read(c.text), want) << (c.read == V ? "V " : "I ") << c.text;
    }
}

TEST(CalibrationInputTest, RowAddressesItsBalancerWhileTheAddressFitsOneByte) {
    const std::pair<int, std::optional<std::uint8_t>> cases[] = {
        {-1, std::nullopt}, {0, 1}, {41, 42}, {254, 255}, {255, std::nullopt}, {1000, std::nullopt},
    };
    for (const auto& [row, address] : cases) {
        EXPECT_EQ(balancerAddress(row), address) << row;
    }
}

TEST(CalibrationInputTest, CalibrateWithoutBalancerShowsThePromptAndSendsNothing) {
    for (int row : {-1, 255}) {
        const auto voltage = calibrateVoltage(row, "3.3");
        EXPECT_EQ(boxView(voltage.input), redText("measured voltage")) << row;
        EXPECT_TRUE(voltage.frame.empty());
        const auto current = calibrateGain(row, "12");
        EXPECT_EQ(boxView(current.input), redText("measured current")) << row;
        EXPECT_TRUE(current.frame.empty());
        EXPECT_FALSE(calibrateOffset(row).has_value());
        EXPECT_FALSE(saveCalibration(row).has_value());
    }
    const auto invalid = calibrateVoltage(0, "3.3.3");
    EXPECT_EQ(boxView(invalid.input), redBox());
    EXPECT_TRUE(invalid.frame.empty());
    EXPECT_EQ(boxView(calibrateGain(0, "12").input), blackBox());
}

TEST(BatteryParametersTest, InputsAreCheckedInOrder) {
    const BoxView unchanged;
    const BoxView black = blackBox();
    struct Case {
        const char* name;
        BatteryParametersInput input;
        BoxView serial, capacity, productId;
        std::optional<std::uint16_t> sentCapacity; // set when the parameters pass
        std::uint16_t sentProductId = 0;
    } cases[] = {
        {"valid", {"ZB2400A6021", "100", "A0C8"}, black, black, black, 100, 0xA0C8},
        {"lower-case product id", {"ZB2400A6021", "0050", "a0c8"}, black, black, black, 50, 0xA0C8},
        {"capped capacity",
         {"ZB2400A6021", "2000", "A0C8"},
         black,
         {BoxView::Colour::Black, "1000"},
         black,
         1000,
         0xA0C8},
        {"huge capacity",
         {"ZB2400A6021", kHuge, "0001"},
         black,
         {BoxView::Colour::Black, "1000"},
         black,
         1000,
         1},
        {"short serial", {"ZB2400A602", "100", "A0C8"}, redText("invalid format"), unchanged, unchanged, {}},
        {"long serial", {"ZB2400A60211", "100", "A0C8"}, redText("invalid format"), unchanged, unchanged, {}},
        {"control character",
         {"ZB2400A602\t", "100", "A0C8"},
         redText("invalid format"),
         unchanged,
         unchanged,
         {}},
        {"non-ASCII serial",
         {"ZB2400A6\xC3\xA9", "100", "A0C8"},
         redText("invalid format"),
         unchanged,
         unchanged,
         {}},
        {"empty capacity", {"ZB2400A6021", "", "A0C8"}, black, redBox(), black, {}},
        {"capacity not digits", {"ZB2400A6021", "1e3", "A0C8"}, black, redBox(), black, {}},
        {"product id too short", {"ZB2400A6021", "100", "A0C"}, black, black, redText("invalid length"), {}},
        {"product id too long", {"ZB2400A6021", "100", "A0C81"}, black, black, redText("invalid length"), {}},
        {"product id not hex", {"ZB2400A6021", "100", "G0C8"}, black, black, redText("invalid"), {}},
        // Four characters, eight bytes: the length counts characters.
        {"product id umlauts",
         {"ZB2400A6021", "100", "\xC3\x84\xC3\x96\xC3\x9C\xC3\x9F"},
         black,
         black,
         redText("invalid"),
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto out = readBatteryParameters(c.input);
        EXPECT_EQ(out.serial, c.serial);
        EXPECT_EQ(out.capacity, c.capacity);
        EXPECT_EQ(out.productId, c.productId);
        ASSERT_EQ(out.parameters.has_value(), c.sentCapacity.has_value());
        if (out.parameters) {
            EXPECT_EQ(out.parameters->serial, c.input.serial);
            EXPECT_EQ(out.parameters->capacity, *c.sentCapacity);
            EXPECT_EQ(out.parameters->productId, c.sentProductId);
        }
    }
}

} // namespace
} // namespace zanst::service
