#include "cli/progress.hpp"

#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace zanst::cli {

std::string progressBar(double fraction, int width) {
    if (!(fraction >= 0.0)) { // NaN as well
        fraction = 0.0;
    }
    fraction = std::min(fraction, 1.0);
    width = std::max(width, 1);
    const int filled = static_cast<int>(std::floor(fraction * width));
    const int percent = static_cast<int>(std::floor(fraction * 100.0));
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), ' ') + "] " + number;
}

bool Progress::isTerminal(std::FILE* stream) {
    return stream != nullptr && isatty(fileno(stream)) == 1;
}

void Progress::update(long long done, long long total) {
    if (total <= 0) {
        return;
    }
    const double fraction = std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0);
    const int percent = static_cast<int>(std::floor(fraction * 100.0));
    if (percent == lastPercent_) {
        return;
    }
    lastPercent_ = percent;
    lastFraction_ = fraction;
    if (terminal_) {
        std::fprintf(out_, "\r%s", progressBar(fraction, width_).c_str());
        barShown_ = true;
    } else {
        std::fprintf(out_, "%d%%\n", percent);
    }
    std::fflush(out_);
}

void Progress::finish() {
    if (terminal_ && barShown_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    barShown_ = false;
    lastPercent_ = -1;
}

void Progress::log(const std::string& line) {
    if (terminal_ && barShown_) {
        // Clear the bar's line (its text is at most width + 7 characters), write, draw it again.
        std::fprintf(out_, "\r%*s\r%s\n\r%s", width_ + 7, "", line.c_str(),
                     progressBar(lastFraction_, width_).c_str());
    } else {
        std::fprintf(out_, "%s\n", line.c_str());
    }
    std::fflush(out_);
}

} // namespace zanst::cli
