#pragma once
// The emulated bank's settings and the editing rules of its cell, current and
// batteries-in-parallel entries. The window keeps one BankEditor and shows it; the responder
// answers from copies of its settings.

#include "played_bank.hpp"
#include "presets.hpp"

#include "bus/number_text.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace zanst::emulator {

inline constexpr int kVoltageMinMv = 1800;
inline constexpr int kVoltageMaxMv = 4000;
inline constexpr int kVoltageDefaultMv = 3300;
inline constexpr int kTempMinTenths = -400;
inline constexpr int kTempMaxTenths = 800;
inline constexpr int kTempDefaultTenths = 200;
inline constexpr int kCurrentMinA = -500;
inline constexpr int kCurrentMaxA = 500;
inline constexpr int kCurrentDefaultA = 0;

inline constexpr int kFirmwareVersions = 3; // "v1.00", "v1.01", "v1.02"
inline constexpr int kDefaultFirmwareIndex = 2;

template <typename T> constexpr std::array<T, kMaxCells> filledCells(T value) {
    std::array<T, kMaxCells> cells{};
    cells.fill(value);
    return cells;
}

// Everything the responder samples when it answers: slider positions, the text of tbNumBat and
// the firmware selector. Cell n (1..16) at index n - 1.
struct BankSettings {
    std::array<int, kMaxCells> voltageMv = filledCells(kVoltageDefaultMv);
    std::array<int, kMaxCells> tempTenths = filledCells(kTempDefaultTenths);
    int currentA = kCurrentDefaultA;
    std::string numBatText = "1";
    int fwVersionIndex = -1; // -1: nothing chosen yet

    bool operator==(const BankSettings&) const = default;
};

// The three values a cell or current entry edits.
enum class Field { Voltage, Temperature, Current };

struct SliderRange {
    int min;
    int max;
};
constexpr SliderRange rangeOf(Field field) {
    switch (field) {
    case Field::Voltage:
        return {kVoltageMinMv, kVoltageMaxMv};
    case Field::Temperature:
        return {kTempMinTenths, kTempMaxTenths};
    case Field::Current:
        return {kCurrentMinA, kCurrentMaxA};
    }
    return {0, 0};
}

// The texts of the "Sent BMS Info" box.
struct SentBmsInfo {
    std::string bankVoltage = "13.2";
    std::string current = "0";
    std::string avgTemp = "20";

    bool operator==(const SentBmsInfo&) const = default;
};

// Bank voltage and average temperature over cells 1..totalCellsShown, and the bank current.
SentBmsInfo updateSentBmsInfo(const BankSettings& settings, int totalCellsShown,
                              const bus::TextFormat& format = {});

class BankEditor {
  public:
    BankEditor();

    const BankSettings& settings() const { return settings_; }

    // Slider position, text and edit flag of a field; `cell` (0-based) is ignored for Current.
    int slider(Field field, int cell) const;
    const std::string& text(Field field, int cell) const;
    bool selected(Field field, int cell) const;
    int totalCellsShown() const { return totalCellsShown_; }
    const SentBmsInfo& sentBmsInfo() const { return sent_; }
    const std::string& numBatText() const { return settings_.numBatText; }
    const std::string& batInParallelText() const { return batInParallel_; }

    // The slider was moved by the user to `value`.
    void sliderMoved(Field field, int cell, int value);
    // A key went into the text field, which now holds `text`; `enter` for the Enter key.
    void keyPressed(Field field, int cell, std::string_view text, bool enter);
    void focusEntered(Field field, int cell);
    void focusLeft(Field field, int cell, std::string_view text);
    void setEditAllCells(bool on) { editAllCells_ = on; }
    // "Reset Cells": every cell, shown or hidden, to 3300 mV and 20 degC, the current to 0.
    void resetCells();
    void updateSentBmsInfo();
    // Real numbers in the texts use this decimal point (the user's locale in the window).
    void setTextFormat(const bus::TextFormat& format);
    // The responder answered a measurement request: texts follow the sliders again, except in
    // the fields being edited.
    void refreshFromSliders();

    // Batteries in parallel: the text of tbNumBat changed; Enter accepts it; the responder read it.
    void numBatTyped(std::string_view text);
    void numBatEntered(std::string_view text);
    void batteriesInParallelRead();

    // A recording drives the bank: the sliders and the batteries in parallel take `sliders` (battery
    // 1 within the sliders' ranges), the texts and "Sent BMS Info" battery 1 of `played` as it goes
    // to the BMS (a recorded 1500 mV shows 1500 beside a slider at 1800). The entries are locked
    // meanwhile, so no edit flag holds a text back; the firmware choice stays. After each answer
    // the texts show the played values again, until dropPlayed().
    void showPlayed(const BankSettings& sliders, const PlayedBank& played);
    // The responder answers from the sliders again (the user changed the bank).
    void dropPlayed();
    bool showingPlayed() const { return played_.has_value(); }

    void setFirmwareIndex(int index) { settings_.fwVersionIndex = index; }
    // A preset decides how many cells count in the "Sent BMS Info" box; the settings stay.
    void presetApplied(int totalCellsShown);

  private:
    // The slider, text and flag of a field, for const and non-const use alike. Out-of-range
    // cells reach a scratch slot, so a bad index from a caller is harmless.
    template <typename Self> static auto& sliderOf(Self& self, Field field, int cell) {
        if (field == Field::Current) {
            return self.settings_.currentA;
        }
        if (!validCell(cell)) {
            return self.scratchSlider_;
        }
        const auto i = static_cast<std::size_t>(cell);
        return field == Field::Voltage ? self.settings_.voltageMv[i] : self.settings_.tempTenths[i];
    }
    template <typename Self> static auto& textOf(Self& self, Field field, int cell) {
        if (field == Field::Current) {
            return self.currentText_;
        }
        if (!validCell(cell)) {
            return self.scratchText_;
        }
        const auto i = static_cast<std::size_t>(cell);
        return field == Field::Voltage ? self.voltageText_[i] : self.tempText_[i];
    }
    template <typename Self> static auto& flagOf(Self& self, Field field, int cell) {
        if (field == Field::Current) {
            return self.currentSelected_;
        }
        if (!validCell(cell)) {
            return self.scratchFlag_;
        }
        const auto i = static_cast<std::size_t>(cell);
        return field == Field::Voltage ? self.voltageSelected_[i] : self.tempSelected_[i];
    }
    int& sliderRef(Field field, int cell) { return sliderOf(*this, field, cell); }
    std::string& textRef(Field field, int cell) { return textOf(*this, field, cell); }
    bool& flagRef(Field field, int cell) { return flagOf(*this, field, cell); }
    // The text a slider move writes: whole units (temperatures truncated toward zero).
    static std::string sliderText(Field field, int value);
    void setAllCells(Field field, int value);
    static bool validCell(int cell) { return cell >= 0 && cell < kMaxCells; }
    void writePlayedTexts();

    // Battery 1 as played: mV, 0.1 degC, the current in whole amperes.
    struct PlayedValues {
        std::array<int, kMaxCells> voltageMv{};
        std::array<int, kMaxCells> tempTenths{};
        int currentA = 0;
    };

    BankSettings settings_;
    std::array<std::string, kMaxCells> voltageText_;
    std::array<std::string, kMaxCells> tempText_;
    std::string currentText_;
    std::array<bool, kMaxCells> voltageSelected_{};
    std::array<bool, kMaxCells> tempSelected_{};
    bool currentSelected_ = false;
    bool editAllCells_ = false;
    int totalCellsShown_ = kCellsPerBlock;
    SentBmsInfo sent_;
    bus::TextFormat format_;
    std::string batInParallel_ = "1";
    std::string scratchText_;
    bool scratchFlag_ = false;
    int scratchSlider_ = 0;
    std::optional<PlayedValues> played_;
};

} // namespace zanst::emulator
