#include "csv_recording.hpp"

#include "bus/hex.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <system_error>

namespace zanst::recording {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, kCsvValueCount> kHeaders = {
    "voltage [V]", "current [A],current range", "temperature [degC]", "serial", "firmware", "product id",
    "boot loader"};

bool wanted(const CsvValues& values, CsvValue v) {
    return values[static_cast<std::size_t>(v)];
}

std::string number(long long value) {
    std::array<char, 24> buffer{};
    const auto done = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return {buffer.data(), done.ptr};
}

} // namespace

std::string isoTimestamp(std::chrono::system_clock::time_point at) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(at.time_since_epoch()).count();
    long long seconds = ms / 1000;
    long long millis = ms % 1000;
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    std::array<char, 80> text{}; // room for any int fields, though a real date takes 24
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text.data();
}

std::string csvField(std::string_view text) {
    const bool blankEdge = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    if (!blankEdge && text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string fixedPoint(long long value, int decimals) {
    long long scale = 1;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10;
    }
    const bool negative = value < 0;
    const unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    const auto whole = static_cast<long long>(magnitude / static_cast<unsigned long long>(scale));
    std::string text = negative ? "-" : "";
    text += number(whole);
    if (decimals > 0) {
        std::string fraction =
            number(static_cast<long long>(magnitude % static_cast<unsigned long long>(scale)));
        text += '.';
        text.append(static_cast<std::size_t>(decimals) - fraction.size(), '0');
        text += fraction;
    }
    return text;
}

std::string csvHeader(const CsvValues& values) {
    std::string header = "time,cell";
    for (int v = 0; v < kCsvValueCount; ++v) {
        if (values[static_cast<std::size_t>(v)]) {
            header += ',';
            header += kHeaders[static_cast<std::size_t>(v)];
        }
    }
    header += kCsvLineEnd;
    return header;
}

std::string csvRow(std::string_view timestamp, int cell, const bank::BalancerReading& r,
                   const CsvValues& values) {
    std::string row(timestamp);
    row += ',';
    row += number(cell);
    const auto add = [&row](const std::string& field) {
        row += ',';
        row += field;
    };
    if (wanted(values, CsvValue::Voltage)) {
        add(r.millivolts ? fixedPoint(*r.millivolts, 3) : std::string()); // empty: no measurement yet
    }
    if (wanted(values, CsvValue::Current)) {
        add(r.measuresCurrent() ? fixedPoint(r.milliamps, 3) : std::string());
        add(r.measuresCurrent() ? std::string(r.highRange() ? "high" : "low") : std::string());
    }
    if (wanted(values, CsvValue::Temperature)) {
        add(r.millivolts ? fixedPoint(r.tenthsCelsius, 1) : std::string());
    }
    if (wanted(values, CsvValue::Serial)) {
        add(csvField(r.serial));
    }
    if (wanted(values, CsvValue::Firmware)) {
        add(csvField(bus::versionToString(r.fwVersion)));
    }
    if (wanted(values, CsvValue::ProductId)) {
        add(csvField(bus::ConvertHex1(r.productId, 4)));
    }
    if (wanted(values, CsvValue::BootLoader)) {
        add(csvField(bus::versionToString(r.blVersion)));
    }
    row += kCsvLineEnd;
    return row;
}

FileResult CsvFile::open(fs::path path, std::string_view header) {
    close();
    std::error_code ec;
    if (fs::exists(path, ec)) {
        return fileFailure("Not overwriting", path, "the file already exists");
    }
    path_ = std::move(path);
    {
        std::ofstream created(path_, std::ios::binary | std::ios::trunc);
        if (!created) {
            const fs::path failed = std::move(path_);
            close();
            return fileFailure("Cannot create", failed, std::generic_category().message(errno));
        }
    }
    FileResult written = write(header);
    if (!written.ok) {
        close();
    }
    return written;
}

FileResult CsvFile::append(std::string_view rows) {
    if (!isOpen() || rows.empty()) {
        return {};
    }
    return write(rows);
}

FileResult CsvFile::write(std::string_view text) {
    return appendWhole(path_, text, "recording");
}

} // namespace zanst::recording
