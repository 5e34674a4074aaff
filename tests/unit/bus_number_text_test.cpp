// Number texts with the default format and with a decimal comma and point groups.

#include "bus/number_text.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

namespace zanst::bus {
namespace {

struct Case {
    const char* name;
    std::function<std::string(const TextFormat&)> text;
    const char* withDefaults; // '.' and ','
    const char* withComma;    // ',' and '.'
};

TEST(NumberText, DefaultsAndOtherSeparators) {
    const Case cases[] = {
        {"scaled 3 decimals", [](auto& f) { return scaledText(3301, 3, f); }, "3.301", "3,301"},
        {"scaled below one", [](auto& f) { return scaledText(-1, 1, f); }, "-0.1", "-0,1"},
        {"scaled whole", [](auto& f) { return scaledText(1234567, 0, f); }, "1234567", "1234567"},
        {"scaled lowest", [](auto& f) { return scaledText(std::numeric_limits<std::int64_t>::min(), 3, f); },
         "-9223372036854775.808", "-9223372036854775,808"},
        {"shortest float", [](auto& f) { return shortestText(3.3f, f); }, "3.3", "3,3"},
        {"shortest double", [](auto& f) { return shortestText(-1.5, f); }, "-1.5", "-1,5"},
        {"shortest whole", [](auto& f) { return shortestText(25.0, f); }, "25", "25"},
        {"shortest negative zero", [](auto& f) { return shortestText(-0.0, f); }, "-0", "-0"},
        {"real", [](auto& f) { return realText(20.125, f); }, "20.125", "20,125"},
        {"real whole", [](auto& f) { return realText(13.0, f); }, "13", "13"},
        {"real negative zero", [](auto& f) { return realText(-0.0, f); }, "0", "0"},
        {"tenths whole", [](auto& f) { return tenthsText(200, f); }, "20", "20"},
        {"tenths", [](auto& f) { return tenthsText(205, f); }, "20.5", "20,5"},
        {"tenths negative", [](auto& f) { return tenthsText(-15, f); }, "-1.5", "-1,5"},
        {"tenths below one", [](auto& f) { return tenthsText(-5, f); }, "-0.5", "-0,5"},
        {"tenths negative whole", [](auto& f) { return tenthsText(-10, f); }, "-1", "-1"},
        {"tenths zero", [](auto& f) { return tenthsText(0, f); }, "0", "0"},
        {"whole of tenths", [](auto&) { return wholeOfTenthsText(259); }, "25", "25"},
        {"whole of negative tenths", [](auto&) { return wholeOfTenthsText(-15); }, "-1", "-1"},
        {"whole of tenths below one", [](auto&) { return wholeOfTenthsText(-5); }, "0", "0"},
        {"grouped zero", [](auto& f) { return groupedTenthsText(0, f); }, "0.0", "0,0"},
        {"grouped below a thousand", [](auto& f) { return groupedTenthsText(-15, f); }, "-1.5", "-1,5"},
        {"grouped", [](auto& f) { return groupedTenthsText(12345, f); }, "1,234.5", "1.234,5"},
        {"grouped negative", [](auto& f) { return groupedTenthsText(-32768, f); }, "-3,276.8", "-3.276,8"},
        {"grouped twice", [](auto& f) { return groupedTenthsText(12345678, f); }, "1,234,567.8",
         "1.234.567,8"},
    };
    const TextFormat comma{',', '.'};
    for (const Case& c : cases) {
        EXPECT_EQ(c.text(TextFormat{}), c.withDefaults) << c.name;
        EXPECT_EQ(c.text(comma), c.withComma) << c.name;
    }
}

} // namespace
} // namespace zanst::bus
