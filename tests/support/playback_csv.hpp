#pragma once
// A CSV recording as the tool writes it, for the playback tests: batteries of the given sizes
// (each with its own serial), one step a second from 09:15:00, the values moving with the step.

#include <string>
#include <vector>

namespace zanst::test {

// Cell n (1-based over the bank) at step s: 3300 + 10 s + n mV (n below 90), 20.5 + s degC; the
// first and third cell of every four measure -12.5 A on a low- and a high-range sensor.
inline int csvMillivolts(int step, int cell) {
    return 3300 + 10 * step + cell;
}
inline int csvTenths(int step) {
    return 205 + 10 * step;
}

inline std::string csvRecording(const std::vector<int>& cellsPerBattery, int steps) {
    std::string text = "time,cell,voltage [V],current [A],current range,temperature [degC],serial\r\n";
    for (int s = 0; s < steps; ++s) {
        const std::string second = (s < 10 ? "0" : "") + std::to_string(s);
        int cell = 0;
        for (std::size_t b = 0; b < cellsPerBattery.size(); ++b) {
            for (int c = 0; c < cellsPerBattery[b]; ++c) {
                ++cell;
                const int mv = csvMillivolts(s, cell);
                const std::string range = c % 4 == 0 ? "low" : (c % 4 == 2 ? "high" : "");
                const std::string current = range.empty() ? "" : "-12.500";
                const int tenths = csvTenths(s);
                std::string volts = std::to_string(mv % 1000);
                volts.insert(0, 3 - volts.size(), '0');
                text += "2026-11-03T09:15:" + second + ".000Z," + std::to_string(cell) + "," +
                        std::to_string(mv / 1000) + "." + volts + "," + current + "," + range + "," +
                        std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + ",\"SER" +
                        std::to_string(b + 1) + "\"\r\n";
            }
        }
    }
    return text;
}

} // namespace zanst::test
