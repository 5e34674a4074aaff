// Feeds arbitrary bytes to the capture reader as a file, then every record it accepts to the
// traffic decoder and its texts, as a replay with the traffic view open would.

#include "capture/capture_file.hpp"
#include "capture/traffic.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zanst::capture;
    const Capture c = readCapture(std::span(data, size));
    if (c.validBytes > size) {
        __builtin_trap();
    }
    TrafficDecoder decoder;
    std::vector<TrafficRow> rows;
    for (const Record& r : c.records) {
        if (r.kind != RecordKind::Mode) {
            decoder.feed(r.kind == RecordKind::Sent ? Direction::Sent : Direction::Received, r.timeUs,
                         c.bytes(r), rows);
        }
    }
    decoder.flushLineBytes(rows);
    std::size_t length = 0;
    for (const TrafficRow& row : rows) {
        length += rowCommandText(row).size() + rowFieldsText(row).size();
    }
    return length == static_cast<std::size_t>(-1) ? 1 : 0;
}
