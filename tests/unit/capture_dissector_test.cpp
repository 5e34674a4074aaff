// The Wireshark dissector against the tool's own traffic decoder: zanst-sim writes captures of
// real sessions (a bank polled by this test as the master, a ring whose bytes this test repeats
// as the sniffer does, once clean and once with corrupted bytes); each is exported to pcapng,
// decoded by tshark with packaging/wireshark/zanst.lua, and every packet's fields must equal
// what the decoder and the core's record functions make of the same packet.

#include "bus/hex.hpp"
#include "bus/records.hpp"
#include "bus/tables.hpp"
#include "capture/pcapng.hpp"
#include "metrics/answer.hpp"
#include "support/records.hpp"
#include "support/sim_process.hpp"
#include "tester/requests.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <poll.h>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using bus::Bytes;
using capture::Packet;

// The far end of the simulator's device, raw, as an adapter would be.
class Peer {
  public:
    explicit Peer(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios t{};
            tcgetattr(fd_, &t);
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Peer() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    void write(const Bytes& bytes) {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + at, bytes.size() - at);
            if (n > 0) {
                at += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                ADD_FAILURE() << "write to the simulator failed: " << std::strerror(errno);
                return;
            } else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 50);
            }
        }
    }

    // Reads for `window`; with `echo` every byte goes straight back, as the sniffer repeats it.
    Bytes readFor(std::chrono::milliseconds window, bool echo = false) {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + window;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) {
                continue;
            }
            std::uint8_t buffer[4096];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                const Bytes chunk(buffer, buffer + n);
                if (echo) {
                    write(chunk);
                }
                got.insert(got.end(), chunk.begin(), chunk.end());
            }
        }
        return got;
    }

  private:
    int fd_ = -1;
};

Bytes placeholders(std::uint8_t type, int count) {
    Bytes out;
    for (int id = 1; id <= count; ++id) {
        const std::uint8_t following = id == count ? 0 : type;
        out = concat({out, type == bus::rec::kMeasurement
                               ? measurementRecord(static_cast<std::uint16_t>(id), 0, 0, 0, following)
                               : calibrationRecord(static_cast<std::uint16_t>(id), 0, 0, 0, 0, following)});
    }
    return out;
}

// A bank polled as the battery tester polls it, then asked for a battery's metrics; between the
// requests a frame with a wrong CRC and a few noise bytes.
void driveBank(Peer& bank) {
    const Bytes wake(10, 0x00);
    bank.write(concat({wake, tester::buildInfoRequest()}));
    bank.readFor(300ms);
    bank.write(concat({wake, tester::buildMeasurementRequest(3400, 13200)}));
    bank.write(placeholders(bus::rec::kMeasurement, 4));
    bank.readFor(300ms);
    bank.write(concat({wake, tester::buildCalibrationRequest()}));
    bank.write(placeholders(bus::rec::kCalibration, 4));
    bank.readFor(300ms);
    Bytes broken = frame(0x14, Bytes(10, 0x00), 0);
    broken.back() ^= 0x5A;
    bank.write(concat({Bytes{0x13, 0x37}, broken}));
    bank.readFor(100ms);
    bank.write(concat({wake, metrics::buildMetricsRequest(1)}));
    bank.readFor(500ms);
}

std::string capture(const std::string& dir, const std::string& name, std::vector<std::string> args,
                    const std::function<void(Peer&)>& drive) {
    const std::string link = dir + "/" + name + ".port";
    const std::string path = dir + "/" + name + ".zcap";
    args.insert(args.end(), {"--capture", path, "--link", link, "--seed", "7"});
    SimProcess sim(ZANST_SIM_PATH, args);
    EXPECT_TRUE(sim.waitForLine(" ready ", 10000ms)) << sim.transcript();
    {
        Peer peer(link);
        EXPECT_TRUE(peer.isOpen()) << link;
        if (peer.isOpen()) {
            drive(peer);
        }
    }
    EXPECT_EQ(sim.stop(), 0) << sim.transcript();
    return path;
}

const std::vector<std::string> kFields = {
    "zanst.direction",
    "zanst.kind",
    "zanst.verdict",
    "zanst.crc_ok",
    "zanst.cmd",
    "zanst.rec_type",
    "zanst.id",
    "zanst.following",
    "zanst.voltage_mv",
    "zanst.current_ma",
    "zanst.temperature_dc",
    "zanst.flags",
    "zanst.serial",
    "zanst.product_id",
    "zanst.capacity",
    "zanst.fw_version",
    "zanst.bl_version",
    "zanst.v_gain",
    "zanst.i_gain",
    "zanst.i_offset",
    "zanst.mode",
    "zanst.metrics.instance",
    "zanst.metrics.life_span",
    "zanst.metrics.cycles_before_eol",
    "zanst.metrics.time",
    "_ws.col.Info",
};

// tshark's rows, one map of field to text per packet.
std::vector<std::map<std::string, std::string>> dissect(const std::string& pcapng) {
    std::string command = std::string(ZANST_TSHARK) + " -n -X lua_script:" + ZANST_DISSECTOR + " -r '" +
                          pcapng + "' -T fields -E separator=/t -E occurrence=a -E aggregator=,";
    for (const std::string& f : kFields) {
        command += " -e " + f;
    }
    command += " 2>/dev/null";
    std::vector<std::map<std::string, std::string>> rows;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return rows;
    }
    std::string text;
    char buffer[8192];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        text.append(buffer, n);
    }
    EXPECT_EQ(::pclose(pipe), 0) << command;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::map<std::string, std::string> row;
        std::size_t at = 0;
        for (const std::string& f : kFields) {
            const std::size_t tab = line.find('\t', at);
            row[f] = line.substr(at, tab == std::string::npos ? std::string::npos : tab - at);
            at = tab == std::string::npos ? line.size() : tab + 1;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// Numbers as tshark prints them ("0x02", "-1250", "True").
std::string number(const std::string& text) {
    if (text == "True" || text == "1") {
        return "1";
    }
    if (text == "False" || text == "0") {
        return "0";
    }
    if (text.empty()) {
        return "";
    }
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    return *end == '\0' ? std::to_string(v) : "not a number: " + text;
}

std::string n(long long v) {
    return std::to_string(v);
}

const std::array<const char*, 7> kModes = {"Connection", "Actions",      "Calibration", "Battery tester",
                                           "BMS tester", "Data Sniffer", "Metrics"};

// What the packet holds, from the exporter's packet and the core's own decoding of its bytes.
std::map<std::string, std::string> expected(const Packet& p) {
    std::map<std::string, std::string> e;
    for (const std::string& f : kFields) {
        e[f] = "";
    }
    e["zanst.direction"] = n(static_cast<int>(capture::packetDirection(p)));
    e["zanst.kind"] = n(static_cast<int>(capture::packetKind(p)));
    e["zanst.verdict"] = n(static_cast<int>(capture::packetVerdict(p)));
    const Bytes& b = p.row.bytes;
    if (p.mode) {
        e["zanst.mode"] = n(b[0]);
        e["_ws.col.Info"] =
            std::string("Mode: ") + (b[0] < kModes.size() ? kModes[b[0]] : std::to_string(b[0]).c_str());
        return e;
    }
    const std::string fields = capture::rowFieldsText(p.row);
    e["_ws.col.Info"] = capture::rowCommandText(p.row) + (fields.empty() ? "" : ": " + fields);
    const bool good = p.row.crc == capture::CrcVerdict::Good;
    if (p.row.kind == capture::RowKind::Frame) {
        e["zanst.cmd"] = n(b[1]);
        e["zanst.crc_ok"] = good ? "1" : "0";
        e["zanst.following"] = n(b[b.size() - 2]);
        if (bus::isMetricsAnswer(b)) {
            const metrics::DecodedAnswer a = metrics::decodeMetricsAnswer(b);
            if (a.record) {
                e["zanst.metrics.instance"] = n(a.record->instanceNumber);
                e["zanst.metrics.life_span"] = n(a.record->secsLifeSpan);
                e["zanst.metrics.cycles_before_eol"] = n(a.record->cyclesBeforeEOL);
                std::string times;
                for (const auto& byT : a.record->timeMatrix) {
                    for (const auto& byC : byT) {
                        for (const std::uint32_t s : byC) {
                            times += (times.empty() ? "" : ",") + n(s);
                        }
                    }
                }
                e["zanst.metrics.time"] = times;
            }
        } else if ((b[1] == bus::cmd::kInfo || b[1] == bus::cmd::kPresetChanged) && b.size() >= 22) {
            e["zanst.product_id"] = n(bus::getLe16(b, 4));
            e["zanst.serial"] = bus::serialText(std::span(b).subspan(8, 11));
        } else if (b[1] == bus::cmd::kMeasurement && b.size() >= 26) {
            e["zanst.serial"] = bus::serialText(std::span(b).subspan(12, 11));
        }
        return e;
    }
    if (p.row.kind != capture::RowKind::Record) {
        return e;
    }
    e["zanst.rec_type"] = n(b[0]);
    e["zanst.id"] = n(bus::recordId(b));
    e["zanst.flags"] = n(b[1]);
    e["zanst.crc_ok"] = good ? "1" : "0";
    if (!good) {
        return e;
    }
    if (b[0] == bus::rec::kMeasurement) {
        bus::cellmeasurements m;
        bus::copyMeasurementRecord(m, b);
        e["zanst.voltage_mv"] = n(bus::cellVoltageMv(m.measurement));
        e["zanst.current_ma"] = n(bus::cellCurrentMa(m.measurement));
        e["zanst.temperature_dc"] = n(bus::temperatureTenths(m.temperature));
    } else if (b[0] == bus::rec::kInfo) {
        bus::balancerinfo info;
        bus::copyInfoRecord(info, b);
        e["zanst.serial"] = bus::serialText(std::span(b).subspan(4, 11));
        e["zanst.product_id"] = n(info.productId);
        e["zanst.capacity"] = n(info.capacity);
        e["zanst.fw_version"] = n(info.fwVersion);
        e["zanst.bl_version"] = n(info.blVersion);
    } else if (b[0] == bus::rec::kCalibration) {
        bus::calibrationdata cal;
        bus::copyCalibrationRecord(cal, b);
        e["zanst.v_gain"] = n(cal.vGain);
        e["zanst.i_gain"] = n(cal.iGain);
        e["zanst.i_offset"] = n(static_cast<std::int16_t>(cal.iOffset));
    }
    return e;
}

bool textField(const std::string& f) {
    return f == "zanst.serial" || f == "_ws.col.Info" || f == "zanst.metrics.time";
}

TEST(Dissector, EveryPacketDecodesAsTheToolDecodesIt) {
    if (std::string(ZANST_TSHARK).empty()) {
        GTEST_SKIP() << "tshark is not installed (scripts/install-deps.sh installs it)";
    }
    TempDir dir;
    struct Session {
        const char* name;
        std::vector<std::string> args;
        std::function<void(Peer&)> drive;
    };
    const std::vector<Session> sessions = {
        {"bank", {"bank", "--batteries", "1", "--current", "12.5"}, driveBank},
        {"ring", {"ring"}, [](Peer& p) { p.readFor(2600ms, true); }},
        {"ring-corrupt", {"ring", "--corrupt-rate", "0.004"}, [](Peer& p) { p.readFor(2600ms, true); }},
    };
    std::map<std::string, int> seen; // what the sessions covered, so that a silent simulator cannot pass
    for (const Session& s : sessions) {
        SCOPED_TRACE(s.name);
        const std::string zcap = capture(dir.path(), s.name, s.args, s.drive);
        const std::string pcapng = dir / (std::string(s.name) + ".pcapng");
        const capture::ExportResult exported = capture::exportPcapng(zcap, pcapng);
        ASSERT_TRUE(exported.written) << exported.message;
        EXPECT_TRUE(exported.captureComplete) << exported.message;

        const auto packets = capture::packetsOf(capture::readCaptureFile(zcap));
        const auto rows = dissect(pcapng);
        ASSERT_EQ(rows.size(), packets.size());
        for (std::size_t i = 0; i < packets.size(); ++i) {
            SCOPED_TRACE("packet " + std::to_string(i + 1));
            const auto want = expected(packets[i]);
            for (const std::string& f : kFields) {
                const std::string got = textField(f) ? rows[i].at(f) : number(rows[i].at(f));
                EXPECT_EQ(got, want.at(f)) << f;
            }
            seen[want.at("_ws.col.Info").substr(0, want.at("_ws.col.Info").find(':'))]++;
            seen[std::string("verdict ") + want.at("zanst.verdict") + " direction " +
                 want.at("zanst.direction")]++;
        }
    }
    for (const char* kind : {"Info", "Info record", "Measurement", "Measurement record", "Calibration data",
                             "Calibration data record", "Metrics", "Metrics answer", "(line bytes)", "Mode",
                             "verdict 1 direction 0", "verdict 1 direction 1", "verdict 0 direction 1"}) {
        EXPECT_GT(seen[kind], 0) << "no packet of the kind \"" << kind << "\" in the sessions";
    }
}

} // namespace
} // namespace zanst::test
