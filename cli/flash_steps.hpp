#pragma once
// The parts of `zanst-cli flash` that need no bus: the firmware file read as the window reads a
// dropped one, the updater's progress lines, and the verdict over the versions read back.

#include "bank/bank_snapshot.hpp"
#include "service/hex_image.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zanst::cli {

// No image comes near this; reading more would only take memory.
inline constexpr std::uintmax_t kMaxFirmwareFileBytes = 4 * 1024 * 1024;

// The file at `path` through the updater's reader, with its log lines; an unreadable or oversized
// file is refused with the reason among the lines, as the window refuses it.
service::HexReadResult readFirmwareFile(const std::string& path);

// The percentage of an updater progress line ("Start Update...66%"); nothing for other lines.
std::optional<int> progressPercent(const std::string& line);

struct BalancerVersion {
    int balancer = 0;
    std::string serial;
    std::uint32_t before = 0;
    std::optional<std::uint32_t> after; // empty: not seen after the update
    bool inBootLoader = false;
    bool updated = false; // reports the image's version, out of its boot loader
};

struct FlashVerdict {
    std::vector<BalancerVersion> balancers;
    int updated = 0;
    bool complete = false; // every balancer of `before` was seen again
    bool passed() const { return !balancers.empty() && updated == static_cast<int>(balancers.size()); }
};

// Every balancer found before the update, matched by its place and serial in `after`.
FlashVerdict judgeVersions(const bank::BankSnapshot& before, const bank::BankSnapshot& after,
                           std::uint32_t imageVersion);

// "balancer 3 SIMA602B001: v01.04 -> v02.03, updated" and the like; then "4 of 4 balancers run v02.03".
std::vector<std::string> verdictLines(const FlashVerdict& verdict, std::uint32_t imageVersion);

} // namespace zanst::cli
