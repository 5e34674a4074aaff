#pragma once
// The traffic decoder: cuts the bytes of each direction into frames and records with the shared
// framer, so that a view can list every frame seen on the port. Works on any byte stream, whatever
// the operating mode, and keeps no state beyond the framers' own.

#include "bus/framer.hpp"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zanst::capture {

enum class Direction : std::uint8_t { Received = 0, Sent = 1 };

enum class RowKind : std::uint8_t {
    Frame,     // a command frame, start byte to CRC
    Record,    // a balancer's record behind a frame
    CutOff,    // bytes the buffer limit ended before their frame or record was whole
    LineBytes, // bytes outside any frame (the wake-up zeros, noise)
};

enum class CrcVerdict : std::uint8_t { Good, Bad, None };

struct TrafficRow {
    std::uint64_t timeUs = 0; // of the row's first byte
    Direction direction = Direction::Received;
    RowKind kind = RowKind::Frame;
    std::uint8_t command = 0; // the frame's command or the record's type
    CrcVerdict crc = CrcVerdict::None;
    int balancerId = -1; // records only
    std::vector<std::uint8_t> bytes;
};

// "Info", "Measurement", ... for a command byte; "0x5A" for one the tool does not know.
std::string commandName(std::uint8_t command);
// The command column: the command name, "... record" for records, "(line bytes)" between frames.
std::string rowCommandText(const TrafficRow& row);
// The fields the row's bytes carry, locale-independent ("id 3: 3.312 V, -1.250 A, 25.0 degC").
// Empty fields of a record whose CRC failed are not decoded.
std::string rowFieldsText(const TrafficRow& row);

class TrafficDecoder {
  public:
    TrafficDecoder();
    ~TrafficDecoder();
    TrafficDecoder(const TrafficDecoder&) = delete;
    TrafficDecoder& operator=(const TrafficDecoder&) = delete;

    // Appends the rows the bytes complete to `out`.
    void feed(Direction direction, std::uint64_t timeUs, std::span<const std::uint8_t> bytes,
              std::vector<TrafficRow>& out);
    // Ends pending line bytes (at the end of a batch, so that they are not held back).
    void flushLineBytes(std::vector<TrafficRow>& out);
    // At the end of the bytes (a capture's end): pending line bytes, and what a frame or record
    // still being assembled holds as a cut-off row, so that no byte fed is left unlisted.
    void finish(std::vector<TrafficRow>& out);
    // Forgets half-assembled frames: the bytes fed next do not continue what was fed before.
    void reset();

  private:
    class Side;
    std::unique_ptr<Side> received_;
    std::unique_ptr<Side> sent_;
};

} // namespace zanst::capture
