#pragma once
// The 13 battery models a bank can be built from, by product id.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zanst::sim {

struct Preset {
    std::uint16_t productId = 0;
    int cellsInSeries = 0;
    int capacityAh = 0;
};

inline constexpr std::array<Preset, 13> kPresets{{
    {0xA602, 4, 100},
    {0xA60E, 4, 105},
    {0xA603, 4, 150},
    {0xA605, 4, 200},
    {0xA60F, 4, 210},
    {0xA60B, 4, 300},
    {0xA607, 8, 100},
    {0xA610, 8, 105},
    {0xA60C, 8, 200},
    {0xA611, 8, 210},
    {0xA60A, 8, 300},
    {0xA60D, 16, 100},
    {0xA612, 16, 105},
}};

std::optional<Preset> findPreset(std::uint16_t productId);

// Reads "0xA602", "A602" or "a602"; nullopt for anything that is not one of the 13 ids.
std::optional<Preset> parsePreset(std::string_view text);

// "0xA602 (4 cells, 100 Ah), ..." for help and error texts.
std::string presetList();

} // namespace zanst::sim
