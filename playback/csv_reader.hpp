#pragma once
// The CSV beside a recording (recording/csv_recording.hpp) as a recorded bank: the rows of one time
// stamp are one step. Needs the time, cell, voltage and temperature columns; current, current
// range, serial and product id are used where they were recorded. A last line cut short (the
// tool stopped while writing it) is left out; any other line that cannot be read refuses the
// file with its line number.

#include "timeline.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zanst::playback {

// A CSV larger than this is refused before it is read (a day of 160 cells is about 1 GB).
inline constexpr std::uintmax_t kMaxCsvBytes = 1ull << 30;

ReadResult readCsvTimeline(std::string_view text);
ReadResult readCsvTimelineFile(const std::string& path);

// "2026-12-09T03:04:05.123Z" as milliseconds since 1970 (UTC); the milliseconds may be left out.
std::optional<std::int64_t> parseIsoTimestamp(std::string_view text);

} // namespace zanst::playback
