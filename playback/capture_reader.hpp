#pragma once
// A capture as a recorded bank: the bytes go through the tool's own receivers, mode by mode, as
// the tool handled them live (records that fail their CRC-8 are left out the same way), and
// every complete measurement burst becomes a step at the time its last byte arrived.
//   "Battery tester" and the other master-side tabs: what came back round the ring.
//   "Data Sniffer": the ring traffic the tool repeated.
//   "BMS tester": the tool's own answers to the BMS (what it sent).

#include "timeline.hpp"

#include "capture/capture_file.hpp"

#include <string>

namespace zanst::playback {

ReadResult readCaptureTimeline(const capture::Capture& capture);
ReadResult readCaptureTimelineFile(const std::string& path);

} // namespace zanst::playback
