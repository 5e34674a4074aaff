// Feeds arbitrary bytes to every receiver of the bus, then builds what the screen and the bus
// would get from the resulting state; the same bytes go to the metrics answer decoder (also as the
// master side hands it its 0x50 frames), the metrics file reader, the firmware HEX reader and the
// service tools' input readers. Anything read or written out of bounds stops the run.

#include "bank/cell_rows.hpp"
#include "bus/master_receiver.hpp"
#include "emulator/presets.hpp"
#include "emulator/responder.hpp"
#include "metrics/fuzz_entry.hpp"
#include "service/battery_parameters.hpp"
#include "service/calibration.hpp"
#include "service/hex_image.hpp"
#include "sim/frame_receiver.hpp"
#include "sniffer/sniffer_parser.hpp"
#include "support/fake_port.hpp"
#include "tester/bank_computation.hpp"
#include "tester/requests.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace {

using namespace zanst;

// Walks everything a tick derives from the tables.
void consume(bus::BusState& state) {
    bank::UpdateCellData(bank::takeSnapshot(state), {});
    bank::BankValues bank;
    tester::CalcBMSParams(state, 48, 5, bank);
    tester::measurementPlaceholders(state);
    tester::calibrationPlaceholders(state);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte picks a bank size and a batteries-in-parallel entry for the emulator.
    const std::uint8_t knob = data[0];
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);

    {
        bus::BusState state;
        bus::MasterReceiver master(state);
        master.watchFrames(bus::cmd::kMetrics);
        for (auto b : bytes) {
            master.feed(b);
        }
        // What the master side hands the metrics fetch.
        for (const bus::Bytes& frame : master.takeReturnedFrames()) {
            metrics::fuzzMetricsAnswer(frame);
        }
        consume(state);
    }
    {
        bus::BusState state;
        sniffer::SnifferParser sniffer(state);
        for (const bank::BankSnapshot& snapshot : sniffer.receive(bytes).burstsEnded) {
            bank::UpdateCellData(snapshot, {});
        }
        consume(state);
    }
    {
        bus::BusState state;
        test::FakePort port;
        emulator::BmsResponder responder(state, port);
        responder.setPreset(emulator::bankPresetForListIndex(knob % 13));
        emulator::BankSettings settings;
        settings.numBatText = std::to_string(static_cast<int>(knob >> 4) - 2);
        responder.setSettings(settings);
        responder.receive(bytes);
        consume(state);
    }
    {
        sim::FrameReceiver receiver(knob & 1 ? bus::ReceiverRole::Master : bus::ReceiverRole::Other);
        sim::TimePoint now{};
        for (auto b : bytes) {
            now += std::chrono::microseconds(40);
            if (receiver.feed(b, now) != sim::FrameReceiver::Result::None) {
                receiver.take();
            }
        }
    }
    metrics::fuzzMetricsAnswer(bytes);
    metrics::fuzzMetricsFile(bytes);

    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    service::readHexImage("fuzz.hex", text);
    service::readCellVoltage(text);
    service::readCalibrationCurrent(text);
    // Three boxes cut from the same text at places the knob picks.
    const std::size_t a = std::min<std::size_t>(text.size(), knob & 0x0F);
    const std::size_t b = std::min<std::size_t>(text.size() - a, knob >> 4);
    service::readBatteryParameters({text.substr(0, a), text.substr(a, b), text.substr(a + b)});
    return 0;
}
