#pragma once
// The CSV beside a text recording: one header row with units, then one row per selected cell
// and interval, each with an ISO 8601 time stamp (UTC). Long format, so that a bank that grows
// or shrinks during a recording keeps the header valid. Numbers always carry '.', whatever the
// locale; texts are quoted where they need it. Written from the snapshot's numbers; it shares
// nothing with the text recording's line format.

#include "append_file.hpp"
#include "bank/bank_snapshot.hpp"

#include <array>
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace zanst::recording {

// The values a row can carry after its time stamp and cell number.
enum class CsvValue : int { Voltage = 0, Current, Temperature, Serial, Firmware, ProductId, BootLoader };
inline constexpr int kCsvValueCount = 7;
using CsvValues = std::array<bool, kCsvValueCount>;

inline constexpr std::string_view kCsvLineEnd = "\r\n";

// "2026-12-09T03:04:05.123Z".
std::string isoTimestamp(std::chrono::system_clock::time_point at);

// A field as RFC 4180 wants it: quoted, with quotes doubled, when it holds a comma, a quote, a
// line break or leading or trailing blanks.
std::string csvField(std::string_view text);

// `value` / 10^decimals with exactly `decimals` digits after a '.'; "-0.005" for -5, 3.
std::string fixedPoint(long long value, int decimals);

std::string csvHeader(const CsvValues& values);

// One row per balancer of the snapshot whose row is selected (`selected[i]` for balancer i + 1).
template <std::size_t N>
std::string csvRows(std::chrono::system_clock::time_point at, const bank::BankSnapshot& snapshot,
                    const std::array<bool, N>& selected, const CsvValues& values);

std::string csvRow(std::string_view timestamp, int cell, const bank::BalancerReading& reading,
                   const CsvValues& values);

// The file: created with its header by `open`, rows appended whole or not at all.
class CsvFile {
  public:
    // Fails rather than overwrite an existing file.
    FileResult open(std::filesystem::path path, std::string_view header);
    FileResult append(std::string_view rows);
    void close() { path_.clear(); }
    bool isOpen() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }

  private:
    FileResult write(std::string_view text);
    std::filesystem::path path_;
};

template <std::size_t N>
std::string csvRows(std::chrono::system_clock::time_point at, const bank::BankSnapshot& snapshot,
                    const std::array<bool, N>& selected, const CsvValues& values) {
    const std::string stamp = isoTimestamp(at);
    std::string rows;
    for (std::size_t i = 0; i < snapshot.balancers.size() && i < N; ++i) {
        if (selected[i]) {
            rows += csvRow(stamp, static_cast<int>(i) + 1, snapshot.balancers[i], values);
        }
    }
    return rows;
}

} // namespace zanst::recording
