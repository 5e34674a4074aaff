#pragma once
// The battery models the emulated bank can be built from, and the serial numbers its batteries
// report under.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zanst::emulator {

// One battery model.
struct BatteryPresetInfo {
    std::int32_t key = 0;           // 0..17; decides the cell type and the panels shown
    std::int32_t productId = 0;     // reported in every info record and used in the serial
    std::int32_t cellsInSeries = 0; // 4, 8 or 16
    std::int32_t capacityAh = 0;
};

inline constexpr std::size_t kPresetCount = 13;
inline constexpr int kMaxCells = 16;     // cell panels, emulated cells per battery at most
inline constexpr int kCellsPerBlock = 4; // panels are shown and hidden in blocks of four
inline constexpr int kMaxBatteriesInParallel = 10;
inline constexpr int kMinReportedCapacityAh = 50;

inline constexpr std::array<BatteryPresetInfo, kPresetCount> batteryInfoArray{{
    {0, 0xA602, 4, 100},
    {2, 0xA60E, 4, 105},
    {3, 0xA603, 4, 150},
    {4, 0xA605, 4, 200},
    {6, 0xA60F, 4, 210},
    {7, 0xA60B, 4, 300},
    {8, 0xA607, 8, 100},
    {10, 0xA610, 8, 105},
    {11, 0xA60C, 8, 200},
    {13, 0xA611, 8, 210},
    {14, 0xA60A, 8, 300},
    {15, 0xA60D, 16, 100},
    {17, 0xA612, 16, 105},
}};

// Position in the model list -> preset key. Keys 1, 5, 9, 12 and 16 have no row.
inline constexpr std::array<std::int32_t, kPresetCount> selectedIndexToBattery{0,  2,  3,  4,  6,  7, 8,
                                                                               10, 11, 13, 14, 15, 17};

// The model list's entries, in list order.
inline constexpr std::array<std::string_view, kPresetCount> batteryPresetCaptions{
    "Zanthe Battery 12,8V/100Ah (0xA602)", "Zanthe Battery 12,8V/105Ah (0xA60E)",
    "Zanthe Battery 12,8V/150Ah (0xA603)", "Zanthe Battery 12,8V/200Ah (0xA605)",
    "Zanthe Battery 12,8V/210Ah (0xA60F)", "Zanthe Battery 12,8V/300Ah (0xA60B)",
    "Zanthe Battery 25,6V/100Ah (0xA607)", "Zanthe Battery 25,6V/105Ah (0xA610)",
    "Zanthe Battery 25,6V/200Ah (0xA60C)", "Zanthe Battery 25,6V/210Ah (0xA611)",
    "Zanthe Battery 25,6V/300Ah (0xA60A)", "Zanthe Battery 51,2V/100Ah (0xA60D)",
    "Zanthe Battery 51,2V/105Ah (0xA612)",
};

// The cell type shown for a preset key; empty for a key without a row.
std::string_view cellTypeForKey(std::int32_t key);

// The row of batteryInfoArray for a model-list position, or nullopt when the position maps to
// no row (then nothing about the bank changes).
std::optional<int> presetRowForListIndex(int listIndex);

// "HQ2200" + product id as four upper-case hex digits + "1", at most 11 characters, zero-terminated.
using BatSerial = std::array<char, 12>;
BatSerial updateBattSerial(std::int32_t productId);

// Battery b (0-based) reports the first 10 characters of batserial and this character:
// '1' for the first battery ... '9' for the ninth, ':' for the tenth.
constexpr char batteryDigit(int battery) {
    return static_cast<char>(49 + battery);
}

// The 11 serial characters battery b reports.
std::string batterySerial(const BatSerial& batserial, int battery);

// A preset as the window applies it: label texts and the panels to show.
struct PresetView {
    int selectedPreset = -1; // row of batteryInfoArray
    BatteryPresetInfo info;
    std::string capacityText; // "Capacity: 100 Ah"
    std::string cellType;
    int totalCellsShown = 4; // 4, 8 or 16
    int blocksShown = 1;     // blocks of four panels: 1, 2 or 4
};

std::optional<PresetView> presetView(int listIndex);

// The preset the responder answers with, published whole on every change.
struct BankPreset {
    int selectedPreset = -1; // -1: no preset, nothing to report
    BatteryPresetInfo info;
    BatSerial batserial{};

    bool valid() const { return selectedPreset >= 0; }
};

// The preset for a model-list position; an invalid position gives an empty preset.
BankPreset bankPresetForListIndex(int listIndex);

} // namespace zanst::emulator
