#pragma once
// Progress of a long job (a firmware update) on standard error: a bar redrawn in place on a
// terminal, plain percentages, one a line, when the output goes to a file or a pipe.

#include <cstdio>
#include <string>

namespace zanst::cli {

// "[##########          ]  50%" for a bar `width` characters wide; the fraction is clamped to 0..1.
std::string progressBar(double fraction, int width);

class Progress {
  public:
    // `terminal`: whether `out` is a terminal (isatty); decides bar or percentages.
    Progress(std::FILE* out, bool terminal, int width = 40) : out_(out), terminal_(terminal), width_(width) {}
    static bool isTerminal(std::FILE* stream);

    // Shows `done` of `total` (a total of 0 shows nothing); repeats of the same percent are not shown again.
    void update(long long done, long long total);
    // Ends the bar's line on a terminal, so that the next log line starts on a line of its own.
    void finish();
    // A log line between updates: on a terminal the bar is cleared first and drawn again after it.
    void log(const std::string& line);

  private:
    std::FILE* out_;
    bool terminal_;
    int width_;
    int lastPercent_ = -1;
    double lastFraction_ = 0;
    bool barShown_ = false;
};

} // namespace zanst::cli
