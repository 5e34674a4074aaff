#include "csv_reader.hpp"

#include "fixed_point.hpp"

#include "bank/bank_snapshot.hpp"

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace zanst::playback {

namespace {

constexpr int kMinMv = 1000; // what the 12-bit voltage field carries
constexpr int kMaxMv = 5095;
constexpr int kMinTenths = -1024; // the 11-bit temperature field
constexpr int kMaxTenths = 1023;
constexpr int kMaxMa = 524287; // the 20-bit current field
constexpr int kMaxCell = 255;

// One CSV record: its fields and the line it began on.
struct Row {
    std::vector<std::string> fields;
    int line = 0;
    bool ended = true; // false for a last line without its line end
};

// Cuts RFC 4180 text into records: quoted fields may hold commas, quotes ("") and line breaks.
class CsvCutter {
  public:
    explicit CsvCutter(std::string_view text) : text_(text) {}

    std::optional<Row> next() {
        if (at_ >= text_.size()) {
            return std::nullopt;
        }
        Row row;
        row.line = line_;
        std::string field;
        bool quoted = false;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (quoted) {
                if (c == '"' && at_ < text_.size() && text_[at_] == '"') {
                    field += '"';
                    ++at_;
                } else if (c == '"') {
                    quoted = false;
                } else {
                    line_ += c == '\n' ? 1 : 0;
                    field += c;
                }
            } else if (c == '"') {
                quoted = true;
            } else if (c == ',') {
                row.fields.push_back(std::move(field));
                field.clear();
            } else if (c == '\n') {
                ++line_;
                row.fields.push_back(std::move(field));
                return row;
            } else if (c != '\r' || at_ >= text_.size() || text_[at_] != '\n') {
                field += c;
            }
        }
        row.fields.push_back(std::move(field));
        row.ended = false;
        return row;
    }

  private:
    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;
};

enum Column { kTime, kCell, kVoltage, kCurrent, kRange, kTemperature, kSerial, kProductId, kColumns };
constexpr std::array<std::string_view, kColumns> kNames{"time",        "cell",          "voltage [V]",
                                                        "current [A]", "current range", "temperature [degC]",
                                                        "serial",      "product id"};

std::string lineText(int line) {
    return "line " + std::to_string(line) + ": ";
}

std::optional<int> hexWord(std::string_view text) {
    if (text.size() != 4) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        }
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
constexpr std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// A row's values, checked.
struct Reading {
    std::int64_t timeMs = 0;
    int cell = 0;
    bank::BalancerReading values;
};

class CsvReader {
  public:
    ReadResult read(std::string_view text) {
        CsvCutter cutter(text);
        const auto header = cutter.next();
        if (!header || !readHeader(*header)) {
            return failed(error_.empty() ? "Not a recording CSV: the first line must name the columns "
                                           "time,cell,voltage [V],... as the tool writes them"
                                         : error_);
        }
        std::optional<std::int64_t> stepTime;
        bank::BankSnapshot step;
        while (auto row = cutter.next()) {
            if (row->fields.size() == 1 && row->fields[0].empty()) {
                continue; // an empty line (the end of the file)
            }
            Reading r;
            if (!readRow(*row, r)) {
                if (!row->ended) {
                    notes_.push_back("The last line (" + std::to_string(row->line) +
                                     ") was cut short and is left out");
                    break;
                }
                return failed(error_);
            }
            if (stepTime && r.timeMs < *stepTime) {
                return failed(lineText(row->line) + "the time goes back from the line before");
            }
            if (!stepTime || r.timeMs != *stepTime) {
                flush(stepTime, step);
                stepTime = r.timeMs;
            }
            auto& cells = step.balancers;
            if (static_cast<int>(cells.size()) < r.cell) {
                cells.resize(static_cast<std::size_t>(r.cell));
            }
            bank::BalancerReading& slot = cells[static_cast<std::size_t>(r.cell - 1)];
            if (slot.id != 0) {
                return failed(lineText(row->line) + "cell " + std::to_string(r.cell) +
                              " appears twice in one interval");
            }
            slot = std::move(r.values);
            seen_.resize(std::max(seen_.size(), cells.size()), false);
            seen_[static_cast<std::size_t>(r.cell - 1)] = true;
        }
        flush(stepTime, step);
        for (std::size_t c = 0; c < seen_.size(); ++c) {
            if (!seen_[c]) {
                return failed(
                    "Cell " + std::to_string(c + 1) +
                    " is not in the CSV (its row was not selected while recording); every cell from 1 to " +
                    std::to_string(seen_.size()) + " is needed");
            }
        }
        if (!has_[kCurrent]) {
            notes_.push_back("The CSV has no current column: the bank current plays as 0 A");
        }
        builder_.sensorsRecorded(has_[kCurrent] && has_[kRange]);
        return builder_.finish("CSV recording", firstMs_.value_or(0), std::move(notes_));
    }

  private:
    ReadResult failed(std::string why) {
        ReadResult r;
        r.error = std::move(why);
        return r;
    }

    bool readHeader(const Row& header) {
        index_.fill(-1);
        for (std::size_t i = 0; i < header.fields.size(); ++i) {
            for (int c = 0; c < kColumns; ++c) {
                if (header.fields[i] == kNames[static_cast<std::size_t>(c)] &&
                    index_[static_cast<std::size_t>(c)] < 0) {
                    index_[static_cast<std::size_t>(c)] = static_cast<int>(i);
                }
            }
        }
        for (int c = 0; c < kColumns; ++c) {
            has_[static_cast<std::size_t>(c)] = index_[static_cast<std::size_t>(c)] >= 0;
        }
        width_ = header.fields.size();
        if (!has_[kTime] || !has_[kCell]) {
            return false;
        }
        if (!has_[kVoltage] || !has_[kTemperature]) {
            error_ = std::string("The CSV has no ") + (!has_[kVoltage] ? "voltage" : "temperature") +
                     " column: record with the Voltage and Temp columns ticked to play it";
            return false;
        }
        return true;
    }

    const std::string& field(const Row& row, Column c) const {
        return row.fields[static_cast<std::size_t>(index_[static_cast<std::size_t>(c)])];
    }

    bool fail(const Row& row, const std::string& why) {
        error_ = lineText(row.line) + why;
        return false;
    }

    bool readRow(const Row& row, Reading& r) {
        if (row.fields.size() != width_) {
            return fail(row, std::to_string(row.fields.size()) + " fields where the header names " +
                                 std::to_string(width_));
        }
        const auto time = parseIsoTimestamp(field(row, kTime));
        if (!time) {
            return fail(row, "time \"" + field(row, kTime) + "\" is not an ISO 8601 UTC time stamp");
        }
        r.timeMs = *time;
        const auto cell = parseFixed(field(row, kCell), 0);
        if (!cell || *cell < 1 || *cell > kMaxCell) {
            return fail(row, "cell \"" + field(row, kCell) + "\" is not a cell number from 1 to 255");
        }
        r.cell = static_cast<int>(*cell);
        bank::BalancerReading& v = r.values;
        v.id = r.cell;
        const std::string& voltage = field(row, kVoltage);
        if (!voltage.empty()) {
            const auto mv = parseFixed(voltage, 3);
            if (!mv || *mv < kMinMv || *mv > kMaxMv) {
                return fail(row, "voltage \"" + voltage + "\" is not a cell voltage from 1.000 to 5.095 V");
            }
            v.millivolts = static_cast<int>(*mv);
            const std::string& temperature = field(row, kTemperature);
            const auto tenths = parseFixed(temperature, 1);
            if (!tenths || *tenths < kMinTenths || *tenths > kMaxTenths) {
                return fail(row, "temperature \"" + temperature +
                                     "\" is not a temperature from -102.4 to 102.3 degC");
            }
            v.tenthsCelsius = static_cast<int>(*tenths);
        }
        if (has_[kCurrent] && !field(row, kCurrent).empty()) {
            const std::string& current = field(row, kCurrent);
            const auto ma = parseFixed(current, 3);
            if (!ma || *ma < -kMaxMa || *ma > kMaxMa) {
                return fail(row, "current \"" + current + "\" is not a current from -524.287 to 524.287 A");
            }
            v.milliamps = static_cast<int>(*ma);
            const std::string range = has_[kRange] ? field(row, kRange) : std::string("low");
            if (range != "low" && range != "high") {
                return fail(row, "current range \"" + range + "\" is neither low nor high");
            }
            v.infoFlags = range == "high" ? 0x03 : 0x01;
        }
        if (has_[kSerial]) {
            v.serial = field(row, kSerial);
        }
        if (has_[kProductId]) {
            const auto pid = hexWord(field(row, kProductId));
            if (!pid) {
                return fail(row, "product id \"" + field(row, kProductId) + "\" is not four hex digits");
            }
            v.productId = static_cast<std::uint16_t>(*pid);
        }
        return true;
    }

    void flush(const std::optional<std::int64_t>& time, bank::BankSnapshot& step) {
        if (!time) {
            return;
        }
        if (!firstMs_) {
            firstMs_ = *time;
        }
        builder_.add(*time, step);
        step.balancers.clear();
    }

    std::array<int, kColumns> index_{};
    std::array<bool, kColumns> has_{};
    std::size_t width_ = 0;
    std::string error_;
    std::vector<std::string> notes_;
    std::vector<bool> seen_;
    std::optional<std::int64_t> firstMs_;
    TimelineBuilder builder_;
};

} // namespace

std::optional<std::int64_t> parseIsoTimestamp(std::string_view t) {
    // YYYY-MM-DDTHH:MM:SS[.f{1,3}]Z
    if (t.size() < 20 || t.back() != 'Z' || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
        t[16] != ':') {
        return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t n) -> std::optional<std::int64_t> {
        std::int64_t v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (t[i] < '0' || t[i] > '9') {
                return std::nullopt;
            }
            v = v * 10 + (t[i] - '0');
        }
        return v;
    };
    const auto year = number(0, 4);
    const auto month = number(5, 2);
    const auto day = number(8, 2);
    const auto hour = number(11, 2);
    const auto minute = number(14, 2);
    const auto second = number(17, 2);
    if (!year || !month || !day || !hour || !minute || !second || *month < 1 || *month > 12 || *day < 1 ||
        *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    std::int64_t millis = 0;
    const std::string_view rest = t.substr(19, t.size() - 20);
    if (!rest.empty()) {
        if (rest.front() != '.' || rest.size() < 2 || rest.size() > 4) {
            return std::nullopt;
        }
        const auto fraction = number(20, rest.size() - 1);
        if (!fraction) {
            return std::nullopt;
        }
        millis = *fraction;
        for (std::size_t i = rest.size() - 1; i < 3; ++i) {
            millis *= 10;
        }
    }
    const std::int64_t days =
        daysFromCivil(*year, static_cast<unsigned>(*month), static_cast<unsigned>(*day));
    return ((days * 24 + *hour) * 60 + *minute) * 60000 + *second * 1000 + millis;
}

ReadResult readCsvTimeline(std::string_view text) {
    return CsvReader().read(text);
}

ReadResult readCsvTimelineFile(const std::string& path) {
    ReadResult result;
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        result.error = "Cannot read " + path + ": " + ec.message();
        return result;
    }
    if (size > kMaxCsvBytes) {
        result.error =
            "Cannot read " + path + ": " + std::to_string(size) + " bytes is more than a recording CSV holds";
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.error = "Cannot read " + path;
        return result;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        result.error = "Cannot read " + path;
        return result;
    }
    return readCsvTimeline(text);
}

} // namespace zanst::playback
