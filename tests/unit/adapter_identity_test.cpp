// What stands behind a port, from fake sysfs trees laid out as the kernel lays them out, and the
// request for low latency on a pseudo-terminal whose identity says it is an FTDI adapter.

#include "adapter/identity.hpp"
#include "adapter/low_latency.hpp"
#include "support/fake_sysfs.hpp"
#include "support/pty.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <unistd.h>

namespace zanst::adapter {
namespace {

using test::FakeSysfs;
using test::FakeUsbSerial;

FakeUsbSerial ftdi(int latency) {
    FakeUsbSerial a;
    a.latencyMs = latency;
    return a;
}

FakeUsbSerial ch340() {
    FakeUsbSerial a;
    a.driver = "ch341";
    a.vendor = "1a86";
    a.product = "7523";
    a.manufacturerText = "";
    a.productText = "USB Serial";
    a.serialText = "";
    a.latencyMs.reset();
    a.usbName = "1-3";
    return a;
}

FakeUsbSerial cp210x() {
    FakeUsbSerial a;
    a.tty = "ttyUSB1";
    a.driver = "cp210x";
    a.vendor = "10c4";
    a.product = "ea60";
    a.manufacturerText = "Silicon Labs";
    a.productText = "CP2102 USB to UART Bridge Controller";
    a.serialText = "0001";
    a.latencyMs.reset();
    a.usbName = "1-4";
    return a;
}

FakeUsbSerial acm() {
    FakeUsbSerial a;
    a.tty = "ttyACM0";
    a.driver = "cdc_acm";
    a.vendor = "2e8a";
    a.product = "000a";
    a.manufacturerText = "Raspberry Pi";
    a.productText = "Pico";
    a.serialText = "E660583883724A2C";
    a.latencyMs.reset();
    a.acm = true;
    a.usbName = "3-1";
    return a;
}

struct IdentityCase {
    const char* name;
    std::function<std::string(FakeSysfs&)> plug; // builds the tree, returns the port path to look up
    PortKind kind;
    const char* driver;
    const char* chip;
    std::uint16_t vendor;
    std::uint16_t product;
    const char* serial;
    std::optional<int> latency;
    bool latencyWritable;
    std::vector<const char*> lines; // each must appear in the line of the same index
};

class Identity : public testing::TestWithParam<IdentityCase> {};

TEST_P(Identity, TellsWhatIsBehindThePort) {
    const IdentityCase& c = GetParam();
    FakeSysfs sys;
    const std::string port = c.plug(sys);
    const AdapterIdentity id = identify(port, sys.root());
    EXPECT_EQ(id.kind, c.kind);
    EXPECT_EQ(id.driver, c.driver);
    EXPECT_EQ(id.chipName(), c.chip);
    EXPECT_EQ(id.latencyTimerMs, c.latency);
    EXPECT_EQ(id.latencyWritable, c.latencyWritable);
    if (c.kind == PortKind::UsbAdapter) {
        ASSERT_TRUE(id.usb);
        EXPECT_EQ(id.usb->vendorId, c.vendor);
        EXPECT_EQ(id.usb->productId, c.product);
        EXPECT_EQ(id.usb->serial, c.serial);
    } else {
        EXPECT_FALSE(id.usb);
    }
    const std::vector<std::string> lines = id.describe();
    ASSERT_EQ(lines.size(), c.lines.size()) << testing::PrintToString(lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_NE(lines[i].find(c.lines[i]), std::string::npos) << lines[i] << "\nwanted: " << c.lines[i];
    }
}

const IdentityCase kIdentityCases[] = {
    {"Ftdi16ms",
     [](FakeSysfs& s) { return s.addUsb(ftdi(16)); },
     PortKind::UsbAdapter,
     "ftdi_sio",
     "FTDI",
     0x0403,
     0x6001,
     "A50285BI",
     16,
     true,
     {": FTDI (driver ftdi_sio), USB id 0403:6001, \"FTDI FT232R USB UART\"",
      "USB serial number A50285BI: recognised again after a replug",
      "Latency timer 16 ms: received bytes wait up to 16 ms in the adapter; the ring waits for the tool's "
      "echo "
      "that long"}},
    {"Ftdi1ms",
     [](FakeSysfs& s) { return s.addUsb(ftdi(1)); },
     PortKind::UsbAdapter,
     "ftdi_sio",
     "FTDI",
     0x0403,
     0x6001,
     "A50285BI",
     1,
     true,
     {"FTDI", "A50285BI", "Latency timer 1 ms: received bytes reach the tool within 1 ms"}},
    {"FtdiReadOnlyTimer",
     [](FakeSysfs& s) {
         FakeUsbSerial a = ftdi(16);
         a.latencyReadOnly = true;
         return s.addUsb(a);
     },
     PortKind::UsbAdapter,
     "ftdi_sio",
     "FTDI",
     0x0403,
     0x6001,
     "A50285BI",
     16,
     false,
     {"FTDI", "A50285BI",
      "Latency timer 16 ms: received bytes wait up to 16 ms in the adapter; the ring waits for the tool's "
      "echo "
      "that long (this user may not change it)"}},
    {"Ch340WithoutTimerOrSerial",
     [](FakeSysfs& s) { return s.addUsb(ch340()); },
     PortKind::UsbAdapter,
     "ch341",
     "CH340/CH341",
     0x1a86,
     0x7523,
     "",
     std::nullopt,
     false,
     {": CH340/CH341 (driver ch341), USB id 1a86:7523, \"USB Serial\"",
      "No USB serial number: after a replug it is known again only by its port name",
      "No latency timer: the driver ch341 has no such setting"}},
    {"Cp210x",
     [](FakeSysfs& s) { return s.addUsb(cp210x()); },
     PortKind::UsbAdapter,
     "cp210x",
     "CP210x",
     0x10c4,
     0xea60,
     "0001",
     std::nullopt,
     false,
     {"CP210x (driver cp210x), USB id 10c4:ea60, \"Silicon Labs CP2102 USB to UART Bridge Controller\"",
      "USB serial number 0001", "No latency timer: the driver cp210x"}},
    {"CdcAcmOnTheInterface",
     [](FakeSysfs& s) { return s.addUsb(acm()); },
     PortKind::UsbAdapter,
     "cdc_acm",
     "CDC ACM",
     0x2e8a,
     0x000a,
     "E660583883724A2C",
     std::nullopt,
     false,
     {"CDC ACM (driver cdc_acm), USB id 2e8a:000a", "E660583883724A2C",
      "No latency timer: the driver cdc_acm"}},
    {"BuiltInUart",
     [](FakeSysfs& s) { return s.addUart("ttyS0", "serial8250"); },
     PortKind::BuiltInUart,
     "serial8250",
     "",
     0,
     0,
     "",
     std::nullopt,
     false,
     {"/ttyS0 is a serial port of this computer (driver serial8250), not a USB adapter."}},
    {"BuiltInUartBehindTheSerialCore",
     [](FakeSysfs& s) { return s.addUartBehindSerialBase("ttyS1"); },
     PortKind::BuiltInUart,
     "serial",
     "",
     0,
     0,
     "",
     std::nullopt,
     false,
     {"/ttyS1 is a serial port of this computer (driver serial), not a USB adapter."}},
    {"VirtualConsole",
     [](FakeSysfs& s) { return s.addVirtual("tty1"); },
     PortKind::NotSerial,
     "",
     "",
     0,
     0,
     "",
     std::nullopt,
     false,
     {"/tty1 is not a serial device that the system knows."}},
    {"NoSuchPort",
     [](FakeSysfs& s) { return s.dev() + "/ttyUSB7"; },
     PortKind::NotSerial,
     "",
     "",
     0,
     0,
     "",
     std::nullopt,
     false,
     {"/ttyUSB7 is not a serial device that the system knows."}},
};

INSTANTIATE_TEST_SUITE_P(Trees, Identity, testing::ValuesIn(kIdentityCases),
                         [](const testing::TestParamInfo<IdentityCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(Identity, FollowsLinksToTheDeviceName) {
    FakeSysfs sys;
    const std::string byId = sys.addUsb(ftdi(16));
    const AdapterIdentity id = identify(byId, sys.root());
    EXPECT_EQ(id.portPath, byId);
    EXPECT_EQ(id.devicePath, sys.devicePath("ttyUSB0"));
    EXPECT_EQ(id.ttyName, "ttyUSB0");
    EXPECT_EQ(id.usb->sysfsName, "1-2");
    EXPECT_EQ(id.latencyPath, sys.latencyFile(ftdi(16)));
}

TEST(Identity, APseudoTerminalBehindALinkSaysSoAndNothingMore) {
    test::Pty pty;
    test::TempDir dir;
    const std::string link = dir / "port";
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
    FakeSysfs sys;
    const AdapterIdentity id = identify(link, sys.root());
    EXPECT_EQ(id.kind, PortKind::PseudoTerminal);
    EXPECT_EQ(id.devicePath, pty.slavePath());
    EXPECT_FALSE(id.usb);
    EXPECT_FALSE(id.latencyTimerMs);
    EXPECT_EQ(id.describe(),
              std::vector<std::string>{pty.slavePath() + " is a pseudo-terminal, not a USB adapter."});
}

TEST(Identity, TheDeviceNumberFindsTheAdapterWhateverTheNodeIsCalled) {
    // The tree's /sys/dev/char entry for the pseudo-terminal's number is the FTDI adapter's tty, as
    // the kernel's entry for a real adapter's number is: the node's name plays no part.
    test::Pty pty;
    FakeSysfs sys;
    sys.addUsb(ftdi(16));
    ASSERT_TRUE(sys.mapDeviceNumber(pty.slavePath(), "ttyUSB0"));
    const AdapterIdentity id = identify(pty.slavePath(), sys.root());
    EXPECT_EQ(id.kind, PortKind::UsbAdapter);
    EXPECT_EQ(id.devicePath, pty.slavePath());
    EXPECT_EQ(id.ttyName, "ttyUSB0");
    EXPECT_EQ(id.driver, "ftdi_sio");
    ASSERT_TRUE(id.usb);
    EXPECT_EQ(id.usb->serial, "A50285BI");
    EXPECT_EQ(id.latencyTimerMs, 16);
    EXPECT_EQ(id.latencyPath, sys.latencyFile(ftdi(16)));
}

TEST(Identity, TheRootComesFromTheEnvironment) {
    const char* old = std::getenv(kSysfsRootVariable);
    const std::string saved = old != nullptr ? old : "";
    ::unsetenv(kSysfsRootVariable);
    EXPECT_EQ(sysfsRoot(), "/sys");
    ::setenv(kSysfsRootVariable, "", 1);
    EXPECT_EQ(sysfsRoot(), "/sys") << "an empty variable is no root";
    ::setenv(kSysfsRootVariable, "/tmp/fake-sys", 1);
    EXPECT_EQ(sysfsRoot(), "/tmp/fake-sys");
    if (old != nullptr) {
        ::setenv(kSysfsRootVariable, saved.c_str(), 1);
    } else {
        ::unsetenv(kSysfsRootVariable);
    }
}

// ---- low latency: the pseudo-terminal has no serial settings, the fake tree has the timer ----

struct LatencyCase {
    const char* name;
    FakeUsbSerial adapter;
    std::optional<int> after; // the timer read back
    std::string fileAfter;    // what the attribute holds afterwards
    bool written;
    bool advice;
};

class LowLatency : public testing::TestWithParam<LatencyCase> {};

TEST_P(LowLatency, AsksForOneMillisecondAndSaysWhatTookEffect) {
    const LatencyCase& c = GetParam();
    FakeSysfs sys;
    const std::string port = sys.addUsb(c.adapter);
    const AdapterIdentity id = identify(port, sys.root());
    test::Pty pty;
    const LowLatencyResult r = requestLowLatency(pty.masterFd(), id);

    EXPECT_EQ(r.flag, LowLatencyResult::Flag::Unsupported) << "a pseudo-terminal has no serial settings";
    EXPECT_EQ(r.timerAfterMs, c.after);
    EXPECT_EQ(r.timerWritten, c.written);
    if (c.adapter.latencyMs) {
        EXPECT_EQ(FakeSysfs::get(sys.latencyFile(c.adapter)), c.fileAfter);
    }
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines[0], "The driver has no low-latency mode");
    EXPECT_EQ(r.slow(), c.advice);
    if (!c.advice) {
        EXPECT_TRUE(r.advice.empty());
        return;
    }
    ASSERT_EQ(r.advice.size(), 5U);
    EXPECT_EQ(r.advice[0],
              "Received bytes wait up to 16 ms in the adapter before the tool sees them, so the ring "
              "waits 16 ms for every echo and a BMS may time out.");
    EXPECT_EQ(r.advice[1], "To set 1 ms until the adapter is unplugged, run: echo 1 | sudo tee "
                           "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer");
    EXPECT_NE(r.advice[2].find("60-zanst-ftdi-latency.rules"), std::string::npos) << r.advice[2];
    EXPECT_NE(r.advice[2].find("/usr/lib/udev/rules.d"), std::string::npos) << r.advice[2];
    EXPECT_EQ(r.advice[3],
              "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"");
    EXPECT_NE(r.lines[1].find("(1 ms could not be set: the attribute is read-only for this user)"),
              std::string::npos)
        << r.lines[1];
}

LatencyCase readOnly() {
    LatencyCase c{"ReadOnlyTimerStaysAndGetsAdvice", ftdi(16), 16, "16", false, true};
    c.adapter.latencyReadOnly = true;
    return c;
}

const LatencyCase kLatencyCases[] = {
    {"WritableTimerIsSetToOne", ftdi(16), 1, "1", true, false},
    {"TimerAtOneIsLeftAlone", ftdi(1), 1, "1", false, false},
    readOnly(),
    {"NoTimerNoAdvice", ch340(), std::nullopt, "", false, false},
};

INSTANTIATE_TEST_SUITE_P(Adapters, LowLatency, testing::ValuesIn(kLatencyCases),
                         [](const testing::TestParamInfo<LatencyCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(LowLatency, AdviceForAnotherDriverNamesItInTheRule) {
    AdapterIdentity id;
    id.ttyName = "ttyUSB3";
    id.driver = "ftdi_other";
    const std::vector<std::string> advice = latencyAdvice(id, 8);
    ASSERT_EQ(advice.size(), 5U);
    EXPECT_NE(advice[0].find("wait up to 8 ms"), std::string::npos);
    EXPECT_NE(advice[1].find("/sys/bus/usb-serial/devices/ttyUSB3/latency_timer"), std::string::npos);
    EXPECT_NE(advice[2].find("/etc/udev/rules.d/60-zanst-ftdi-latency.rules"), std::string::npos)
        << advice[2];
    EXPECT_NE(advice[3].find("DRIVER==\"ftdi_other\""), std::string::npos);
}

} // namespace
} // namespace zanst::adapter
