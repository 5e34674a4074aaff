#include "service/hex_image.hpp"

#include "support/hex_text.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace zanst::service {
namespace {

using bus::Bytes;
using test::hexFile;
using test::hexRecord;
using test::imageBytes;

std::vector<std::string> withHeader(const std::string& path, std::vector<std::string> tail) {
    tail.insert(tail.begin(), {"", std::string(kUpdaterHeader), "File:" + path});
    return tail;
}

// The same file with lower-case digits and "\r\n" line ends.
std::string lowerCaseCrlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '\n' ? std::string("\r\n") : std::string(1, static_cast<char>(std::tolower(c)));
    }
    return out;
}

TEST(HexImageTest, ValidFilesGiveTheImageFromTheStartRecordOn) {
    const Bytes image = imageBytes(1040, 0x00010AFF);
    // Lines before the start record, records of other lengths and types are not part of the image.
    const std::string before = ":020000040000FA\n" + hexRecord(0x6FF0, 0, Bytes(16, 0x11)) + "\n" +
                               hexRecord(0x7000, 0, Bytes(8, 0x22)) + "\n";
    const std::string body = hexFile(0x7000, image);
    const Bytes oneLine(image.begin(), image.begin() + 16);
    Bytes twoLines = oneLine;
    twoLines.insert(twoLines.end(), oneLine.begin(), oneLine.end());
    struct Case {
        const char* name;
        std::string text;
        Bytes expected;
        const char* version;
    } cases[] = {
        {"upper case", before + body, image, "v01.0A"},
        {"lower case, CRLF", lowerCaseCrlf(before + body), image, "v01.0A"},
        // Addresses after the start record are not looked at; records keep file order.
        {"addresses after the start", hexRecord(0x7000, 0, oneLine) + "\n" + hexRecord(0x1234, 0, oneLine),
         twoLines, "---"},
        // The version lies beyond a 16-byte image and reads as erased bytes.
        {"one line", hexFile(0x7000, oneLine), oneLine, "---"},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = readHexImage("/data/fw.hex", std::string_view(c.text));
        ASSERT_TRUE(result.image.has_value());
        EXPECT_EQ(Bytes(result.image->bytes().begin(), result.image->bytes().end()), c.expected);
        EXPECT_EQ(result.log,
                  withHeader("/data/fw.hex", {"Image size: " + std::to_string(c.expected.size()) + " bytes",
                                              std::string("Version: ") + c.version}));
    }
}

TEST(HexImageTest, InvalidFilesAreRefused) {
    const std::string good = hexRecord(0x7000, 0, Bytes(16, 0x01));
    std::string badDigit = good;
    badDigit[20] = 'G';
    struct Case {
        const char* name;
        const char* path;
        std::string text;
        std::vector<std::string> log;
    } cases[] = {
        {"upper-case ending", "fw.HEX", good, {std::string(kInvalidUpdateFile)}},
        {"no hex ending", "fw.txt", good, {std::string(kInvalidUpdateFile)}},
        {"no start record", "fw.hex", hexFile(0x7100, Bytes(64, 0)),
         withHeader("fw.hex", {"Image size: 0 bytes", std::string(kInvalidUpdateFile)})},
        {"short line", "fw.hex", good + "\n:107010", withHeader("fw.hex", {std::string(kInvalidUpdateFile)})},
        {"data cut short", "fw.hex", good.substr(0, 40),
         withHeader("fw.hex", {std::string(kInvalidUpdateFile)})},
        {"non-hex digit", "fw.hex", badDigit, withHeader("fw.hex", {std::string(kInvalidUpdateFile)})},
        // A damaged line before the start record spoils the file as well.
        {"short line before start", "fw.hex", ":1070\n" + good,
         withHeader("fw.hex", {std::string(kInvalidUpdateFile)})},
        {"over the buffer", "fw.hex", hexFile(0x7000, Bytes(kImageBufferSize + 16, 0)),
         withHeader("fw.hex", {"Image size: 100016 bytes", std::string(kInvalidUpdateFile)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = readHexImage(c.path, std::string_view(c.text));
        EXPECT_FALSE(result.image.has_value());
        EXPECT_EQ(result.log, c.log);
    }
}

TEST(HexImageTest, ImageFillingTheWholeBufferIsValid) {
    const auto result =
        readHexImage("fw.hex", std::string_view(hexFile(0x7000, Bytes(kImageBufferSize, 0x5A))));
    ASSERT_TRUE(result.image.has_value());
    EXPECT_EQ(result.image->imageLength(), kImageBufferSize);
    EXPECT_EQ(result.image->at(kImageBufferSize - 1), 0x5A);
    EXPECT_EQ(result.image->at(kImageBufferSize), 0xFF);
}

TEST(HexImageTest, VersionIsTheLittleEndianWordAt1029WithErasedBytesBeyondTheImage) {
    FirmwareImage full;
    ASSERT_TRUE(full.append(imageBytes(2048, 0x12345678)));
    EXPECT_EQ(full.version(), 0x12345678u);

    FirmwareImage cut; // ends inside the version word
    Bytes bytes(1031, 0);
    bytes[1029] = 0x34;
    bytes[1030] = 0x12;
    ASSERT_TRUE(cut.append(bytes));
    EXPECT_EQ(cut.version(), 0xFFFF1234u);
}

} // namespace
} // namespace zanst::service
