#pragma once
// A recording chosen by the user, whatever it is: a capture (by its magic) or a CSV recording.

#include "timeline.hpp"

#include <string>

namespace zanst::playback {

ReadResult readRecording(const std::string& path);

} // namespace zanst::playback
