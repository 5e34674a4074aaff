#include "bus/hex.hpp"

#include <gtest/gtest.h>

namespace zanst::bus {
namespace {

TEST(Hex, ConvertHex1) {
    struct Row {
        std::uint64_t value;
        std::uint8_t minSize;
        const char* text;
    };
    const Row rows[] = {
        {0, 0, "00"},
        {0x5, 0, "05"},
        {0xABC, 4, "0ABC"},
        {0, 4, "0000"},
        {0x12345, 0, "012345"},
        {0xA3, 4, "00A3"},
        {0x1234, 4, "1234"},
        {0xFF, 2, "FF"},
        {0x100, 0, "0100"},
        {0xE4A3, 4, "E4A3"},
        {0xFFFFFFFFFFFFFFFFull, 0, "FFFFFFFFFFFFFFFF"},
        {0x7, 5, "000007"},
        {0xabcdef, 0, "ABCDEF"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ConvertHex1(r.value, r.minSize), r.text)
            << std::hex << r.value << " min " << int(r.minSize);
    }
}

TEST(Hex, ConvertHexAddsPrefix) {
    EXPECT_EQ(ConvertHex(0x5, 0), "0x05");
    EXPECT_EQ(ConvertHex(0xABC, 4), "0x0ABC");
}

TEST(Hex, VersionToString) {
    struct Row {
        std::uint32_t word;
        const char* text;
    };
    const Row rows[] = {
        {0x00010AFF, "v01.0A"}, {0x00020006, "v02.00-beta06"}, {0x00FFFFFF, "---"},
        {0xFFFFFFFF, "---"},    {0x12FFFFFF, "---"},           {0x000102FF, "v01.02"},
        {0xAB010AFF, "v01.0A"}, {0x00000000, "v00.00-beta00"}, {0x00FFFFFE, "vFF.FF-betaFE"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(versionToString(r.word), r.text) << std::hex << r.word;
    }
}

} // namespace
} // namespace zanst::bus
