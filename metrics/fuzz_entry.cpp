#include "fuzz_entry.hpp"

#include "answer.hpp"
#include "files.hpp"

#include "bus/protocol.hpp"

#include <cstdlib>
#include <sstream>
#include <string>

namespace zanst::metrics {

void fuzzMetricsFile(std::span<const std::uint8_t> data) {
    if (data.empty()) {
        return;
    }
    const int instance = data[0] & 0x0F;
    std::istringstream in(std::string(data.begin() + 1, data.end()));
    const MetricsFileRead read = readMetricsInstance(in, instance);
    if (read.view.has_value() == !read.reason.empty()) {
        std::abort(); // exactly one of a view and a reason
    }
}

void fuzzMetricsAnswer(std::span<const std::uint8_t> data) {
    int size = bus::kDefaultFrameSize;
    for (int i = 0; i < static_cast<int>(data.size()) && i < size; ++i) {
        size = bus::frameSizeAfter(bus::FrameKind::Metrics, data.first(static_cast<std::size_t>(i) + 1), i,
                                   size);
    }
    const DecodedAnswer answer = decodeMetricsAnswer(data);
    if (!answer.record) {
        return;
    }
    if (size != static_cast<int>(kAnswerSize)) {
        std::abort(); // an accepted answer is always sized as one
    }
    const bus::Bytes rebuilt = buildMetricsAnswer(*answer.record);
    if (decodeMetricsAnswer(rebuilt).record != answer.record) {
        std::abort();
    }
}

} // namespace zanst::metrics
