#include "updater.hpp"

#include "bus/frames.hpp"
#include "bus/hex.hpp"
#include "bus/identity.hpp"
#include "bus/protocol.hpp"
#include "bus/senders.hpp"

#include <string>

namespace zanst::service {

namespace {

constexpr std::size_t kBlockDataAt = 12;

bus::Bytes updateWordFrame(std::uint8_t command, std::string_view word) {
    bus::Bytes frame = bus::makeFrame(command, 10);
    bus::putAscii(frame, 4, word);
    bus::seal(frame, 0);
    return frame;
}

std::string progressText(std::size_t percent) {
    return "Start Update..." + std::to_string(percent) + "%";
}

} // namespace

bus::Bytes buildStartBootloadersFrame() {
    return bus::buildCommandWordFrame(bus::cmd::kStartBootloader, bus::identity::kWordStartBootloader);
}

bus::Bytes buildStartUpdateFrame() {
    return updateWordFrame(bus::cmd::kStartUpdate, bus::identity::kWordStartUpdate);
}

bus::Bytes buildEndUpdateFrame() {
    return updateWordFrame(bus::cmd::kEndUpdate, bus::identity::kWordEndUpdate);
}

bus::Bytes buildDataBlock(const FirmwareImage& image, std::size_t blockNum, bool forceUpdate) {
    bus::Bytes frame = bus::makeDataBlockFrame();
    frame[6] = static_cast<std::uint8_t>(blockNum & 0xFF);
    frame[7] = forceUpdate ? 1 : 0;
    for (std::size_t i = 0; i < 4; ++i) {
        frame[8 + i] = image.at(kImageVersionOffset + 3 - i);
    }
    const std::size_t base = blockNum * kImageBlockSize;
    unsigned sum = 0;
    for (std::size_t i = 0; i < kImageBlockSize; ++i) {
        const std::uint8_t b = image.at(base + i);
        frame[kBlockDataAt + i] = b;
        sum += b;
    }
    const std::size_t sumAt = kBlockDataAt + kImageBlockSize;
    frame[sumAt] = static_cast<std::uint8_t>((sum >> 8) & 0xFF);
    frame[sumAt + 1] = static_cast<std::uint8_t>(sum & 0xFF);
    bus::seal(frame, 0);
    return frame;
}

UpdaterReport FirmwareUpdater::fileRead(HexReadResult result) {
    for (const auto& line : result.log) {
        log(line);
    }
    if (!result.image) {
        return take();
    }
    // A block of the previous image may still be on its way; the restart must not wait for it.
    blockSenderRunning_ = false;
    state_.flashBsy = false;
    image_ = std::move(result.image);
    updaterState = 0;
    updaterTimeout = 0;
    updateTickRunning_ = true;
    return take();
}

void FirmwareUpdater::awaitAnswer(std::uint8_t command) {
    state_.ackReceived = 0;
    state_.acksSeen.reset(command);
}

bool FirmwareUpdater::answered(std::uint8_t command) const {
    return state_.ackReceived == command || state_.acksSeen.test(command);
}

void FirmwareUpdater::startBootloaders() {
    log("Start BootLoaders");
    awaitAnswer(bus::cmd::kStartBootloader);
    bus::sendHexBmsCmd(port_, state_.frameReceiving, buildStartBootloadersFrame());
    state_.bInBootloaderMode = true;
    state_.balancersInfo = false;
    state_.tables.clearData();
    state_.frameReceiving = false;
    updaterStateTimeout = 0;
}

UpdaterReport FirmwareUpdater::updaterTick() {
    tick();
    return take();
}

void FirmwareUpdater::tick() {
    if (!updateTickRunning_ || !image_) {
        return;
    }
    ++updaterStateTimeout;
    ++updaterTimeout;
    if (updaterTimeout > kUpdateLimitTicks) {
        log("Updater Timeout");
        updateTickRunning_ = false;
        blockSenderRunning_ = false;
        updaterTimeout = 0;
        state_.flashRdy = true;
        updaterState = 6;
    }

    switch (updaterState) {
    case 0:
        startBootloaders();
        updaterState = 1;
        break;
    case 1:
        if (updaterStateTimeout > kWaitTicks) {
            updaterState = 0;
        }
        if (answered(bus::cmd::kStartBootloader)) {
            updaterDelay = 0;
            log("Start Update...");
            updaterState = 2;
        }
        break;
    case 2:
        if (++updaterDelay > kPauseTicks) {
            awaitAnswer(bus::cmd::kStartUpdate);
            bus::sendHexUpdaterCmd(port_, buildStartUpdateFrame());
            state_.bUpdaterMode = true;
            updaterStateTimeout = 0;
            updaterState = 3;
        }
        break;
    case 3:
        if (updaterStateTimeout > kWaitTicks) {
            updaterState = 2; // its pause has run out: it sends again at once
        }
        if (answered(bus::cmd::kStartUpdate)) {
            updaterDelay = 0;
            updaterState = 4;
        }
        break;
    case 4:
        if (++updaterDelay > kPauseTicks) {
            state_.flashRdy = false;
            numImageBlocks = (image_->imageLength() + kImageBlockSize - 1) / kImageBlockSize;
            state_.flashBsy = false;
            imageDataPtr = 0;
            imageBlockNum = 0;
            blockSenderRunning_ = true;
            updaterState = 5;
        }
        break;
    case 5:
        if (state_.flashRdy) {
            log("Update Ready");
            updaterState = 6;
        }
        break;
    case 6:
        sendEndUpdate();
        break;
    case 7:
        if (answered(bus::cmd::kEndUpdate)) {
            log("Firmware updated to " + bus::versionToString(image_->version()));
            updateTickRunning_ = false;
        }
        break;
    default:
        break;
    }
}

void FirmwareUpdater::sendEndUpdate() {
    report_.endUpdateSent = true;
    awaitAnswer(bus::cmd::kEndUpdate);
    bus::sendHexUpdaterCmd(port_, buildEndUpdateFrame());
    state_.bUpdaterMode = false;
    updaterState = 7;
}

UpdaterReport FirmwareUpdater::stopUpdate(std::string_view reason) {
    if (!updateTickRunning_ || !image_) {
        return take();
    }
    log(std::string(reason));
    updateTickRunning_ = false;
    blockSenderRunning_ = false;
    updaterTimeout = 0;
    state_.flashRdy = true;
    if (updaterState != 7) {
        sendEndUpdate();
    }
    return take();
}

void FirmwareUpdater::sendNextBlock() {
    const bus::Bytes block = buildDataBlock(*image_, imageBlockNum, forceUpdate);
    // In flight before the write: an echo that comes back during the write clears it.
    state_.flashBsy = true;
    state_.frameReceiving = false;
    bus::sendHexUpdaterCmd(port_, block);
    ++imageBlockNum;
    imageDataPtr += kImageBlockSize;
    log(progressText((100 / numImageBlocks) * imageBlockNum), false);
}

UpdaterReport FirmwareUpdater::timerFw_Tick() {
    if (!blockSenderRunning_ || !image_ || state_.flashBsy) {
        return take();
    }
    if (imageDataPtr < image_->imageLength() && numImageBlocks > 0) {
        sendNextBlock();
        return take();
    }
    log(progressText(100), false);
    blockSenderRunning_ = false;
    state_.flashRdy = true;
    return take();
}

} // namespace zanst::service
