#include "sim/recorded_bank.hpp"

#include "sim/balancer.hpp"

#include "bus/frames.hpp"
#include "bus/hex.hpp"
#include "bus/protocol.hpp"
#include "bus/records.hpp"
#include "bus/tables.hpp"
#include "playback/preset_match.hpp"

#include <algorithm>
#include <cstdio>

namespace zanst::sim {

namespace {

constexpr std::size_t kIdSlots = 4096;

Answer passOn(const Message& request, std::string line) {
    return {flatten(request), std::move(line)};
}

// "REC" + product id + "B" + battery number: 11 characters, recognisable as made up.
std::string madeUpSerial(std::uint16_t productId, int battery) {
    char text[32];
    std::snprintf(text, sizeof text, "REC%04XB%03d", productId, (battery + 1) % 1000);
    return text;
}

Sensor sensorOf(std::uint8_t flags) {
    if ((flags & infoflag::kMeasuresCurrent) == 0) {
        return Sensor::None;
    }
    return (flags & infoflag::kHighRange) != 0 ? Sensor::HighRange : Sensor::LowRange;
}

} // namespace

RecordedBank::RecordedBank(playback::Timeline timeline) : timeline_(std::move(timeline)) {
    // What the recording does not say of the batteries comes from the model that plays it, if any.
    const playback::PresetMatch match = playback::matchPreset(timeline_);
    productId_ =
        timeline_.productId.value_or(match.ok ? static_cast<std::uint16_t>(match.info.productId) : 0);
    capacity_ = timeline_.capacity.value_or(match.ok ? static_cast<std::uint16_t>(match.info.capacityAh) : 0);
    serials_.assign(static_cast<std::size_t>(timeline_.cellCount), std::string());
    for (std::size_t b = 0; b < timeline_.batteries.size(); ++b) {
        const playback::Battery& battery = timeline_.batteries[b];
        const std::string serial =
            battery.serial.empty() ? madeUpSerial(productId_, static_cast<int>(b)) : battery.serial;
        for (int c = battery.firstCell; c < battery.firstCell + battery.cells && c < timeline_.cellCount;
             ++c) {
            serials_[static_cast<std::size_t>(c)] = serial;
        }
    }
}

std::size_t RecordedBank::stepAt(TimePoint now) {
    if (!start_) {
        start_ = now;
    }
    const std::int64_t length = std::max<std::int64_t>(timeline_.lengthMs(), 1);
    const auto elapsed = std::max<std::int64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - *start_).count(), 0);
    passes_ = std::max<long>(passes_, static_cast<long>(elapsed / length));
    return timeline_.stepAt(elapsed % length);
}

Answer RecordedBank::respond(Message request, TimePoint now) {
    const std::uint8_t command = request.command();
    if (!bus::crcValid(request.frame)) {
        return passOn(request,
                      "frame " + bus::ConvertHex(command, 2) + " with a wrong CRC: passed on untouched");
    }
    switch (command) {
    case bus::cmd::kInfo:
        return answerInfo(request);
    case bus::cmd::kMeasurement:
        return answerRecords(request, bus::rec::kMeasurement, now);
    case bus::cmd::kCalibrationData:
        return answerRecords(request, bus::rec::kCalibration, now);
    default:
        return passOn(request,
                      "frame " + bus::ConvertHex(command, 2) + " passed on (a recording does not act on it)");
    }
}

Answer RecordedBank::answerInfo(const Message& request) const {
    bus::Bytes out = request.frame;
    const auto count = static_cast<std::size_t>(timeline_.cellCount);
    bus::seal(out, count == 0 ? 0 : bus::rec::kInfo);
    for (std::size_t i = 0; i < count; ++i) {
        Balancer b;
        b.id = static_cast<std::uint16_t>(i + 1);
        b.sensor = sensorOf(i < timeline_.cellFlags.size() ? timeline_.cellFlags[i] : 0);
        b.serial = serials_[i];
        b.productId = productId_;
        b.capacity = capacity_;
        const bus::Bytes r = b.infoRecord(i + 1 < count ? bus::rec::kInfo : 0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return {std::move(out), "info: " + std::to_string(count) + " recorded balancers in " +
                                std::to_string(timeline_.batteries.size()) + " batteries"};
}

Answer RecordedBank::answerRecords(Message& request, std::uint8_t type, TimePoint now) {
    const bool measurement = type == bus::rec::kMeasurement;
    const long passesBefore = passes_;
    const std::size_t stepIndex = measurement && !timeline_.steps.empty() ? stepAt(now) : 0;
    std::vector<bus::Bytes>& records = request.records;
    std::vector<bool> touched(records.size(), false);
    // Each balancer fills the first record of its id, as it travels the ring.
    std::vector<int> slotOf(kIdSlots, -1);
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i][0] == type) {
            int& slot = slotOf[bus::recordId(records[i])];
            slot = slot < 0 ? static_cast<int>(i) : slot;
        }
    }
    int appended = 0;
    for (int id = 1; id <= timeline_.cellCount && id < static_cast<int>(kIdSlots); ++id) {
        std::size_t at = 0;
        if (const int slot = slotOf[static_cast<std::size_t>(id)]; slot >= 0) {
            at = static_cast<std::size_t>(slot);
        } else {
            records.push_back(bus::makeRecord(type, bus::recordSize(type), static_cast<std::uint16_t>(id)));
            touched.push_back(false);
            at = records.size() - 1;
            ++appended;
        }
        touched[at] = true;
        bus::Bytes& r = records[at];
        if (measurement && !timeline_.steps.empty()) {
            const playback::CellValues& v =
                timeline_.steps[stepIndex].cells[static_cast<std::size_t>(id - 1)];
            r[1] = status::kFromBalancer;
            bus::putLe32(r, 4, packMeasurement(v.millivolts, v.milliamps));
            bus::putLe16(r, 8, packTemperature(v.tenthsCelsius));
        } else {
            Balancer b; // factory constants: a recording holds no calibration
            b.fillCalibration(r);
        }
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        bus::Bytes& r = records[i];
        const std::uint8_t following = i + 1 < records.size() ? r[0] : 0;
        if (touched[i] || r[bus::followingIndex(r.size())] != following) {
            bus::seal(r, following);
        }
    }
    bus::Bytes& frame = request.frame;
    const std::uint8_t frameFollowing = records.empty() ? 0 : type;
    if (frame[bus::followingIndex(frame.size())] != frameFollowing) {
        bus::seal(frame, frameFollowing);
    }
    std::string line = measurement ? "measurement: " : "calibration data: ";
    if (measurement && !timeline_.steps.empty()) {
        line += "recorded step " + std::to_string(stepIndex + 1) + " of " +
                std::to_string(timeline_.steps.size()) + " at " +
                playback::clockText(timeline_.steps[stepIndex].timeMs) + ", ";
    }
    line += std::to_string(timeline_.cellCount) + " filled";
    if (appended > 0) {
        line += " (" + std::to_string(appended) + " appended)";
    }
    if (passes_ > passesBefore) {
        line += "; the recording starts again";
    }
    return {flatten(request), std::move(line)};
}

} // namespace zanst::sim
