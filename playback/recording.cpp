#include "recording.hpp"

#include "capture_reader.hpp"
#include "csv_reader.hpp"

#include "capture/capture_file.hpp"

#include <array>
#include <fstream>

namespace zanst::playback {

ReadResult readRecording(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ReadResult r;
        r.error = "Cannot open " + path;
        return r;
    }
    std::array<char, capture::kMagic.size()> head{};
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    const bool isCapture = in.gcount() == static_cast<std::streamsize>(head.size()) &&
                           std::string_view(head.data(), head.size()) == capture::kMagic;
    in.close();
    return isCapture ? readCaptureTimelineFile(path) : readCsvTimelineFile(path);
}

} // namespace zanst::playback
