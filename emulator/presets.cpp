#include "presets.hpp"

#include "bus/hex.hpp"

#include <algorithm>

namespace zanst::emulator {

std::string_view cellTypeForKey(std::int32_t key) {
    switch (key) {
    case 0:
    case 4:
    case 8:
    case 11:
    case 15:
        return "Vision L36130200LFP-100Ah1C";
    case 2:
    case 6:
    case 10:
    case 13:
    case 17:
        return "EVE LF105 - 105Ah1C";
    case 3:
    case 7:
    case 14:
        return "Vision IFP48173166-150Ah1C";
    default:
        return {};
    }
}

std::optional<int> presetRowForListIndex(int listIndex) {
    if (listIndex < 0 || listIndex >= static_cast<int>(selectedIndexToBattery.size())) {
        return std::nullopt;
    }
    const std::int32_t key = selectedIndexToBattery[static_cast<std::size_t>(listIndex)];
    for (std::size_t row = 0; row < batteryInfoArray.size(); ++row) {
        if (batteryInfoArray[row].key == key) {
            return static_cast<int>(row);
        }
    }
    return std::nullopt;
}

BatSerial updateBattSerial(std::int32_t productId) {
    const std::string text =
        "HQ2200" + bus::ConvertHex1(static_cast<std::uint16_t>(productId & 0xFFFF), 4) + "1";
    BatSerial serial{};
    const std::size_t n = std::min<std::size_t>(text.size(), 11);
    std::copy_n(text.begin(), n, serial.begin());
    serial[n] = '\0';
    return serial;
}

std::string batterySerial(const BatSerial& batserial, int battery) {
    std::string serial(batserial.data(), 10);
    serial.push_back(batteryDigit(battery));
    return serial;
}

std::optional<PresetView> presetView(int listIndex) {
    const auto row = presetRowForListIndex(listIndex);
    if (!row) {
        return std::nullopt;
    }
    PresetView view;
    view.selectedPreset = *row;
    view.info = batteryInfoArray[static_cast<std::size_t>(*row)];
    view.capacityText = "Capacity: " + std::to_string(view.info.capacityAh) + " Ah";
    view.cellType = std::string(cellTypeForKey(view.info.key));
    view.totalCellsShown = std::clamp(view.info.cellsInSeries, kCellsPerBlock, kMaxCells);
    view.blocksShown = view.totalCellsShown / kCellsPerBlock;
    return view;
}

BankPreset bankPresetForListIndex(int listIndex) {
    BankPreset preset;
    if (const auto row = presetRowForListIndex(listIndex)) {
        preset.selectedPreset = *row;
        preset.info = batteryInfoArray[static_cast<std::size_t>(*row)];
        preset.batserial = updateBattSerial(preset.info.productId);
    }
    return preset;
}

} // namespace zanst::emulator
