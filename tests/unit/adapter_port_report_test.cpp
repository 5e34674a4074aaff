// What the tool says about a port it opened or could not open, from the facts the adapter library
// found: each row is one situation a technician meets, with the words that must reach the window.

#include "adapter/port_report.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace zanst::adapter {
namespace {

AdapterIdentity usbAdapter(const std::string& driver, std::optional<int> latencyMs, bool writable) {
    AdapterIdentity id;
    id.portPath = "/dev/ttyUSB0";
    id.devicePath = "/dev/ttyUSB0";
    id.ttyName = "ttyUSB0";
    id.kind = PortKind::UsbAdapter;
    id.driver = driver;
    UsbIdentity usb;
    usb.vendorId = driver == "ftdi_sio" ? 0x0403 : 0x1a86;
    usb.productId = driver == "ftdi_sio" ? 0x6001 : 0x7523;
    usb.manufacturer = driver == "ftdi_sio" ? "FTDI" : "";
    usb.product = driver == "ftdi_sio" ? "FT232R USB UART" : "USB Serial";
    usb.serial = driver == "ftdi_sio" ? "A50285BI" : "";
    id.usb = usb;
    id.latencyTimerMs = latencyMs;
    id.latencyWritable = writable;
    if (latencyMs) {
        id.latencyPath = "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer";
    }
    return id;
}

AdapterIdentity pseudoTerminal() {
    AdapterIdentity id;
    id.portPath = "/tmp/port";
    id.devicePath = "/dev/pts/7";
    id.ttyName = "7";
    id.kind = PortKind::PseudoTerminal;
    return id;
}

OpenOutcome opened(std::uint32_t outBaud, std::uint32_t inBaud = 0) {
    OpenOutcome o;
    o.baud.ok = true;
    o.baud.outputBaud = outBaud;
    o.baud.inputBaud = inBaud == 0 ? outBaud : inBaud;
    return o;
}

OpenOutcome failed(OpenError e) {
    OpenOutcome o;
    e.path = "/dev/ttyUSB0";
    o.error = e;
    o.text = openErrorText(e);
    return o;
}

// What requestLowLatency() reports for an adapter whose timer went from `before` to `after`.
LowLatencyResult latency(const AdapterIdentity& id, std::optional<int> before, std::optional<int> after) {
    LowLatencyResult r;
    r.flag = LowLatencyResult::Flag::Set;
    r.lines.push_back("Low-latency mode switched on in the driver");
    r.timerBeforeMs = before;
    r.timerAfterMs = after;
    r.timerWritten = before && after && *before != *after;
    if (after) {
        r.lines.push_back(latencyText(*after));
        if (*after > kLatencyAdviceAboveMs) {
            r.advice = latencyAdvice(id, *after);
        }
    }
    return r;
}

struct ReportCase {
    const char* name;
    std::function<PortReport()> make;
    bool opened;
    std::string status;
    std::vector<std::string> mustSay; // somewhere in the identity, line, advice, warnings or error
    std::vector<std::string> mustNotSay;
    std::string ringWarning; // a part of it; empty: no warning at all
};

std::string everything(const PortReport& r) {
    std::string all;
    for (const auto* lines : {&r.identity, &r.line, &r.advice, &r.warnings}) {
        for (const std::string& l : *lines) {
            all += l + "\n";
        }
    }
    return all + r.error;
}

const ReportCase kReportCases[] = {
    {"FtdiBroughtDownToOneMillisecond",
     [] {
         const AdapterIdentity id = usbAdapter("ftdi_sio", 16, true);
         return makePortReport("/dev/ttyUSB0", id, opened(250000), latency(id, 16, 1));
     },
     true,
     "FTDI A50285BI: latency 1 ms, 250000 baud exact",
     {"USB adapter /dev/ttyUSB0: FTDI (driver ftdi_sio), USB id 0403:6001, \"FTDI FT232R USB UART\"",
      "USB serial number A50285BI", "Latency timer 1 ms: received bytes reach the tool within 1 ms",
      "The latency timer was 16 ms before the tool opened the adapter",
      "Line rate: 250000 baud exact, the rate the balancers use"},
     {"Latency timer 16 ms", "sudo tee"},
     ""},
    {"FtdiWhoseTimerThisUserMayNotSet",
     [] {
         const AdapterIdentity id = usbAdapter("ftdi_sio", 16, false);
         return makePortReport("/dev/ttyUSB0", id, opened(250000), latency(id, 16, 16));
     },
     true,
     "FTDI A50285BI: latency 16 ms (slow), 250000 baud exact",
     {"Latency timer 16 ms: received bytes wait up to 16 ms in the adapter",
      "echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer",
      "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"",
      "sudo udevadm control --reload-rules"},
     {"was 16 ms"},
     "holds received bytes up to 16 ms"},
    {"Ch340WithoutTimerNorSerial",
     [] {
         const AdapterIdentity id = usbAdapter("ch341", std::nullopt, false);
         return makePortReport("/dev/ttyUSB0", id, opened(250000), latency(id, std::nullopt, std::nullopt));
     },
     true,
     "CH340/CH341: 250000 baud exact",
     {"CH340/CH341", "No USB serial number", "No latency timer: the driver ch341 has no such setting"},
     {"sudo tee"},
     ""},
    {"RateSlightlyOffIsTolerated",
     [] {
         const AdapterIdentity id = usbAdapter("ch341", std::nullopt, false);
         return makePortReport("/dev/ttyUSB0", id, opened(246000), std::nullopt);
     },
     true,
     "CH340/CH341: 246000 baud",
     {"the real rate 246000 baud, error -1.60 %", "within what the balancers tolerate (2 %)"},
     {"garbled"},
     ""},
    {"RateTooFarOffWarnsTheRingPages",
     [] {
         const AdapterIdentity id = usbAdapter("ftdi_sio", 1, true);
         return makePortReport("/dev/ttyUSB0", id, opened(256000), latency(id, 1, 1));
     },
     true,
     "FTDI A50285BI: latency 1 ms, 256000 baud",
     {"the real rate 256000 baud, error +2.40 %", "the bus will see garbled bytes"},
     {"tolerate"},
     "more than 2 % off 250000"},
    {"PseudoTerminalSaysSoAndNothingMore",
     [] { return makePortReport("/tmp/port", pseudoTerminal(), opened(250000), std::nullopt); },
     true,
     "Pseudo-terminal, not a USB adapter",
     {"/dev/pts/7 is a pseudo-terminal, not a USB adapter."},
     {"Line rate", "atency", "baud"},
     ""},
    {"NoPermissionNamesTheGroupAndTheLogin",
     [] {
         OpenError e;
         e.failure = OpenFailure::NoPermission;
         e.group = "dialout";
         e.groupMayOpen = true;
         return makePortReport("/dev/ttyUSB0", usbAdapter("ftdi_sio", 16, false), failed(e), std::nullopt);
     },
     false,
     "No permission for the port",
     {"No permission to open /dev/ttyUSB0: it belongs to the group dialout",
      "sudo adduser $USER dialout, then log out and in again", "USB adapter /dev/ttyUSB0: FTDI"},
     {"Line rate"},
     ""},
    {"BusyNamesTheProcess",
     [] {
         OpenError e;
         e.failure = OpenFailure::Busy;
         e.holders = {{4242, "minicom"}};
         return makePortReport("/dev/ttyUSB0", usbAdapter("ftdi_sio", 16, false), failed(e), std::nullopt);
     },
     false,
     "Port in use by another program",
     {"/dev/ttyUSB0 is in use by process 4242 (minicom): close that program"},
     {},
     ""},
    {"ALockFileThatCannotBeWrittenIsSaidButTheLineOpens",
     [] {
         OpenOutcome o = opened(250000);
         o.warnings.push_back(lockWarningText("/run/lock/LCK..pts_7", 13));
         return makePortReport("/tmp/port", pseudoTerminal(), o, std::nullopt);
     },
     true,
     "Pseudo-terminal, not a USB adapter",
     {"The lock file /run/lock/LCK..pts_7 cannot be written (Permission denied): the port is open without "
      "it"},
     {},
     ""},
};

class Report : public testing::TestWithParam<ReportCase> {};

TEST_P(Report, SaysWhatATechnicianNeeds) {
    const ReportCase& c = GetParam();
    const PortReport r = c.make();
    EXPECT_EQ(r.opened, c.opened);
    EXPECT_EQ(r.error.empty(), c.opened);
    EXPECT_EQ(r.statusText, c.status);
    const std::string all = everything(r);
    for (const std::string& s : c.mustSay) {
        EXPECT_NE(all.find(s), std::string::npos) << "missing: " << s << "\nin:\n" << all;
    }
    for (const std::string& s : c.mustNotSay) {
        EXPECT_EQ(all.find(s), std::string::npos) << "should not say: " << s << "\nin:\n" << all;
    }
    if (c.ringWarning.empty()) {
        EXPECT_EQ(r.ringWarning, "");
    } else {
        EXPECT_NE(r.ringWarning.find(c.ringWarning), std::string::npos) << r.ringWarning;
    }
}

INSTANTIATE_TEST_SUITE_P(Situations, Report, testing::ValuesIn(kReportCases),
                         [](const testing::TestParamInfo<ReportCase>& p) {
                             return std::string(p.param.name);
                         });

} // namespace
} // namespace zanst::adapter
