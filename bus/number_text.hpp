#pragma once
// Number texts of the tables, the bank values, the BMS fields and the recordings. Every text is
// built with the decimal point and group separator of a TextFormat; the defaults give '.' and ','.

#include <cstdint>
#include <string>

namespace zanst::bus {

struct TextFormat {
    char decimalPoint = '.';
    char groupSeparator = ',';
};

// A value held in units of 10^-decimals, with exactly `decimals` digits after the point:
// scaledText(-1, 1) = "-0.1", scaledText(3301, 3) = "3.301".
std::string scaledText(std::int64_t value, int decimals, const TextFormat& format = {});

// The shortest text that reads back as the same number: 3.3f -> "3.3", 0.12 -> "0.12", 25.0 -> "25".
std::string shortestText(float value, const TextFormat& format = {});
std::string shortestText(double value, const TextFormat& format = {});

// As shortestText, but a negative zero reads "0": 13.2, 20.125, 13.
std::string realText(double value, const TextFormat& format = {});

// Tenths in the shortest form: 200 -> "20", 205 -> "20.5", -15 -> "-1.5".
std::string tenthsText(std::int64_t tenths, const TextFormat& format = {});

// Tenths as a whole number truncated toward zero: 205 -> "20", -15 -> "-1".
std::string wholeOfTenthsText(std::int64_t tenths);

// Tenths with one decimal and groups of three digits: -15 -> "-1.5", 12345 -> "1,234.5", 0 -> "0.0".
std::string groupedTenthsText(std::int64_t tenths, const TextFormat& format = {});

// A count with groups of three digits: 12345 -> "12,345".
std::string groupedCountText(std::uint64_t count, const TextFormat& format = {});

} // namespace zanst::bus
