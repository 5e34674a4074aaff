#pragma once
// Firmware update of every balancer on the bus: start their boot loaders, open the update,
// stream the image in 2048-byte blocks with one block in flight at a time, close the update.
// The ring brings every frame back; the master-side receiver notes it in `ackReceived` (0x20,
// 0x21, 0x22) or clears `flashBsy` (a data block), which is what the updater waits for.
//
// The engine owns two timers and calls updaterTick() every 100 ms while updateTickRunning()
// and timerFw_Tick() every 10 ms while blockSenderRunning(); after every call into the updater
// it starts or stops each timer to match and hands the report on.

#include "hex_image.hpp"

#include "bus/bytes.hpp"
#include "bus/port.hpp"
#include "bus/state.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zanst::service {

inline constexpr std::size_t kImageBlockSize = 2048;

// 0x20 with the wake-up prefix: the boot-loader word and the master serial.
bus::Bytes buildStartBootloadersFrame();
// 0x21 and 0x22, 16 bytes each: the 10-character start-update and end-update words.
bus::Bytes buildStartUpdateFrame();
bus::Bytes buildEndUpdateFrame();

// 0x23, 2064 bytes: block number (low 8 bits), the "Force update" flag, the image version
// big-endian, 2048 image bytes from blockNum x 2048 (0xFF beyond the image), their 16-bit sum
// big-endian.
bus::Bytes buildDataBlock(const FirmwareImage& image, std::size_t blockNum, bool forceUpdate);

// What the console shows when the updater closes an update.
inline constexpr std::string_view kEndUpdateConsoleLine = "END_UPDATE";

// A text for the updater log: a new last line, or with `newLine` clear, in place of the last line.
struct UpdaterLogLine {
    std::string text;
    bool newLine = true;
};

// What one call into the updater did.
struct UpdaterReport {
    std::vector<UpdaterLogLine> log;
    bool endUpdateSent = false; // the end-update frame went out (the console says kEndUpdateConsoleLine)

    bool empty() const { return log.empty() && !endUpdateSent; }
};

class FirmwareUpdater {
  public:
    static constexpr int kUpdateTickMs = 100;
    static constexpr int kBlockTickMs = 10;
    static constexpr int kUpdateLimitTicks = 200; // 20 s after the file, the update is abandoned
    static constexpr int kWaitTicks = 10;         // an unanswered start is sent again after this
    static constexpr int kPauseTicks = 10;        // pause after each answered start

    FirmwareUpdater(bus::BusState& state, bus::BusPort& port) : state_(state), port_(port) {}

    // A dropped file, read by readHexImage: its lines go to the log; a valid image replaces the
    // one in use, stops a running block sender and restarts the update at state 0.
    UpdaterReport fileRead(HexReadResult result);

    UpdaterReport updaterTick();  // the 100 ms update tick
    UpdaterReport timerFw_Tick(); // the 10 ms block sender

    // Breaks off a running update at once (its user stops it): logs `reason`, stops both timers'
    // work and closes the update on the balancers with the end-update frame, as the time limit
    // does; an end-update frame already sent is not sent again. Nothing happens when no update runs.
    UpdaterReport stopUpdate(std::string_view reason);

    bool updateTickRunning() const { return updateTickRunning_; }
    bool blockSenderRunning() const { return blockSenderRunning_; }

    bool fwImageValid() const { return image_.has_value(); }

    bool forceUpdate = false; // "Force update", passed to the balancers in every block

    // State of the update, under the system's names.
    int updaterState = 0;
    int updaterTimeout = 0;      // ticks since the file was read
    int updaterStateTimeout = 0; // ticks spent waiting for an acknowledgement
    int updaterDelay = 0;        // ticks spent in a pause
    std::size_t numImageBlocks = 0;
    std::size_t imageBlockNum = 0; // next block to send
    std::size_t imageDataPtr = 0;  // offset of the next image byte to send

  private:
    void log(std::string text, bool newLine = true) { report_.log.push_back({std::move(text), newLine}); }
    UpdaterReport take() { return std::exchange(report_, {}); }
    void tick();
    // Before a frame the updater waits for goes out: forget earlier answers to its command.
    void awaitAnswer(std::uint8_t command);
    // The frame came back: the last completed frame, or one completed since awaitAnswer().
    bool answered(std::uint8_t command) const;
    void startBootloaders();
    void sendEndUpdate();
    void sendNextBlock();

    bus::BusState& state_;
    bus::BusPort& port_;
    UpdaterReport report_;
    std::optional<FirmwareImage> image_;
    bool updateTickRunning_ = false;
    bool blockSenderRunning_ = false;
};

} // namespace zanst::service
