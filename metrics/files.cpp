#include "files.hpp"

#include "recording/append_file.hpp"

#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace zanst::metrics {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr int kMaxSameNameFiles = 100;

// File keys of the 13 values, in the order of fieldTexts().
constexpr std::array<std::string_view, kFieldCount> kFileKeys{
    "secsLifeSpan",
    "cyclesBeforeEOL",
    "secsAtIRRange100_110perc",
    "secsAtIRRange110_120perc",
    "secsAtIRRange120_130perc",
    "secsAtIRRange130_150perc",
    "secsAtIRRange150_175perc",
    "secsAtIRRange175_200perc",
    "secsAtIRRange200_225perc",
    "secsAtIRAbove225perc",
    "secsInUndervoltage",
    "secsInOvervoltage",
    "secsInSub01C",
};

StoreResult failure(std::string_view what, const fs::path& path, const std::string& why) {
    return {false, false, std::string(what) + " " + path.string() + ": " + why};
}

std::string errnoText() {
    return std::generic_category().message(errno);
}

std::string withSuffix(const std::string& name, int n) {
    const std::size_t dot = name.rfind('.');
    return name.substr(0, dot) + "_" + std::to_string(n) + name.substr(dot);
}

} // namespace

std::string metricsFileName(const std::tm& t) {
    std::array<char, 96> stamp{};
    std::snprintf(stamp.data(), stamp.size(), "%02d-%02d-%04d_%02d;%02d;%02d", t.tm_mday, t.tm_mon + 1,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return "metrics_" + std::string(stamp.data()) + ".txt";
}

std::string metricsBlock(const MetricsMetadata& record) {
    std::string out = "Instance: " + std::to_string(record.instanceNumber) + std::string(kCrLf);
    const MetricsFields values = fieldTexts(record);
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        out += std::string(kFileKeys[i]) + ": " + values[i] + std::string(kCrLf);
    }
    for (const auto& byTemperature : record.timeMatrix) {
        for (const auto& byCRate : byTemperature) {
            for (const std::uint32_t seconds : byCRate) {
                out += std::to_string(seconds) + " ";
            }
            out += kCrLf;
        }
        out += kCrLf;
    }
    out += std::string(75, '-') + std::string(kCrLf);
    return out;
}

void MetricsFileStore::forgetActiveFile() {
    active_.clear();
    stored_ = 0;
}

StoreResult MetricsFileStore::createAt(const fs::path& path) {
    std::error_code ec;
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), ec);
    }
    if (ec) {
        return failure("Cannot create", path.parent_path(), ec.message());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << kCountPrefix << 0 << '\n';
    out.close();
    if (!out) {
        return failure("Cannot create", path, errnoText());
    }
    active_ = path;
    stored_ = 0;
    return {};
}

StoreResult MetricsFileStore::createMetricsDataFile(const std::tm& localTime) {
    const std::string name = metricsFileName(localTime);
    fs::path path = folder_ / name;
    std::error_code ec;
    for (int n = 2; fs::exists(path, ec); ++n) {
        if (n > kMaxSameNameFiles) {
            return failure("No free name for", folder_ / name, "too many files of that name");
        }
        path = folder_ / withSuffix(name, n);
    }
    return createAt(path);
}

StoreResult MetricsFileStore::writeCount(int count) {
    const std::string countText = std::string(kCountPrefix) + std::to_string(count);
    std::string first;
    {
        std::ifstream in(active_, std::ios::binary);
        if (!in) {
            return failure("Cannot read", active_, errnoText());
        }
        if (!std::getline(in, first)) {
            return failure("Cannot read", active_, "line 1 is missing");
        }
    }
    if (countText.size() <= first.size()) {
        // Same width as before: overwrite line 1 in place, everything behind it stays.
        std::fstream file(active_, std::ios::binary | std::ios::in | std::ios::out);
        file << countText << std::string(first.size() - countText.size(), ' ');
        file.close();
        if (!file) {
            return failure("Cannot write", active_, errnoText());
        }
        return {};
    }
    // The count needs more digits than line 1 has room for: write the file anew with a wider
    // line 1 rather than cut "10" to "1".
    std::string content;
    {
        std::ifstream in(active_, std::ios::binary);
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            return failure("Cannot read", active_, errnoText());
        }
    }
    fs::path temporary = active_;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << countText << std::string_view(content).substr(first.size());
        out.close();
        if (!out) {
            return failure("Cannot write", temporary, errnoText());
        }
    }
    std::error_code ec;
    fs::rename(temporary, active_, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return failure("Cannot replace", active_, ec.message());
    }
    return {};
}

StoreResult MetricsFileStore::storeMetricsInActiveFile(const MetricsMetadata& record,
                                                       const std::tm& localTime) {
    StoreResult result;
    std::error_code ec;
    if (active_.empty()) {
        result = createMetricsDataFile(localTime);
    } else if (!fs::exists(active_, ec) && !ec) {
        result = createAt(active_);
        if (result.ok) {
            result = {true, true, "Metrics file " + active_.string() + " was removed; created it again"};
        }
    }
    if (!result.ok) {
        return result;
    }
    if (const recording::FileResult written =
            recording::appendWhole(active_, metricsBlock(record), "metrics");
        !written.ok) {
        return {false, false, written.message};
    }
    // Line 1 counts only blocks that are in the file: it is updated after the block is written.
    ++stored_;
    if (StoreResult counted = writeCount(stored_); !counted.ok) {
        counted.recreated = result.recreated;
        if (result.recreated) {
            counted.message = result.message + "; " + counted.message;
        }
        return counted;
    }
    return result;
}

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::optional<std::uint32_t> parseU32(std::string_view s) {
    std::uint32_t value = 0;
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, value);
    if (s.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

// Reads one line without its line end; counts lines for the reasons.
class LineReader {
  public:
    explicit LineReader(std::istream& in) : in_(in) {}

    bool next(std::string& line) {
        if (!std::getline(in_, line)) {
            return false;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        ++number_;
        return true;
    }
    long long number() const { return number_; }
    std::string where() const { return "line " + std::to_string(number_); }

  private:
    std::istream& in_;
    long long number_ = 0;
};

// The text between the first ':' and the next one (or the line's end), trimmed.
std::optional<std::string_view> valueText(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = line.substr(colon + 1);
    return trim(rest.substr(0, rest.find(':')));
}

std::string notANumber(const LineReader& lines, std::string_view text) {
    return lines.where() + ": \"" + std::string(text) + "\" is not a number from 0 to 4294967295";
}

} // namespace

MetricsFileRead readMetricsInstance(std::istream& in, int instance) {
    MetricsFileRead result;
    LineReader lines(in);
    std::string line;

    if (!lines.next(line)) {
        result.reason = "the file is empty";
        return result;
    }
    const auto countText = valueText(line);
    const auto count = countText ? parseU32(*countText) : std::nullopt;
    if (!count || *count > static_cast<std::uint32_t>(INT_MAX)) {
        result.reason = "line 1 holds no instance count";
        return result;
    }
    result.nrOfInstances = static_cast<int>(*count);
    if (instance < 1) {
        result.reason = "there is no instance " + std::to_string(instance);
        return result;
    }

    const std::string ends = "the file ends before the end of instance " + std::to_string(instance);
    for (long long skip = static_cast<long long>(kBlockLines) * (instance - 1); skip > 0; --skip) {
        if (!lines.next(line)) {
            result.reason = "the file holds no instance " + std::to_string(instance);
            return result;
        }
    }
    if (!lines.next(line)) {
        result.reason = "the file holds no instance " + std::to_string(instance);
        return result;
    }
    // The battery the block belongs to; values no label could name are not shown.
    if (const auto number = valueText(line)) {
        result.instanceInFile = parseU32(*number);
    }
    if (!result.instanceInFile) {
        result.reason = lines.where() + " names no instance";
        return result;
    }
    // Everything goes into a temporary first: a bad block shows nothing at all.
    MetricsInstanceView view;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        if (!lines.next(line)) {
            result.reason = ends;
            return result;
        }
        const auto text = valueText(line);
        if (!text) {
            result.reason = lines.where() + " has no ':'";
            return result;
        }
        if (!parseU32(*text)) {
            result.reason = notANumber(lines, *text);
            return result;
        }
        view.fields[i] = std::string(*text);
    }
    for (std::size_t s = 0; s < kSocRanges; ++s) {
        for (std::size_t t = 0; t < kTemperatureRanges; ++t) {
            do {
                if (!lines.next(line)) {
                    result.reason = ends;
                    return result;
                }
            } while (line.empty());
            std::vector<std::string_view> pieces;
            std::string_view rest = line;
            while (!rest.empty()) {
                const std::size_t space = rest.find(' ');
                if (space != 0) {
                    pieces.push_back(rest.substr(0, space));
                }
                rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
            }
            if (pieces.size() != kCRateRanges) {
                result.reason = lines.where() + " holds " + std::to_string(pieces.size()) + " numbers, not " +
                                std::to_string(kCRateRanges);
                return result;
            }
            for (std::size_t c = 0; c < kCRateRanges; ++c) {
                const auto value = parseU32(pieces[c]);
                if (!value) {
                    result.reason = notANumber(lines, pieces[c]);
                    return result;
                }
                view.matrix[s + kSocRanges * c][t] = *value;
            }
        }
    }
    result.view = std::move(view);
    return result;
}

MetricsFileRead readMetricsInstance(const fs::path& file, int instance) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        MetricsFileRead result;
        result.reason = "cannot open " + file.string() + ": " + errnoText();
        return result;
    }
    return readMetricsInstance(in, instance);
}

std::optional<std::string> pickDroppedMetricsFile(std::span<const std::string> paths) {
    for (const std::string& path : paths) {
        if (path.ends_with("txt")) {
            return path;
        }
    }
    return std::nullopt;
}

} // namespace zanst::metrics
