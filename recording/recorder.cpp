#include "recorder.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <limits>
#include <system_error>

namespace zanst::recording {

namespace fs = std::filesystem;

namespace {

constexpr char kLineEnd = '\n';

std::string reason(int error) {
    return std::generic_category().message(error);
}

FileResult failure(const std::string& what, const fs::path& path, const std::string& why) {
    return fileFailure(what, path, why);
}

} // namespace

ColumnSet presetColumns(RecordingPreset preset) {
    switch (preset) {
    case RecordingPreset::ChangingValuesOnly:
        return {true, true, true, true, false, false, false, false};
    case RecordingPreset::All:
        return {true, true, true, true, true, true, true, true};
    case RecordingPreset::None:
        return {};
    }
    return {};
}

int roundIntervalMs(int ms) {
    int seconds = ms / 1000;
    const int rest = ms % 1000;
    if (rest > 500 || (rest == 500 && seconds % 2 != 0)) {
        ++seconds;
    }
    return std::clamp(seconds * 1000, kMinIntervalMs, kMaxIntervalMs);
}

std::string recordingLine(const bank::CellTable& table, const RowSelection& selected,
                          const ColumnSet& columns, const bus::TextFormat& format) {
    std::string line;
    const std::size_t rows = std::min(table.rows.size(), selected.size());
    for (std::size_t r = 0; r < rows; ++r) {
        const bank::CellRow& row = table.rows[r];
        if (row[bank::Column::CellId].empty()) {
            break;
        }
        if (!selected[r]) {
            continue;
        }
        for (int c = 0; c < kRecordColumnCount; ++c) {
            if (!columns[static_cast<std::size_t>(c)]) {
                continue;
            }
            line += ' ';
            switch (static_cast<RecordColumn>(c)) {
            case RecordColumn::CellId:
                line += std::to_string(row.cellId);
                break;
            case RecordColumn::Voltage:
                line += row.volts ? bus::shortestText(*row.volts, format) : row[bank::Column::Voltage];
                break;
            case RecordColumn::Current:
                line += row[bank::Column::Current];
                break;
            case RecordColumn::Temp:
                line += bus::shortestText(row.celsius, format);
                break;
            case RecordColumn::Serial:
                line += row[bank::Column::Serial];
                break;
            case RecordColumn::Firmware:
                line += row[bank::Column::Firmware];
                break;
            case RecordColumn::ProdID:
                line += row[bank::Column::ProdID];
                break;
            case RecordColumn::BootLoader:
                line += row[bank::Column::BootLoader];
                break;
            }
        }
    }
    // Also after a full table, so that two ticks never merge into one line.
    line += kLineEnd;
    return line;
}

fs::path Recorder::recordingPath(int number) const {
    return folder_ / (std::string(names_.filePrefix) + std::to_string(number) + ".txt");
}

FileResult Recorder::writeNumberFile(int number) {
    const fs::path path = numberFilePath();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return failure("Cannot write", path, reason(errno));
    }
    out << number;
    out.close();
    if (!out) {
        return failure("Cannot write", path, reason(errno));
    }
    return {};
}

FileResult Recorder::prepare() {
    recording_ = false;
    active_.clear();
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec) {
        return failure("Cannot create", folder_, ec.message());
    }
    const fs::path path = numberFilePath();
    if (!fs::exists(path, ec)) {
        RecordingUniqueID_ = 0;
        return writeNumberFile(0);
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return failure("Cannot read", path, reason(errno));
    }
    std::string first;
    std::getline(in, first);
    while (!first.empty() && (first.back() == '\r' || first.back() == ' ' || first.back() == '\t')) {
        first.pop_back();
    }
    std::size_t start = 0;
    while (start < first.size() && (first[start] == ' ' || first[start] == '\t')) {
        ++start;
    }
    int number = 0;
    const char* begin = first.data() + start;
    const char* end = first.data() + first.size();
    const auto parsed = std::from_chars(begin, end, number);
    if (begin == end || parsed.ec != std::errc{} || parsed.ptr != end || number < 0) {
        RecordingUniqueID_ = 0;
        return {false, path.string() + " holds no recording number; the next free number will be used"};
    }
    RecordingUniqueID_ = number;
    return {};
}

FileResult Recorder::start() {
    if (recording_) {
        return {};
    }
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec) {
        return failure("Cannot create", folder_, ec.message());
    }
    int number = RecordingUniqueID_;
    fs::path path;
    while (true) {
        if (number == std::numeric_limits<int>::max()) {
            return {false, "No recording number left in " + numberFilePath().string()};
        }
        ++number;
        path = recordingPath(number);
        const bool taken = fs::exists(path, ec);
        if (ec) {
            return failure("Cannot check", path, ec.message());
        }
        if (!taken) {
            break;
        }
    }

    if (FileResult written = writeNumberFile(number); !written.ok) {
        return written;
    }
    RecordingUniqueID_ = number;

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        return failure("Cannot create", path, reason(errno));
    }
    file.close();
    recording_ = true;
    active_ = path;
    return {};
}

FileResult Recorder::append(std::string_view line) {
    if (!recording_ || active_.empty()) {
        return {};
    }
    return appendWhole(active_, line, "recording");
}

fs::path Recorder::stop() {
    recording_ = false;
    fs::path written = std::move(active_);
    active_.clear();
    return written;
}

} // namespace zanst::recording
