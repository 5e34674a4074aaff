#pragma once
// Metrics text files: one file per fetch, line 1 "Number of instances: <count>" ended by LF, then
// one block of 40 lines (each ended by CR LF) per stored instance. The window owns the files
// and calls these on its own thread.

#include "display.hpp"
#include "record.hpp"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zanst::metrics {

inline constexpr std::string_view kCountPrefix = "Number of instances: ";
inline constexpr std::size_t kBlockLines = 40;

// "metrics_" + day-month-year_hour;minute;second + ".txt": 7 March 2025, 14:05:09 gives
// metrics_07-03-2025_14;05;09.txt.
std::string metricsFileName(const std::tm& localTime);

// The 40 lines of one instance, each ended by CR LF.
std::string metricsBlock(const MetricsMetadata& record);

struct StoreResult {
    bool ok = true;
    bool recreated = false; // the active file had been removed and was created again
    std::string message;    // for the metrics console: what failed, or the re-creation; empty otherwise
};

class MetricsFileStore {
  public:
    explicit MetricsFileStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // "Get All Metrics": the next stored record starts a new file.
    void forgetActiveFile();

    // Creates the folder when missing and a new file holding "Number of instances: 0" and LF,
    // and makes it the active one. A file of the same name (a second fetch within the same
    // second) is never replaced: the new one gets "_2", "_3", ... before ".txt".
    StoreResult createMetricsDataFile(const std::tm& localTime);

    // Appends the record's block to the active file (creating one first when there is none, or
    // again under the same name when it has been removed), then sets line 1 to the number of
    // blocks in the file. Line 1 keeps its width while the count fits (padded with spaces);
    // a count that needs more digits rewrites line 1 and keeps every other byte.
    StoreResult storeMetricsInActiveFile(const MetricsMetadata& record, const std::tm& localTime);

    const std::filesystem::path& activeMetricsFileName() const { return active_; }
    // Blocks written to the active file since it was created.
    int storedInActiveFile() const { return stored_; }

  private:
    StoreResult createAt(const std::filesystem::path& path);
    StoreResult writeCount(int count);

    std::filesystem::path folder_;
    std::filesystem::path active_;
    int stored_ = 0;
};

// One instance of a file as the tab shows it.
struct MetricsInstanceView {
    MetricsFields fields; // the 13 values' texts as they stand in the file
    MatrixData matrix{};
};

struct MetricsFileRead {
    int nrOfInstances = -1; // from line 1; -1 when line 1 holds no count
    // The number on the block's own "Instance: " line: the battery whose values the block holds.
    // Its place in the file is not that number when an instance did not answer the fetch. Set
    // whenever that line was read and names one, also when the rest of the block is refused.
    std::optional<std::uint32_t> instanceInFile;
    std::optional<MetricsInstanceView> view; // only when the whole block was read and valid
    std::string reason;                      // why nothing is shown, when view is empty
};

// Reads instance `instance` (1-based, the position of its block in the file; "<" and ">" step
// through the positions). The block's first line must name its instance ("Instance: <n>"), every
// value must be a number from 0 to 4294967295, every field line must hold ':', every matrix line
// exactly five numbers (any number of spaces between them; empty lines between matrix lines are
// skipped). Anything else, or a file that ends before the block does, gives a reason and no view.
MetricsFileRead readMetricsInstance(std::istream& in, int instance);
MetricsFileRead readMetricsInstance(const std::filesystem::path& file, int instance);

// Of the dropped paths, the first whose text ends with "txt" (case-sensitive, dot not required).
std::optional<std::string> pickDroppedMetricsFile(std::span<const std::string> paths);

} // namespace zanst::metrics
