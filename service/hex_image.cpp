#include "hex_image.hpp"

#include "bus/hex.hpp"

#include <array>

namespace zanst::service {

namespace {

constexpr std::string_view kDataRecord = ":10";
constexpr std::string_view kStartAddress = "7000";
constexpr std::size_t kAddressAt = 3;
constexpr std::size_t kDataAt = 9;
constexpr std::size_t kBytesPerLine = 16;
constexpr std::size_t kLineLength = kDataAt + 2 * kBytesPerLine; // up to the last data digit

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The 16 data bytes of a ":10" line; nullopt when the line is too short or a field holds
// another character than a hex digit.
std::optional<std::array<std::uint8_t, kBytesPerLine>> dataBytes(std::string_view line) {
    if (line.size() < kLineLength) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < kLineLength; ++i) {
        if (hexDigit(line[i]) < 0) {
            return std::nullopt;
        }
    }
    std::array<std::uint8_t, kBytesPerLine> bytes{};
    for (std::size_t i = 0; i < kBytesPerLine; ++i) {
        const std::size_t at = kDataAt + 2 * i;
        bytes[i] = static_cast<std::uint8_t>(hexDigit(line[at]) * 16 + hexDigit(line[at + 1]));
    }
    return bytes;
}

template <typename Lines> HexReadResult readLines(std::string_view path, const Lines& lines) {
    HexReadResult result;
    if (!path.ends_with("hex")) {
        result.log.emplace_back(kInvalidUpdateFile);
        return result;
    }
    result.log.emplace_back();
    result.log.emplace_back(kUpdaterHeader);
    result.log.push_back("File:" + std::string(path));

    FirmwareImage image;
    bool started = false;
    bool tooLarge = false;
    std::size_t imageLength = 0;
    for (std::string_view line : lines) {
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (!line.starts_with(kDataRecord)) {
            continue;
        }
        const auto bytes = dataBytes(line);
        if (!bytes) {
            result.log.emplace_back(kInvalidUpdateFile);
            return result;
        }
        started = started || line.substr(kAddressAt, kStartAddress.size()) == kStartAddress;
        if (started) {
            imageLength += kBytesPerLine;
            tooLarge = tooLarge || !image.append(*bytes);
        }
    }

    result.log.push_back("Image size: " + std::to_string(imageLength) + " bytes");
    if (!started || tooLarge) {
        result.log.emplace_back(kInvalidUpdateFile);
        return result;
    }
    result.log.push_back("Version: " + bus::versionToString(image.version()));
    result.image = std::move(image);
    return result;
}

// The lines of a text, split at "\n" (a "\r" before it is dropped by the reader).
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

} // namespace

bool FirmwareImage::append(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kImageBufferSize - imageDataX_.size()) {
        return false;
    }
    imageDataX_.insert(imageDataX_.end(), bytes.begin(), bytes.end());
    return true;
}

std::uint32_t FirmwareImage::version() const {
    std::uint32_t v = 0;
    for (std::size_t i = 4; i-- > 0;) {
        v = (v << 8) | at(kImageVersionOffset + i);
    }
    return v;
}

HexReadResult readHexImage(std::string_view path, std::span<const std::string> lines) {
    return readLines(path, lines);
}

HexReadResult unreadableHexFile(std::string_view path, std::string_view reason) {
    HexReadResult result;
    result.log = {std::string(), std::string(kUpdaterHeader), "File:" + std::string(path),
                  std::string(reason), std::string(kInvalidUpdateFile)};
    return result;
}

HexReadResult readHexImage(std::string_view path, std::string_view text) {
    return readLines(path, splitLines(text));
}

} // namespace zanst::service
