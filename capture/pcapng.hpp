#pragma once
// A capture as pcapng for Wireshark: one packet per frame, record, cut-off or run of line bytes
// of each direction, cut by the traffic decoder, and one per mode record. Every packet starts with
// a 4-byte pseudo-header (version, direction, kind, CRC verdict) in front of the bus bytes; the
// link type is USER0. Layout in docs/capture.md.

#include "capture/capture_file.hpp"
#include "capture/traffic.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zanst::capture {

inline constexpr std::uint16_t kLinkTypeUser0 = 147;
inline constexpr std::uint8_t kTimeResolutionMicroseconds = 6; // if_tsresol: 10^-6 s
inline constexpr std::size_t kPseudoHeaderSize = 4;
inline constexpr std::uint8_t kPseudoHeaderVersion = 1;

// Pseudo-header byte 1: who wrote the bytes, seen from the tool.
enum class PacketDirection : std::uint8_t { Received = 0, Sent = 1, None = 2 };
// Pseudo-header byte 2.
enum class PacketKind : std::uint8_t { Frame = 0, Record = 1, CutOff = 2, LineBytes = 3, Mode = 4 };
// Pseudo-header byte 3.
enum class PacketVerdict : std::uint8_t { Good = 0, Bad = 1, NotChecked = 2 };

// A row of the traffic decoder, or a mode record (its one byte in row.bytes, at row.timeUs).
struct Packet {
    bool mode = false;
    TrafficRow row;
};

// The capture's records cut into packets. A run of line bytes ends with the read or write it came
// in; a frame or record still open at the end of the capture is a cut-off packet. Packets are
// in the order of their first byte's time; packets of the same time keep the decoder's order.
std::vector<Packet> packetsOf(const Capture& capture);

// The pseudo-header's bytes 1..3 of a packet.
PacketDirection packetDirection(const Packet& packet);
PacketKind packetKind(const Packet& packet);
PacketVerdict packetVerdict(const Packet& packet);

struct PcapngOptions {
    std::string application = "zanst-cli"; // shb_userappl
};

// The whole file: section header, interface description, one enhanced packet block per packet.
std::vector<std::uint8_t> encodePcapng(const Capture& capture, std::span<const Packet> packets,
                                       const PcapngOptions& options = {});

struct ExportResult {
    bool written = false;        // the output file holds a whole pcapng
    std::size_t packets = 0;     // packets written
    bool captureComplete = true; // false when the capture was damaged and only its valid part went out
    bool outputFailed = false;   // the capture was read but the pcapng could not be written
    std::string message;         // the reader's message for a damaged capture, or why nothing was written
};

// Reads the capture at `capturePath` and writes its valid part to `pcapngPath`. A file that is no
// capture (or another version), or holds no record, writes nothing.
ExportResult exportPcapng(const std::string& capturePath, const std::string& pcapngPath,
                          const PcapngOptions& options = {});

} // namespace zanst::capture
