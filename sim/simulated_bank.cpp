#include "sim/simulated_bank.hpp"

#include "bus/frames.hpp"
#include "bus/hex.hpp"
#include "bus/identity.hpp"
#include "bus/protocol.hpp"
#include "bus/records.hpp"
#include "bus/tables.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace zanst::sim {

namespace {

constexpr double kStartBaseMv = 3310.0; // a bank resting at mid charge
constexpr double kMinBaseMv = 2950.0;   // the flat LFP curve's useful ends
constexpr double kMaxBaseMv = 3620.0;
constexpr double kDriftMvPerAs = 0.01;    // at 100 Ah: 10 A moves the bank 6 mV a minute
constexpr double kResistanceMvPerA = 0.5; // at 100 Ah
constexpr double kHighCellStartMv = 70.0;
constexpr double kHighCellCreepMvPerS = 0.05;
constexpr double kHighCellCreepPerAmp = 0.005;
constexpr double kMaxOffsetMv = 200.0;
constexpr double kBleedMvPerS = 0.8;
constexpr double kAmbientTenths = 200.0;
constexpr double kHeatTenthsPerAmp = 1.5;
constexpr double kBleedHeatTenths = 30.0;
constexpr double kMaxTempTenths = 700.0;
constexpr double kThermalTauS = 120.0;
constexpr double kMaxStepS = 1.0;
constexpr double kMaxAdvanceS = 3600.0;
constexpr int kMinSetpointMv = 2500;   // anything lower is no setpoint at all
constexpr std::size_t kIdSlots = 4096; // every 12-bit balancer id

std::string hex2(int v) {
    return bus::ConvertHex(static_cast<std::uint64_t>(v & 0xFF), 2);
}

std::string_view asciiAt(const bus::Bytes& b, std::size_t at, std::size_t n) {
    if (at + n > b.size()) {
        return {};
    }
    return {reinterpret_cast<const char*>(b.data() + at), n};
}

Answer passOn(const Message& request, std::string line) {
    return {flatten(request), std::move(line)};
}

std::string countText(int n, const char* what) {
    return std::to_string(n) + " " + what;
}

} // namespace

bus::Bytes flatten(const Message& m) {
    bus::Bytes out = m.frame;
    for (const auto& r : m.records) {
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

std::string Bank::serialFor(std::uint16_t productId, int battery) {
    char text[16];
    std::snprintf(text, sizeof text, "SIM%04XB%03d", productId, (battery + 1) % 1000);
    return text;
}

Bank::Bank(const BankConfig& config, TimePoint start)
    : config_(config), rng_(config.seed), now_(start), baseMv_(kStartBaseMv) {
    config_.batteries = std::clamp(config_.batteries, 1, kMaxBatteries);
    const int cells = config_.preset.cellsInSeries;
    const int total = cells * config_.batteries;
    std::uniform_real_distribution<double> spread(-4.0, 4.0);
    std::uniform_real_distribution<double> share(-0.03, 0.03);
    std::uniform_real_distribution<double> vError(-0.002, 0.002);
    std::uniform_real_distribution<double> iError(-0.02, 0.02);
    std::uniform_int_distribution<int> zero(-40, 40);
    std::uniform_real_distribution<double> tOffset(-5.0, 5.0);
    balancers_.resize(static_cast<std::size_t>(total));
    for (int i = 0; i < total; ++i) {
        Balancer& b = balancers_[static_cast<std::size_t>(i)];
        b.id = static_cast<std::uint16_t>(i + 1);
        // Current sensors as the batteries carry them: every fourth cell low range, the one two
        // further on high range.
        b.sensor = i % 4 == 0 ? Sensor::LowRange : (i % 4 == 2 ? Sensor::HighRange : Sensor::None);
        b.productId = static_cast<std::uint16_t>(config_.preset.productId);
        b.serial = serialFor(b.productId, i / cells);
        b.capacity = static_cast<std::uint16_t>(config_.preset.capacityAh);
        b.offsetMv = spread(rng_);
        b.driftShare = share(rng_);
        b.vSensorError = vError(rng_);
        if (b.measuresCurrent()) {
            b.iSensorError = iError(rng_);
            b.iZeroError = zero(rng_);
        }
        b.tempOffset = tOffset(rng_);
        b.factoryCalibrate();
    }
    // One cell of the first battery runs high until the balancers bring it down.
    Balancer& high = balancers_[static_cast<std::size_t>(std::min(2, total - 1))];
    high.runsHigh = true;
    high.offsetMv += kHighCellStartMv;
    step(0.0);
    for (auto& b : balancers_) {
        b.tempTenths = kAmbientTenths + b.tempOffset;
    }
}

std::optional<int> Bank::setpointMv(TimePoint now) const {
    if (setpoint_ && now - setpointAt_ <= kSetpointLifetime) {
        return setpoint_;
    }
    return std::nullopt;
}

void Bank::updateBleeding(TimePoint now) {
    const auto setpoint = setpointMv(now);
    for (auto& b : balancers_) {
        const bool aboveSetpoint = setpoint && !b.testMode && b.reportedMv() > *setpoint;
        b.bleeding = !b.bootMode && (b.loadOn || aboveSetpoint);
    }
}

void Bank::step(double dt) {
    const double scale = 100.0 / std::max(config_.preset.capacityAh, 1);
    const double amps = config_.currentA;
    baseMv_ = std::clamp(baseMv_ + amps * kDriftMvPerAs * scale * dt, kMinBaseMv, kMaxBaseMv);
    const double heatTarget = kAmbientTenths + std::abs(amps) * kHeatTenthsPerAmp;
    const double blend = dt > 0 ? 1.0 - std::exp(-dt / kThermalTauS) : 0.0;
    for (auto& b : balancers_) {
        b.offsetMv += amps * kDriftMvPerAs * scale * b.driftShare * dt;
        if (b.runsHigh && !b.bleeding) {
            b.offsetMv += (kHighCellCreepMvPerS + std::abs(amps) * kHighCellCreepPerAmp) * dt;
        }
        if (b.bleeding) {
            b.offsetMv -= kBleedMvPerS * dt;
        }
        b.offsetMv = std::clamp(b.offsetMv, -kMaxOffsetMv, kMaxOffsetMv);
        b.trueMv = baseMv_ + b.offsetMv + amps * kResistanceMvPerA * scale;
        const double target =
            std::min(heatTarget + b.tempOffset + (b.bleeding ? kBleedHeatTenths : 0.0), kMaxTempTenths);
        b.tempTenths += (target - b.tempTenths) * blend;
    }
}

void Bank::advance(TimePoint now) {
    if (now <= now_) {
        return;
    }
    double left = std::min(seconds(now - now_), kMaxAdvanceS);
    TimePoint t = now_;
    while (left > 0) {
        const double dt = std::min(left, kMaxStepS);
        updateBleeding(t);
        step(dt);
        left -= dt;
        t += std::chrono::duration_cast<Duration>(std::chrono::duration<double>(dt));
    }
    now_ = now;
    updateBleeding(now_);
    if (update_.phase == UpdateState::Phase::BootLoader && !update_.applicationErased &&
        now - update_.lastTraffic >= kBootLoaderIdle) {
        for (auto& b : balancers_) {
            b.bootMode = false;
        }
        update_.phase = UpdateState::Phase::Idle;
    }
}

int Bank::voltageNoise() {
    if (!config_.noise) {
        return 0;
    }
    return std::uniform_int_distribution<int>(-1, 1)(rng_);
}

int Bank::currentNoise(const Balancer& b) {
    if (!config_.noise || !b.measuresCurrent()) {
        return 0;
    }
    const int amplitude = b.sensor == Sensor::HighRange ? 40 : 3;
    return std::uniform_int_distribution<int>(-amplitude, amplitude)(rng_);
}

Answer Bank::respond(Message request, TimePoint now) {
    advance(now);
    if (request.frame.size() < bus::kFrameOverhead) {
        return {};
    }
    const std::uint8_t command = request.command();
    if (!bus::crcValid(request.frame)) {
        return passOn(request, "frame " + hex2(command) + " with a wrong CRC: passed on untouched");
    }
    switch (command) {
    case bus::cmd::kInfo:
        return answerInfo(request);
    case bus::cmd::kMeasurement:
        return answerRecords(request, bus::rec::kMeasurement, now);
    case bus::cmd::kCalibrationData:
        return answerRecords(request, bus::rec::kCalibration, now);
    case bus::cmd::kTestMode:
        return handleTestMode(request);
    case bus::cmd::kCalibrate:
        return handleCalibrate(request);
    case bus::cmd::kSaveCalibration:
        return handleSaveCalibration(request);
    case bus::cmd::kBatteryParameters:
        return handleParameters(request);
    case bus::cmd::kReloadCalibration:
        return handleReload(request);
    case bus::cmd::kStartBootloader:
        return handleBootLoader(request, now);
    case bus::cmd::kStartUpdate:
        return handleStartUpdate(request, now);
    case bus::cmd::kDataBlock:
        return handleBlock(request, now);
    case bus::cmd::kEndUpdate:
        return handleEndUpdate(request, now);
    case bus::cmd::kCurrentAdjust:
        return handleCurrentAdjust(request);
    case bus::cmd::kMetrics:
        return answerMetrics(request);
    default:
        return passOn(request, "frame " + hex2(command) + " passed on");
    }
}

Answer Bank::answerInfo(const Message& request) {
    bus::Bytes out = request.frame;
    bus::seal(out, balancers_.empty() ? 0 : bus::rec::kInfo);
    int booting = 0;
    for (std::size_t i = 0; i < balancers_.size(); ++i) {
        const bool last = i + 1 == balancers_.size();
        const bus::Bytes r = balancers_[i].infoRecord(last ? 0 : bus::rec::kInfo);
        out.insert(out.end(), r.begin(), r.end());
        booting += balancers_[i].bootMode ? 1 : 0;
    }
    std::string line = "info: " + countText(static_cast<int>(balancers_.size()), "records");
    if (booting > 0) {
        line += ", " + countText(booting, "in boot loader");
    }
    return {std::move(out), std::move(line)};
}

Answer Bank::answerRecords(Message& request, std::uint8_t type, TimePoint now) {
    const bool measurement = type == bus::rec::kMeasurement;
    std::string line = measurement ? "measurement: " : "calibration data: ";
    if (measurement) {
        const int setpoint = bus::getLe16(request.frame, 4);
        if (setpoint >= kMinSetpointMv) {
            setpoint_ = setpoint;
            setpointAt_ = now;
            updateBleeding(now);
        }
        line += "setpoint " + std::to_string(setpoint) + " mV, ";
    }
    std::vector<bus::Bytes>& records = request.records;
    std::vector<bool> touched(records.size(), false);
    // Where each balancer finds its own record: the first of its id, as it travels the ring.
    if (slotOf_.empty()) {
        slotOf_.assign(kIdSlots, -1);
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        const bus::Bytes& r = records[i];
        if (r[0] == type) {
            int& slot = slotOf_[bus::recordId(r)];
            slot = slot < 0 ? static_cast<int>(i) : slot;
        }
    }
    int filled = 0;
    int appended = 0;
    for (const auto& b : balancers_) {
        if (b.bootMode || (config_.deadAfter > 0 && b.id > config_.deadAfter)) {
            continue; // a boot loader or a dead board measures nothing; the record passes as it came
        }
        std::size_t at = 0;
        if (const int slot = slotOf_[b.id & (kIdSlots - 1)]; slot >= 0) {
            at = static_cast<std::size_t>(slot);
            touched[at] = true;
        } else {
            records.push_back(bus::makeRecord(type, bus::recordSize(type), b.id));
            touched.push_back(true);
            at = records.size() - 1;
            ++appended;
        }
        if (measurement) {
            b.fillMeasurement(records[at], batteryCurrentMa(), voltageNoise(), currentNoise(b));
        } else {
            b.fillCalibration(records[at]);
        }
        ++filled;
    }
    // Every record the ring changed, or whose successor changed, carries a fresh following flag and CRC.
    std::size_t total = request.frame.size();
    for (std::size_t i = 0; i < records.size(); ++i) {
        auto& r = records[i];
        slotOf_[bus::recordId(r)] = -1;
        total += r.size();
        const std::uint8_t following = i + 1 < records.size() ? r[0] : 0;
        if (touched[i] || r[bus::followingIndex(r.size())] != following) {
            bus::seal(r, following);
        }
    }
    bus::Bytes out;
    out.reserve(total);
    out.insert(out.end(), request.frame.begin(), request.frame.end());
    const std::uint8_t frameFollowing = records.empty() ? 0 : type;
    if (out[bus::followingIndex(out.size())] != frameFollowing) {
        bus::seal(out, frameFollowing);
    }
    for (const auto& r : records) {
        out.insert(out.end(), r.begin(), r.end());
    }
    line += countText(filled, "filled");
    if (appended > 0) {
        line += " (" + countText(appended, "appended") + ")";
    }
    if (measurement) {
        const int bleeding = static_cast<int>(std::count_if(balancers_.begin(), balancers_.end(),
                                                            [](const Balancer& b) { return b.bleeding; }));
        if (bleeding > 0) {
            line += ", " + countText(bleeding, "balancing");
        }
    }
    return {std::move(out), std::move(line)};
}

Answer Bank::handleTestMode(const Message& request) {
    const std::string_view word = asciiAt(request.frame, 4, 4);
    namespace id = bus::identity;
    std::string what;
    if (word == id::kWordEnterTest || word == id::kWordLeaveTest) {
        const bool on = word == id::kWordEnterTest;
        for (auto& b : balancers_) {
            b.testMode = on;
        }
        what = on ? "test mode on" : "test mode off";
    } else if (word == id::kWordLoadOn || word == id::kWordLoadOff) {
        const bool on = word == id::kWordLoadOn;
        for (auto& b : balancers_) {
            b.loadOn = on;
        }
        what = on ? "balancing load on" : "balancing load off";
    } else {
        what = "unknown word '" + std::string(word) + "' ignored";
    }
    updateBleeding(now_);
    return passOn(request, "0x10: " + what);
}

Answer Bank::handleCalibrate(const Message& request) {
    const int target = request.frame.size() > 4 ? request.frame[4] : 0;
    const int value = bus::getLe16(request.frame, 6);
    const int kind = request.frame.size() > 8 ? request.frame[8] : 0;
    std::string line = "0x11: balancer " + std::to_string(target) + " ";
    auto it =
        std::find_if(balancers_.begin(), balancers_.end(), [&](const Balancer& b) { return b.id == target; });
    if (it == balancers_.end()) {
        return passOn(request, line + "not on the ring");
    }
    std::string refused;
    switch (kind) {
    case 1:
        refused = it->calibrateVoltage(value);
        line += "voltage to " + std::to_string(value) + " mV";
        break;
    case 2:
        refused = it->calibrateCurrentGain(value, batteryCurrentMa());
        line += "current gain to " + std::to_string(value / 10) + "." + std::to_string(value % 10) + " A";
        break;
    case 3:
        refused = it->calibrateCurrentOffset(batteryCurrentMa());
        line += "current offset";
        break;
    default:
        refused = "kind " + std::to_string(kind) + " unknown";
        line += "calibration";
        break;
    }
    line += refused.empty() ? ": done" : ": refused, " + refused;
    return passOn(request, line);
}

Answer Bank::handleSaveCalibration(const Message& request) {
    const int target = request.frame.size() > 4 ? request.frame[4] : 0;
    std::string line = "0x12: balancer " + std::to_string(target) + " save calibration";
    auto it =
        std::find_if(balancers_.begin(), balancers_.end(), [&](const Balancer& b) { return b.id == target; });
    if (it == balancers_.end()) {
        return passOn(request, line + ": not on the ring");
    }
    const std::string refused = it->saveCalibration();
    line += refused.empty() ? ": done, battery parameters cleared" : ": refused, " + refused;
    return passOn(request, line);
}

Answer Bank::handleParameters(const Message& request) {
    const auto capacity = bus::getLe16(request.frame, 4);
    const auto productId = bus::getLe16(request.frame, 6);
    const std::string serial(asciiAt(request.frame, 8, bus::kSerialLength));
    std::string line = "0x13: parameters " + serial + ", " + std::to_string(capacity) + " Ah, product " +
                       bus::ConvertHex1(productId, 4);
    if (serial.size() != bus::kSerialLength ||
        !std::all_of(serial.begin(), serial.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
        return passOn(request, "0x13: refused, the serial is not 11 printable characters");
    }
    int taken = 0;
    for (auto& b : balancers_) {
        taken += b.setParameters(capacity, productId, serial).empty() ? 1 : 0;
    }
    line += ": taken by " + countText(taken, "balancers in test mode");
    return passOn(request, line);
}

Answer Bank::handleReload(const Message& request) {
    for (auto& b : balancers_) {
        b.reloadCalibration();
    }
    return passOn(request, "0x14: calibration reloaded from the saved page");
}

Answer Bank::handleCurrentAdjust(const Message& request) {
    const std::string_view word = asciiAt(request.frame, 4, 4);
    if (word != bus::identity::kWordCurrentAdjust) {
        return passOn(request, "0x30: unknown word '" + std::string(word) + "' ignored");
    }
    const int operation = request.frame.size() > 8 ? request.frame[8] : 0;
    const int step = request.frame.size() > 10 ? request.frame[10] : 0;
    const std::string serial(asciiAt(request.frame, 12, bus::kSerialLength));
    int changed = 0;
    std::string refused;
    for (auto& b : balancers_) {
        if (b.serial != serial || !b.measuresCurrent()) {
            continue;
        }
        const std::string why = b.adjustCurrent(operation, step, batteryCurrentMa());
        if (why.empty()) {
            ++changed;
        } else {
            refused = why;
        }
    }
    std::string line = "0x30: operation " + std::to_string(operation) + " on battery " + serial + ": " +
                       countText(changed, "sensors adjusted");
    if (!refused.empty()) {
        line += ", refused: " + refused;
    }
    return passOn(request, line);
}

Answer Bank::handleBootLoader(const Message& request, TimePoint now) {
    if (asciiAt(request.frame, 4, 4) != bus::identity::kWordStartBootloader) {
        return passOn(request, "0x20: unknown word ignored");
    }
    for (auto& b : balancers_) {
        b.bootMode = true;
        b.bleeding = false;
    }
    update_.phase = UpdateState::Phase::BootLoader;
    update_.lastTraffic = now;
    return passOn(request, "0x20: all balancers in their boot loader");
}

Answer Bank::handleStartUpdate(const Message& request, TimePoint now) {
    if (asciiAt(request.frame, 4, 10) != bus::identity::kWordStartUpdate) {
        return passOn(request, "0x21: unknown word ignored");
    }
    if (update_.phase == UpdateState::Phase::Idle) {
        return passOn(request, "0x21: passed on, no balancer is in its boot loader");
    }
    update_.phase = UpdateState::Phase::Receiving;
    update_.nextBlock = 0;
    update_.imageVersion = 0;
    update_.failure.clear();
    update_.applicationErased = true;
    update_.lastTraffic = now;
    return passOn(request, "0x21: update started, application erased");
}

Answer Bank::handleBlock(const Message& request, TimePoint now) {
    const bus::Bytes& f = request.frame;
    if (update_.phase == UpdateState::Phase::Failed) {
        return {{}, "0x23: block refused, the update failed earlier (" + update_.failure + ")"};
    }
    if (update_.phase != UpdateState::Phase::Receiving) {
        return passOn(request, "0x23: passed on, no update was started");
    }
    update_.lastTraffic = now;
    const int block = f.size() > 6 ? f[6] : -1;
    const auto fail = [&](std::string why) {
        update_.phase = UpdateState::Phase::Failed;
        update_.failure = "block " + std::to_string(block) + ": " + why;
        return Answer{{}, "0x23: block " + std::to_string(block) + " REFUSED, " + why + "; update failed"};
    };
    if (f.size() != bus::kDataBlockSize) {
        return fail("length " + std::to_string(f.size()) + ", expected " +
                    std::to_string(bus::kDataBlockSize));
    }
    if (block != (update_.nextBlock & 0xFF)) {
        return fail("expected block " + std::to_string(update_.nextBlock & 0xFF));
    }
    unsigned sum = 0;
    for (std::size_t i = 12; i < 2060; ++i) {
        sum += f[i];
    }
    sum &= 0xFFFF;
    const unsigned stated = static_cast<unsigned>(f[2060] << 8 | f[2061]);
    if (sum != stated) {
        return fail("checksum " + bus::ConvertHex(stated, 4) + ", data sums to " + bus::ConvertHex(sum, 4));
    }
    const std::uint32_t version = static_cast<std::uint32_t>(f[8]) << 24 |
                                  static_cast<std::uint32_t>(f[9]) << 16 |
                                  static_cast<std::uint32_t>(f[10]) << 8 | f[11];
    if (update_.nextBlock > 0 && version != update_.imageVersion) {
        return fail("image version changed to " + bus::versionToString(version));
    }
    update_.imageVersion = version;
    ++update_.nextBlock;
    return passOn(request,
                  "0x23: block " + std::to_string(block) + " written" + (f[7] != 0 ? " (forced)" : ""));
}

void Bank::loseBlock(const std::string& why) {
    if (update_.phase == UpdateState::Phase::Receiving) {
        update_.phase = UpdateState::Phase::Failed;
        update_.failure = why;
    }
}

Answer Bank::handleEndUpdate(const Message& request, TimePoint now) {
    if (asciiAt(request.frame, 4, 10) != bus::identity::kWordEndUpdate) {
        return passOn(request, "0x22: unknown word ignored");
    }
    update_.lastTraffic = now;
    if (update_.phase == UpdateState::Phase::Receiving && update_.nextBlock == 0) {
        update_.phase = UpdateState::Phase::Failed;
        update_.failure = "no block arrived";
    }
    if (update_.phase == UpdateState::Phase::Failed) {
        return {{},
                "0x22: refused, update FAILED (" + update_.failure +
                    "); balancers stay in their boot loader with " +
                    bus::versionToString(balancers_.empty() ? 0 : balancers_.front().fwVersion)};
    }
    if (update_.phase != UpdateState::Phase::Receiving) {
        return passOn(request, "0x22: passed on, no update was started");
    }
    for (auto& b : balancers_) {
        b.fwVersion = update_.imageVersion;
        b.bootMode = false;
    }
    update_.phase = UpdateState::Phase::Idle;
    update_.applicationErased = false;
    return passOn(request, "0x22: update complete, " + countText(update_.nextBlock, "blocks") +
                               ", firmware " + bus::versionToString(update_.imageVersion));
}

} // namespace zanst::sim
