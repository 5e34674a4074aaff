#include "offscreen.hpp"

#include <cstdlib>

namespace zanst::bench {

namespace {

bool isEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0';
}

} // namespace

void setUpOffscreen(DisplayUse display) {
    if (!isEmpty("QT_QPA_PLATFORM")) {
        return;
    }
    if (display == DisplayUse::WhenSet && !isEmpty("DISPLAY")) {
        return;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

} // namespace zanst::bench
