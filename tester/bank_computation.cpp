#include "bank_computation.hpp"
#include "bus/records.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace zanst::tester {

int parallelStrings(int sysv, int nominalVolts, int batteries) {
    int strings = 1;
    if (sysv == 12) {
        strings = batteries;
    } else if (sysv == 24) {
        if (nominalVolts == 12) {
            strings = batteries / 2;
        } else if (nominalVolts == 24) {
            strings = batteries;
        }
    } else if (sysv == 48) {
        if (nominalVolts == 12) {
            strings = batteries / 4;
        } else if (nominalVolts == 24) {
            strings = batteries / 2;
        }
    }
    return strings == 0 ? 1 : strings;
}

int bankCurrent(std::optional<int> lowAverage, std::optional<int> highAverage) {
    if (!lowAverage) {
        return highAverage.value_or(0);
    }
    const int low = *lowAverage;
    const int high = highAverage.value_or(0); // without high-range sensors H is 0, even above 50 A
    const int magnitude = std::abs(low);
    if (magnitude < 30000) {
        return low;
    }
    if (magnitude >= 50000) {
        return high;
    }
    // Between 30 and 50 A the low-range sensor saturates: blend towards the high-range one.
    const int w = (magnitude - 30000) / 200;
    return low * (100 - w) / 100 + high * w / 100;
}

void CalcBMSParams(bus::BusState& state, int sysv, int correction, bank::BankValues& bank) {
    bank.batVoltage = 0;
    const int count = bus::walkableCells(state.numCells);
    if (count == 0) {
        return; // setpoint and current keep their last values
    }
    if (correction < kMinSetpointCorrection || correction > kMaxSetpointCorrection) {
        correction = kDefaultSetpointCorrection;
    }

    auto& tables = state.tables;
    tables.batteryData.fill(bus::batData{});
    int batteries = 0;
    std::string_view batterySerial;
    long long sum = 0;
    int highest = 0;
    int lowest = 5000;
    long long lowSum = 0;
    long long highSum = 0;
    int lowCount = 0;
    int highCount = 0;
    for (int id = 1; id <= count; ++id) {
        const auto& info = tables.balInfo[static_cast<std::size_t>(id)];
        const auto& cell = tables.balancer[static_cast<std::size_t>(id)];
        const std::string_view serial = info.serialText();
        if (batteries == 0 || serial != batterySerial) {
            if (static_cast<std::size_t>(batteries) < bus::kMaxBatteries) {
                std::copy(info.serial.begin(), info.serial.end(),
                          tables.batteryData[static_cast<std::size_t>(batteries)].serial.begin());
            }
            ++batteries;
            batterySerial = serial;
        }
        const int mv = bus::cellVoltageMv(cell.measurement);
        sum += mv;
        highest = std::max(highest, mv);
        lowest = std::min(lowest, mv);
        if (info.measuresCurrent()) {
            const int ma = bus::cellCurrentMa(cell.measurement);
            if (info.highRange()) {
                highSum += ma;
                ++highCount;
            } else {
                lowSum += ma;
                ++lowCount;
            }
        }
    }

    const int nominalVolts = (count / batteries) * 3;
    const int strings = parallelStrings(sysv, nominalVolts, batteries);

    const std::optional<int> low =
        lowCount > 0 ? std::optional<int>(static_cast<int>(lowSum / lowCount)) : std::nullopt;
    const std::optional<int> high =
        highCount > 0 ? std::optional<int>(static_cast<int>(highSum / highCount)) : std::nullopt;
    bank.batCurrent = bankCurrent(low, high);

    const int average = static_cast<int>(sum / count);
    bank.balancerSetpoint = (average + lowest) / 2;
    bank.batVoltage = static_cast<int>(std::min<long long>(sum / strings, kMaxBatVoltageMv));
    const int spread = highest - lowest;
    if (spread > 2 && spread < 10) {
        bank.balancerSetpoint = lowest;
    }

    bank.balancerSetpoint += std::abs(bank.batCurrent) / (1000 / correction);
    bank.balancerSetpoint = std::clamp(bank.balancerSetpoint, kSetpointMinMv, kSetpointMaxMv);
}

std::optional<int> parseSetpointCorrection(std::string_view text, char decimalPoint) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    std::string normalised(text);
    if (!normalised.empty() && normalised.front() == '+') {
        normalised.erase(0, 1);
    }
    for (char& c : normalised) {
        if (c == decimalPoint) {
            c = '.';
        }
    }
    if (normalised.empty()) {
        return std::nullopt;
    }
    double value = 0.0;
    const char* end = normalised.data() + normalised.size();
    const auto result = std::from_chars(normalised.data(), end, value, std::chars_format::general);
    if (result.ec != std::errc{} || result.ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    const double whole = std::trunc(value);
    if (whole < kMinSetpointCorrection || whole > kMaxSetpointCorrection) {
        return std::nullopt;
    }
    return static_cast<int>(whole);
}

} // namespace zanst::tester
