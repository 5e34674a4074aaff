#include "cli/flash_steps.hpp"

#include "bus/hex.hpp"
#include "servicelog/records.hpp"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace zanst::cli {

namespace {

constexpr std::string_view kProgressPrefix = "Start Update...";

} // namespace

service::HexReadResult readFirmwareFile(const std::string& path) {
    if (!path.ends_with("hex")) {
        return service::readHexImage(path, std::string_view()); // refused by its name alone
    }
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return service::unreadableHexFile(path, "Cannot read the file: it is a folder");
    }
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        return service::unreadableHexFile(path, "Cannot read the file: " + ec.message());
    }
    if (size > kMaxFirmwareFileBytes) {
        return service::unreadableHexFile(path, "File too large: " + std::to_string(size) + " bytes");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return service::unreadableHexFile(path,
                                          "Cannot read the file: " + std::generic_category().message(errno));
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return service::unreadableHexFile(path, "Cannot read the file");
    }
    return service::readHexImage(path, text);
}

std::optional<int> progressPercent(const std::string& line) {
    if (!line.starts_with(kProgressPrefix) || !line.ends_with('%')) {
        return std::nullopt;
    }
    const std::string_view digits =
        std::string_view(line).substr(kProgressPrefix.size(), line.size() - kProgressPrefix.size() - 1);
    int percent = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), percent);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || percent < 0 ||
        percent > 100) {
        return std::nullopt;
    }
    return percent;
}

FlashVerdict judgeVersions(const bank::BankSnapshot& before, const bank::BankSnapshot& after,
                           std::uint32_t imageVersion) {
    FlashVerdict verdict;
    verdict.complete = true;
    // The log's own matching: a balancer is found again by its place and serial.
    const auto results = servicelog::firmwareResults(before, after, imageVersion);
    for (const servicelog::FirmwareBalancerResult& r : results) {
        BalancerVersion v;
        v.balancer = r.balancer;
        v.serial = r.serial.toStdString();
        v.before = r.fromVersion;
        v.after = r.toVersion;
        if (r.toVersion) {
            v.inBootLoader = after.balancers[static_cast<std::size_t>(r.balancer) - 1].bootMode != 0;
        } else {
            verdict.complete = false;
        }
        v.updated = r.outcome == servicelog::Outcome::Succeeded && !v.inBootLoader;
        verdict.updated += v.updated ? 1 : 0;
        verdict.balancers.push_back(v);
    }
    return verdict;
}

std::vector<std::string> verdictLines(const FlashVerdict& verdict, std::uint32_t imageVersion) {
    std::vector<std::string> lines;
    for (const BalancerVersion& b : verdict.balancers) {
        std::string line = "balancer " + std::to_string(b.balancer) + " " +
                           (b.serial.empty() ? "-" : b.serial) + ": " + bus::versionToString(b.before) +
                           " -> ";
        if (!b.after) {
            line += "not seen after the update, FAILED";
        } else {
            line += bus::versionToString(*b.after);
            line += b.updated        ? ", updated"
                    : b.inBootLoader ? ", still in its boot loader, FAILED"
                                     : ", FAILED";
        }
        lines.push_back(line);
    }
    lines.push_back(std::to_string(verdict.updated) + " of " + std::to_string(verdict.balancers.size()) +
                    " balancers run " + bus::versionToString(imageVersion));
    return lines;
}

} // namespace zanst::cli
