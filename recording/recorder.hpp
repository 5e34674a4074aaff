#pragma once
// Recording of a cell table to numbered text files: one line per interval holding the chosen
// columns of the chosen rows. The battery tester and the data monitor each have one recorder
// with its own running number, number file and file names.

#include "append_file.hpp"
#include "bank/cell_rows.hpp"
#include "bus/number_text.hpp"

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

namespace zanst::recording {

// The recordable columns, in the order their values appear in a line.
enum class RecordColumn : int { CellId = 0, Voltage, Current, Temp, Serial, Firmware, ProdID, BootLoader };
inline constexpr int kRecordColumnCount = 8;
using ColumnSet = std::array<bool, kRecordColumnCount>;

enum class RecordingPreset : int { ChangingValuesOnly = 0, All, None };

ColumnSet presetColumns(RecordingPreset preset);

inline constexpr int kMinIntervalMs = 1000;
inline constexpr int kMaxIntervalMs = 60000;

// The nearest whole number of seconds in ms, half-way values to the even second, within 1..60 s.
int roundIntervalMs(int ms);

using RowSelection = std::array<bool, bank::kTableRows>;

// One line: for every selected row up to the first row without a balancer, a space before each
// chosen value; always ends with one line end. Cell ID, Voltage and Temp are written as numbers
// in their shortest form, everything else as the grid shows it.
std::string recordingLine(const bank::CellTable& table, const RowSelection& selected,
                          const ColumnSet& columns, const bus::TextFormat& format);

struct RecorderNames {
    std::string_view numberFile;
    std::string_view filePrefix;
};
inline constexpr RecorderNames kBatteryTesterNames{"recordingBatteryTesterIDMetadata.txt", "Recording_"};
inline constexpr RecorderNames kDataMonitorNames{"recordingBattDataMonitorIDMetadata.txt",
                                                 "BattDataMonitorRecording_"};

class Recorder {
  public:
    Recorder(std::filesystem::path folder, RecorderNames names) : folder_(std::move(folder)), names_(names) {}

    // At start-up: makes sure the folder exists and reads the running number from the number
    // file, creating it with "0" when missing. A number file without a number leaves the
    // number at 0; the next start then takes the first number whose file does not exist.
    FileResult prepare();

    // Takes the next number whose recording file does not exist yet, writes it to the number
    // file and creates that recording file empty. An existing recording is never emptied.
    FileResult start();

    // Appends `line` to the recording file; does nothing unless recording.
    FileResult append(std::string_view line);

    // Ends the recording (the caller writes the last line first). Returns the file written.
    std::filesystem::path stop();

    bool recording() const { return recording_; }
    const std::filesystem::path& activeFile() const { return active_; }
    int RecordingUniqueID() const { return RecordingUniqueID_; }
    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path numberFilePath() const { return folder_ / std::string(names_.numberFile); }
    std::filesystem::path recordingPath(int number) const;

  private:
    FileResult writeNumberFile(int number);

    std::filesystem::path folder_;
    RecorderNames names_;
    int RecordingUniqueID_ = 0;
    bool recording_ = false;
    std::filesystem::path active_;
};

} // namespace zanst::recording
