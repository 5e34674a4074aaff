#pragma once
// The firmware image of a dropped Intel HEX file, read into a fresh image for every file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zanst::service {

inline constexpr std::size_t kImageBufferSize = 100000;
inline constexpr std::size_t kImageVersionOffset = 1029; // 32-bit little-endian version word
inline constexpr std::string_view kInvalidUpdateFile = "Invalid update file";
inline constexpr std::string_view kUpdaterHeader = "**************** Updater ****************";

class FirmwareImage {
  public:
    // Appends the bytes; refuses (appending nothing) what would not fit the 100000-byte buffer.
    bool append(std::span<const std::uint8_t> bytes);

    std::size_t imageLength() const { return imageDataX_.size(); }
    std::span<const std::uint8_t> bytes() const { return imageDataX_; }

    // The byte at `offset`; 0xFF beyond the image, as in an erased buffer.
    std::uint8_t at(std::size_t offset) const {
        return offset < imageDataX_.size() ? imageDataX_[offset] : 0xFF;
    }

    // The word at offsets 1029..1032, little-endian.
    std::uint32_t version() const;

  private:
    std::vector<std::uint8_t> imageDataX_;
};

struct HexReadResult {
    std::vector<std::string> log;       // lines for the updater log, each a new line
    std::optional<FirmwareImage> image; // set only for a valid file
};

// Reads one dropped file. Its name must end in "hex" (case-sensitive). Only lines beginning
// ":10" count; the image starts at the first of them whose address reads "7000" and takes the
// 16 data bytes of every counted line from there on, in file order. Every counted line must
// carry its 16 data bytes in hex digits (either case); a file with a shorter line or another
// character, without the start line, or with more than 100000 image bytes is invalid.
HexReadResult readHexImage(std::string_view path, std::span<const std::string> lines);

// The same over the file's text (lines end in "\n" or "\r\n").
HexReadResult readHexImage(std::string_view path, std::string_view text);

// A file that could not be read at all: the updater log's lines with `reason` in them.
HexReadResult unreadableHexFile(std::string_view path, std::string_view reason);

} // namespace zanst::service
