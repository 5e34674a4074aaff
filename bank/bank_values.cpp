#include "bank_values.hpp"

namespace zanst::bank {

BankTexts bankTexts(const BankValues& bank, const bus::TextFormat& format) {
    return {bus::scaledText(bank.balancerSetpoint, 3, format), bus::scaledText(bank.batVoltage, 3, format),
            bus::scaledText(bank.batCurrent, 3, format)};
}

} // namespace zanst::bank
