#pragma once
// Number texts as the user's locale writes them.

#include "bus/number_text.hpp"

namespace zanst::app {

// The decimal point and group separator of the user's locale; '.' and ',' where the locale's
// own are not single ASCII characters.
bus::TextFormat localeTextFormat();

} // namespace zanst::app
