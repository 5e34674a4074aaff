#include "cli/rows_format.hpp"

#include "bank/bank_summary.hpp"
#include "bus/hex.hpp"
#include "recording/csv_recording.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <array>
#include <vector>

namespace zanst::cli {

namespace {

using bank::BalancerReading;
using bank::BankSnapshot;
using recording::fixedPoint;

constexpr std::string_view kNone = "-";

struct Cells {
    std::string id, battery, serial, voltage, current, temperature, firmware, bootLoader, productId;
};

// The texts of balancer `number` (its table entry, which is its id).
Cells cellsOf(int number, const BalancerReading& r) {
    Cells c;
    c.id = std::to_string(number);
    c.battery = std::to_string(r.battery + 1);
    c.serial = r.serial.empty() ? std::string(kNone) : r.serial;
    c.voltage = r.millivolts ? fixedPoint(*r.millivolts, 3) : std::string(kNone);
    c.current = r.measuresCurrent() ? std::string(r.highRange() ? "H: " : "L: ") + fixedPoint(r.milliamps, 3)
                                    : std::string(kNone);
    c.temperature = r.millivolts ? fixedPoint(r.tenthsCelsius, 1) : std::string(kNone);
    c.firmware = bus::versionToString(r.fwVersion);
    c.bootLoader = bus::versionToString(r.blVersion);
    c.productId = bus::ConvertHex1(r.productId, 4);
    return c;
}

QJsonObject balancerJson(int number, const BalancerReading& r) {
    QJsonObject o;
    o["id"] = number;
    o["battery"] = r.battery + 1;
    o["serial"] = QString::fromStdString(r.serial);
    o["voltage_mv"] = r.millivolts ? QJsonValue(*r.millivolts) : QJsonValue(QJsonValue::Null);
    o["current_ma"] = r.measuresCurrent() ? QJsonValue(r.milliamps) : QJsonValue(QJsonValue::Null);
    o["current_range"] =
        r.measuresCurrent() ? QJsonValue(r.highRange() ? "high" : "low") : QJsonValue(QJsonValue::Null);
    o["temperature_c"] = r.millivolts ? QJsonValue(r.tenthsCelsius / 10.0) : QJsonValue(QJsonValue::Null);
    o["firmware"] = QString::fromStdString(bus::versionToString(r.fwVersion));
    o["boot_loader"] = QString::fromStdString(bus::versionToString(r.blVersion));
    o["product_id"] = QString::fromStdString(bus::ConvertHex1(r.productId, 4));
    o["crc_errors"] = static_cast<qint64>(r.crcErrors);
    return o;
}

QJsonArray balancersJson(const BankSnapshot& snapshot) {
    QJsonArray rows;
    for (std::size_t i = 0; i < snapshot.balancers.size(); ++i) {
        rows.append(balancerJson(static_cast<int>(i) + 1, snapshot.balancers[i]));
    }
    return rows;
}

std::string compact(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

} // namespace

bool anyMeasured(const BankSnapshot& snapshot) {
    return std::any_of(snapshot.balancers.begin(), snapshot.balancers.end(),
                       [](const BalancerReading& r) { return r.millivolts.has_value(); });
}

std::string scanTable(const BankSnapshot& snapshot) {
    using Row = std::array<std::string, 9>;
    std::vector<Row> rows = {{"id", "battery", "serial", "voltage [V]", "current [A]", "temperature [degC]",
                              "firmware", "boot loader", "product id"}};
    for (std::size_t i = 0; i < snapshot.balancers.size(); ++i) {
        const Cells c = cellsOf(static_cast<int>(i) + 1, snapshot.balancers[i]);
        rows.push_back({c.id, c.battery, c.serial, c.voltage, c.current, c.temperature, c.firmware,
                        c.bootLoader, c.productId});
    }
    // Numbers to the right, texts to the left.
    constexpr std::array<bool, 9> rightAligned = {true, true, false, true, true, true, false, false, false};
    std::array<std::size_t, 9> width{};
    for (const Row& r : rows) {
        for (std::size_t col = 0; col < r.size(); ++col) {
            width[col] = std::max(width[col], r[col].size());
        }
    }
    std::string out;
    for (const Row& r : rows) {
        std::string line;
        for (std::size_t col = 0; col < r.size(); ++col) {
            const std::string pad(width[col] - r[col].size(), ' ');
            if (col > 0) {
                line += "  ";
            }
            line += rightAligned[col] ? pad + r[col] : r[col] + pad;
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out += line + "\n";
    }
    return out;
}

std::string balancerLine(int number, const BalancerReading& reading) {
    const Cells c = cellsOf(number, reading);
    const std::string volts = reading.millivolts ? c.voltage + " V" : c.voltage;
    const std::string amps = reading.measuresCurrent() ? c.current + " A" : c.current;
    const std::string degrees = reading.millivolts ? c.temperature + " degC" : c.temperature;
    return "cell " + c.id + ": battery " + c.battery + ", " + c.serial + ", " + volts + ", " + amps + ", " +
           degrees + ", firmware " + c.firmware + ", boot loader " + c.bootLoader + ", product " +
           c.productId;
}

std::string scanJson(const BankSnapshot& snapshot) {
    QJsonObject o;
    o["balancers"] = balancersJson(snapshot);
    return compact(o);
}

std::string scanCsv(const BankSnapshot& snapshot) {
    const std::string_view end = recording::kCsvLineEnd;
    std::string out = "id,battery,serial,voltage [V],current [A],current range,temperature [degC],firmware,"
                      "boot loader,product id";
    out += end;
    for (std::size_t i = 0; i < snapshot.balancers.size(); ++i) {
        const BalancerReading& r = snapshot.balancers[i];
        out += std::to_string(i + 1) + "," + std::to_string(r.battery + 1) + "," +
               recording::csvField(r.serial) + ",";
        out += (r.millivolts ? fixedPoint(*r.millivolts, 3) : "") + ",";
        out += (r.measuresCurrent() ? fixedPoint(r.milliamps, 3) : "") + ",";
        out += std::string(r.measuresCurrent() ? (r.highRange() ? "high" : "low") : "") + ",";
        out += (r.millivolts ? fixedPoint(r.tenthsCelsius, 1) : "") + ",";
        out += recording::csvField(bus::versionToString(r.fwVersion)) + ",";
        out += recording::csvField(bus::versionToString(r.blVersion)) + ",";
        out += bus::ConvertHex1(r.productId, 4);
        out += end;
    }
    return out;
}

std::string watchLine(std::chrono::system_clock::time_point at, const BankSnapshot& snapshot,
                      const std::optional<bank::BankValues>& bank) {
    const bank::BankSummary s = bank::summarizeBank(snapshot);
    std::string line = recording::isoTimestamp(at) + "  " + std::to_string(snapshot.balancers.size()) +
                       (snapshot.balancers.size() == 1 ? " balancer" : " balancers");
    if (s.minVoltage && s.maxVoltage) {
        line += ", " + std::to_string(s.cellCount) + " measured, " + fixedPoint(s.minVoltage->value, 3) +
                " V (cell " + std::to_string(s.minVoltage->cell) + ") to " +
                fixedPoint(s.maxVoltage->value, 3) + " V (cell " + std::to_string(s.maxVoltage->cell) +
                "), spread " + std::to_string(s.deltaMv) + " mV";
    } else {
        line += ", none measured";
    }
    if (s.maxTemperature) {
        line += ", hottest " + fixedPoint(s.maxTemperature->value, 1) + " degC (cell " +
                std::to_string(s.maxTemperature->cell) + ")";
    }
    if (bank) {
        line += ", bank " + fixedPoint(bank->batVoltage, 3) + " V " + fixedPoint(bank->batCurrent, 3) +
                " A, setpoint " + fixedPoint(bank->balancerSetpoint, 3) + " V";
    }
    return line + "\n";
}

std::string watchJsonLine(std::chrono::system_clock::time_point at, const BankSnapshot& snapshot,
                          const std::optional<bank::BankValues>& bank) {
    QJsonObject o;
    o["time"] = QString::fromStdString(recording::isoTimestamp(at));
    if (bank) {
        QJsonObject b;
        b["voltage_mv"] = bank->batVoltage;
        b["current_ma"] = bank->batCurrent;
        b["setpoint_mv"] = bank->balancerSetpoint;
        o["bank"] = b;
    } else {
        o["bank"] = QJsonValue(QJsonValue::Null);
    }
    o["balancers"] = balancersJson(snapshot);
    return compact(o);
}

std::string watchCsvHeader() {
    recording::CsvValues all;
    all.fill(true);
    return recording::csvHeader(all);
}

std::string watchCsvRows(std::chrono::system_clock::time_point at, const BankSnapshot& snapshot) {
    recording::CsvValues all;
    all.fill(true);
    const std::string stamp = recording::isoTimestamp(at);
    std::string rows;
    for (std::size_t i = 0; i < snapshot.balancers.size(); ++i) {
        rows += recording::csvRow(stamp, static_cast<int>(i) + 1, snapshot.balancers[i], all);
    }
    return rows;
}

} // namespace zanst::cli
