#include "engine/locale_format.hpp"

#include <QLocale>

namespace zanst::app {

namespace {

char asciiOr(const QString& text, char fallback) {
    return text.size() == 1 && text.at(0).unicode() < 0x80 ? text.at(0).toLatin1() : fallback;
}

} // namespace

bus::TextFormat localeTextFormat() {
    const QLocale locale;
    bus::TextFormat format;
    format.decimalPoint = asciiOr(locale.decimalPoint(), format.decimalPoint);
    format.groupSeparator = asciiOr(locale.groupSeparator(), format.groupSeparator);
    return format;
}

} // namespace zanst::app
