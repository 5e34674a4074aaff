#pragma once
// The capture file: every byte seen on the port with its time and direction, so that a session
// can be replayed through the same receivers without a port. Layout in docs/capture.md.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zanst::capture {

inline constexpr std::string_view kMagic = "ZANSTCAP";
inline constexpr std::uint16_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 24;
inline constexpr std::size_t kRecordHeaderSize = 11;
inline constexpr std::size_t kMaxRecordBytes = 0xFFFF;
inline constexpr std::uint32_t kLineRate = 250000;

// Directions are the tool's: Sent is what the tool wrote to the port.
enum class RecordKind : std::uint8_t {
    Received = 0,
    Sent = 1,
    Mode = 2, // one byte: the operating mode (tab) selected from here on
};

struct Header {
    std::uint16_t version = kVersion;
    std::uint32_t lineRate = kLineRate;
    std::int64_t startUnixMs = 0; // wall clock (UTC) at the first record's time 0
};

// A record's bytes live in Capture::data.
struct Record {
    std::uint64_t timeUs = 0; // since the capture started, never decreasing
    RecordKind kind = RecordKind::Received;
    std::size_t offset = 0;
    std::size_t length = 0;
};

enum class ReadStatus {
    Ok,
    NotACapture,        // the magic is wrong or the file is shorter than a header
    UnsupportedVersion, // a later format: nothing is read
    Truncated,          // a record runs past the end; the records before it are kept
    Corrupt,            // a record that cannot be (unknown kind, empty, time going back); kept up to it
};

struct Capture {
    Header header;
    std::vector<Record> records;
    std::vector<std::uint8_t> data;
    ReadStatus status = ReadStatus::Ok;
    std::size_t validBytes = 0; // how much of the file was read as whole, valid records
    std::string message;        // empty when Ok; else what went wrong and what was kept

    std::span<const std::uint8_t> bytes(const Record& r) const {
        return std::span<const std::uint8_t>(data).subspan(r.offset, r.length);
    }
};

std::vector<std::uint8_t> encodeHeader(const Header& header);
// Appends one record; more than kMaxRecordBytes become several records of the same time.
void encodeRecord(std::vector<std::uint8_t>& out, std::uint64_t timeUs, RecordKind kind,
                  std::span<const std::uint8_t> bytes);

// Reads a whole file's bytes. Never throws; a damaged file gives what was valid before the damage.
Capture readCapture(std::span<const std::uint8_t> file);
// Reads the file at `path`; a file that cannot be opened is NotACapture with the reason.
Capture readCaptureFile(const std::string& path);

// Writes a capture file as it is made. Records are buffered and written by flush(); a write that
// fails (disk full) closes the file and leaves the error in error().
class CaptureWriter {
  public:
    bool open(const std::string& path, std::int64_t startUnixMs);
    void append(std::uint64_t timeUs, RecordKind kind, std::span<const std::uint8_t> bytes);
    bool flush();
    void close();
    bool isOpen() const { return file_.is_open(); }
    const std::string& error() const { return error_; }
    std::uint64_t bytesWritten() const { return written_; }

  private:
    std::ofstream file_;
    std::vector<std::uint8_t> pending_;
    std::uint64_t lastTimeUs_ = 0;
    std::uint64_t written_ = 0;
    std::string error_;
};

} // namespace zanst::capture
