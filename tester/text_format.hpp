#pragma once
// Number texts of the cell tables, the bank values, the BMS info fields and the recordings.
// Every text is built with '.' and then given the decimal point of the user's locale.

#include <string>

namespace zanst::tester {

struct TextFormat {
    char decimalPoint = '.';
};

// A value held in units of 10^-decimals, with exactly `decimals` digits after the point:
// scaledText(-1, 1) = "-0.1", scaledText(3301, 3) = "3.301".
std::string scaledText(long long value, int decimals, const TextFormat& format);

// The shortest text that reads back as the same number: 3.3f -> "3.3", 0.12 -> "0.12", 25.0 -> "25".
std::string shortestText(float value, const TextFormat& format);
std::string shortestText(double value, const TextFormat& format);

} // namespace zanst::tester
