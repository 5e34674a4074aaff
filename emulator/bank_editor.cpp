#include "bank_editor.hpp"

#include "entries.hpp"

#include "bus/number_text.hpp"

#include <algorithm>

namespace zanst::emulator {

SentBmsInfo updateSentBmsInfo(const BankSettings& settings, int totalCellsShown,
                              const bus::TextFormat& format) {
    const int n = std::clamp(totalCellsShown, 1, kMaxCells);
    long long mv = 0;
    long long tenths = 0;
    for (int i = 0; i < n; ++i) {
        mv += settings.voltageMv[static_cast<std::size_t>(i)];
        tenths += settings.tempTenths[static_cast<std::size_t>(i)];
    }
    SentBmsInfo sent;
    sent.current = std::to_string(settings.currentA);
    sent.bankVoltage = bus::realText(static_cast<double>(mv) / 1000.0, format);
    sent.avgTemp = bus::realText(static_cast<double>(tenths) / n / 10.0, format);
    return sent;
}

BankEditor::BankEditor() {
    for (int i = 0; i < kMaxCells; ++i) {
        voltageText_[static_cast<std::size_t>(i)] = sliderText(Field::Voltage, kVoltageDefaultMv);
        tempText_[static_cast<std::size_t>(i)] = sliderText(Field::Temperature, kTempDefaultTenths);
    }
    currentText_ = sliderText(Field::Current, kCurrentDefaultA);
}

int BankEditor::slider(Field field, int cell) const {
    return sliderOf(*this, field, cell);
}

const std::string& BankEditor::text(Field field, int cell) const {
    return textOf(*this, field, cell);
}

bool BankEditor::selected(Field field, int cell) const {
    return flagOf(*this, field, cell);
}

std::string BankEditor::sliderText(Field field, int value) {
    return field == Field::Temperature ? bus::wholeOfTenthsText(value) : std::to_string(value);
}

void BankEditor::setAllCells(Field field, int value) {
    for (int i = 0; i < kMaxCells; ++i) {
        sliderRef(field, i) = value;
        textRef(field, i) = sliderText(field, value);
    }
}

void BankEditor::sliderMoved(Field field, int cell, int value) {
    const SliderRange range = rangeOf(field);
    value = std::clamp(value, range.min, range.max);
    sliderRef(field, cell) = value;
    textRef(field, cell) = sliderText(field, value);
    if (field != Field::Current && editAllCells_) {
        setAllCells(field, value);
    }
    updateSentBmsInfo();
}

void BankEditor::keyPressed(Field field, int cell, std::string_view text, bool enter) {
    textRef(field, cell) = std::string(text);
    if (!enter) {
        updateSentBmsInfo();
        return;
    }
    const auto entry = parseWholeNumber(text);
    if (!entry) {
        return;
    }
    const SliderRange range = rangeOf(field);
    const std::int64_t scaled = field == Field::Temperature ? *entry * 10 : *entry;
    const int value = clampToSlider(scaled, range.min, range.max);
    sliderRef(field, cell) = value;
    if (field != Field::Current && editAllCells_) {
        setAllCells(field, value);
    }
    updateSentBmsInfo();
}

void BankEditor::focusEntered(Field field, int cell) {
    flagRef(field, cell) = true;
}

void BankEditor::focusLeft(Field field, int cell, std::string_view text) {
    textRef(field, cell) = std::string(text);
    const auto entry = parseWholeNumber(text);
    if (!entry) {
        return; // stays flagged: the responder leaves the text alone until it is fixed
    }
    const SliderRange range = rangeOf(field);
    const std::int64_t scaled = field == Field::Temperature ? *entry * 10 : *entry;
    sliderRef(field, cell) = clampToSlider(scaled, range.min, range.max);
    flagRef(field, cell) = false;
}

void BankEditor::resetCells() {
    for (int i = 0; i < kMaxCells; ++i) {
        sliderRef(Field::Temperature, i) = kTempDefaultTenths;
        textRef(Field::Temperature, i) = sliderText(Field::Temperature, kTempDefaultTenths);
        sliderRef(Field::Voltage, i) = kVoltageDefaultMv;
        textRef(Field::Voltage, i) = sliderText(Field::Voltage, kVoltageDefaultMv);
    }
    settings_.currentA = kCurrentDefaultA;
    currentText_ = sliderText(Field::Current, kCurrentDefaultA);
    updateSentBmsInfo();
}

void BankEditor::updateSentBmsInfo() {
    sent_ = emulator::updateSentBmsInfo(settings_, totalCellsShown_, format_);
}

void BankEditor::setTextFormat(const bus::TextFormat& format) {
    format_ = format;
    updateSentBmsInfo();
}

void BankEditor::showPlayed(const BankSettings& sliders, const PlayedBank& played) {
    const int fw = settings_.fwVersionIndex;
    settings_ = sliders;
    settings_.fwVersionIndex = fw;
    batInParallel_ = settings_.numBatText;
    PlayedValues values;
    values.voltageMv = played.voltageMv[0];
    values.tempTenths = played.tempTenths[0];
    // Whole amperes as the current entry takes them, halves away from zero.
    const std::int64_t ma = played.currentMa;
    values.currentA = static_cast<int>((ma >= 0 ? ma + 500 : ma - 500) / 1000);
    played_ = values;
    voltageSelected_.fill(false);
    tempSelected_.fill(false);
    currentSelected_ = false;
    writePlayedTexts();
    BankSettings shown = settings_;
    shown.voltageMv = values.voltageMv;
    shown.tempTenths = values.tempTenths;
    shown.currentA = values.currentA;
    sent_ = emulator::updateSentBmsInfo(shown, totalCellsShown_, format_);
}

void BankEditor::dropPlayed() {
    if (played_) {
        played_.reset();
        updateSentBmsInfo();
    }
}

void BankEditor::writePlayedTexts() {
    for (std::size_t i = 0; i < static_cast<std::size_t>(kMaxCells); ++i) {
        if (!voltageSelected_[i]) {
            voltageText_[i] = std::to_string(played_->voltageMv[i]);
        }
        if (!tempSelected_[i]) {
            tempText_[i] = bus::tenthsText(played_->tempTenths[i], format_);
        }
    }
    if (!currentSelected_) {
        currentText_ = std::to_string(played_->currentA);
    }
}

void BankEditor::refreshFromSliders() {
    if (played_) {
        writePlayedTexts();
        return;
    }
    for (int i = 0; i < kMaxCells; ++i) {
        if (!flagRef(Field::Voltage, i)) {
            textRef(Field::Voltage, i) = std::to_string(sliderRef(Field::Voltage, i));
        }
        if (!flagRef(Field::Temperature, i)) {
            textRef(Field::Temperature, i) = bus::tenthsText(sliderRef(Field::Temperature, i), format_);
        }
    }
    if (!currentSelected_) {
        currentText_ = std::to_string(settings_.currentA);
    }
}

void BankEditor::numBatTyped(std::string_view text) {
    settings_.numBatText = std::string(text);
}

void BankEditor::numBatEntered(std::string_view text) {
    settings_.numBatText = std::string(text);
    const auto value = parseWholeNumber(text);
    if (!value) {
        return;
    }
    batInParallel_ = *value >= kMaxBatteriesInParallel ? std::string("10") : std::string(text);
    settings_.numBatText = batInParallel_;
}

void BankEditor::batteriesInParallelRead() {
    if (const auto read = readBatteriesInParallel(settings_.numBatText)) {
        settings_.numBatText = read->text;
        batInParallel_ = read->text;
    }
}

void BankEditor::presetApplied(int totalCellsShown) {
    totalCellsShown_ = std::clamp(totalCellsShown, 1, kMaxCells);
}

} // namespace zanst::emulator
