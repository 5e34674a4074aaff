// The engine's serial port as a plain descriptor on a pseudo-terminal: what it reports about the
// port (with a fake sysfs tree that makes the pseudo-terminal an FTDI adapter), the echo thread of
// "Data Sniffer", and the capture of what it echoed.

#include "capture/capture_file.hpp"
#include "support/engine_fixture.hpp"
#include "support/fake_sysfs.hpp"
#include "support/records.hpp"

#include <QTemporaryDir>

#include <cstdlib>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using adapter::PortReport;
using bus::Bytes;
using bus::Mode;

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines) {
        all += l + "\n";
    }
    return all;
}

class SerialLinkPty : public EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        QObject::connect(
            host.engine()->ports(), &app::PortControl::adapterReported, &context,
            [this](const PortReport& r) { reports.push_back(r); }, Qt::QueuedConnection);
    }
    void TearDown() override { ::unsetenv(adapter::kSysfsRootVariable); }

    // The pseudo-terminal is the FTDI adapter `a` of a fake tree, as the kernel would show it.
    void makeFtdi(const FakeUsbSerial& a) {
        sys.addUsb(a);
        ASSERT_TRUE(sys.mapDeviceNumber(pty.slavePath(), a.tty));
        ::setenv(adapter::kSysfsRootVariable, sys.root().c_str(), 1);
    }
    bool waitForEcho(bool running) {
        return waitUntil([&] { return !reports.empty() && reports.back().echo.empty() != running; });
    }

    FakeSysfs sys;
    std::vector<PortReport> reports;
};

TEST_F(SerialLinkPty, APseudoTerminalIsReportedAsOneAndNothingMore) {
    openPty();
    ASSERT_TRUE(waitUntil([&] { return !reports.empty(); }));
    const PortReport& r = reports.front();
    EXPECT_TRUE(r.opened);
    EXPECT_FALSE(r.usbAdapter);
    EXPECT_EQ(r.path, pty.slavePath());
    EXPECT_EQ(r.identity,
              std::vector<std::string>{pty.slavePath() + " is a pseudo-terminal, not a USB adapter."});
    EXPECT_TRUE(r.line.empty());
    EXPECT_EQ(r.statusText, "Pseudo-terminal, not a USB adapter");
    EXPECT_EQ(r.ringWarning, "");
}

TEST_F(SerialLinkPty, AnFtdiAdapterIsAskedForOneMillisecondAndTheRateIsReadBack) {
    FakeUsbSerial a;
    makeFtdi(a);
    openPty();
    ASSERT_TRUE(waitUntil([&] { return !reports.empty(); }));
    const PortReport& r = reports.front();
    EXPECT_TRUE(r.usbAdapter);
    EXPECT_EQ(FakeSysfs::get(sys.latencyFile(a)), "1") << "low latency by default";
    EXPECT_EQ(r.latencyMs, 1);
    const std::string line = joined(r.line);
    EXPECT_NE(line.find("Latency timer 1 ms"), std::string::npos) << line;
    EXPECT_NE(line.find("was 16 ms"), std::string::npos) << line;
    // What the pseudo-terminal's driver holds after the engine set the line: the rate it asked for.
    EXPECT_NE(line.find("Line rate: 250000 baud exact"), std::string::npos) << line;
    EXPECT_EQ(r.statusText, "FTDI A50285BI: latency 1 ms, 250000 baud exact");
    EXPECT_TRUE(r.advice.empty());
    EXPECT_EQ(r.ringWarning, "");
}

TEST_F(SerialLinkPty, ATimerThatStaysHighGetsTheCommandAndWarnsTheRingPages) {
    FakeUsbSerial a;
    a.latencyReadOnly = true;
    makeFtdi(a);
    openPty();
    ASSERT_TRUE(waitUntil([&] { return !reports.empty(); }));
    const PortReport& r = reports.front();
    EXPECT_EQ(FakeSysfs::get(sys.latencyFile(a)), "16");
    EXPECT_EQ(r.latencyMs, 16);
    EXPECT_NE(joined(r.advice).find("echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer"),
              std::string::npos)
        << joined(r.advice);
    EXPECT_NE(r.ringWarning.find("up to 16 ms"), std::string::npos) << r.ringWarning;
}

TEST_F(SerialLinkPty, APortThatCannotOpenSaysWhyInWords) {
    selectPort(QStringLiteral("/dev/zanst-no-such-adapter"));
    ASSERT_TRUE(waitUntil([&] { return sawStatus(PortStatus::Failed) && !reports.empty(); }));
    EXPECT_FALSE(reports.back().opened);
    EXPECT_NE(reports.back().error.find("/dev/zanst-no-such-adapter does not exist"), std::string::npos)
        << reports.back().error;
    EXPECT_EQ(reports.back().statusText, "Adapter not found");
}

TEST_F(SerialLinkPty, TheEchoThreadRunsExactlyWhileSniffing) {
    openPty();
    selectMode(Mode::Sniffer);
    ASSERT_TRUE(waitForEcho(true));
    EXPECT_EQ(reports.back().echo.rfind("Echo: echo thread at ", 0), 0U) << reports.back().echo;
    const Bytes noise{0x11, 0x22, 0x33, 0x44};
    pty.write(noise);
    EXPECT_EQ(pty.read(noise.size(), 2000ms), noise);

    // "BMS tester" answers frames only: bytes outside a frame get no echo there.
    selectMode(Mode::BmsTester);
    ASSERT_TRUE(waitForEcho(false));
    pty.write(noise);
    EXPECT_TRUE(pty.readFor(300ms).empty());

    // Back in the sniffer, and across a reopening of the port.
    selectMode(Mode::Sniffer);
    ASSERT_TRUE(waitForEcho(true));
    selectPort(QString::fromStdString(pty.slavePath()));
    ASSERT_TRUE(
        waitUntil([&] { return statuses.size() >= 2 && statuses.back().status == PortStatus::Open; }));
    pty.write(noise);
    EXPECT_EQ(pty.read(noise.size(), 2000ms), noise);
}

TEST_F(SerialLinkPty, TheSnifferAndTheCaptureGetEveryEchoedByteWithItsTime) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("echo.zcap"));
    openPty();
    selectMode(Mode::Sniffer);
    ASSERT_TRUE(waitForEcho(true));
    post([file](app::BusEngine& e) { e.startCapture(file); });
    pump(100ms);
    // An enumeration burst of three balancers, sent in pieces as a line delivers it.
    Bytes burst = frame(0x01, Bytes(16, 0), 1);
    for (int i = 1; i <= 3; ++i) {
        InfoFields f;
        f.id = static_cast<std::uint16_t>(i);
        f.following = i < 3 ? 1 : 0;
        const Bytes rec = infoRecord(f);
        burst.insert(burst.end(), rec.begin(), rec.end());
    }
    const auto before = Pty::Clock::now();
    for (std::size_t at = 0; at < burst.size(); at += 7) {
        pty.write(Bytes(burst.begin() + static_cast<long>(at),
                        burst.begin() + static_cast<long>(std::min(at + 7, burst.size()))));
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(pty.read(burst.size(), 2000ms), burst);
    ASSERT_TRUE(waitUntil([&] { return snapshot().numCells == 3; })) << "the sniffer parsed the burst";
    const auto elapsedUs = std::chrono::duration_cast<std::chrono::microseconds>(Pty::Clock::now() - before);
    post([](app::BusEngine& e) { e.stopCapture(); });
    pump(300ms);

    const capture::Capture c = capture::readCaptureFile(file.toStdString());
    Bytes received;
    Bytes sent;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    for (const capture::Record& r : c.records) {
        const auto bytes = c.bytes(r);
        if (r.kind == capture::RecordKind::Received) {
            first = received.empty() ? r.timeUs : first;
            last = r.timeUs;
            received.insert(received.end(), bytes.begin(), bytes.end());
        } else if (r.kind == capture::RecordKind::Sent) {
            sent.insert(sent.end(), bytes.begin(), bytes.end());
        }
    }
    EXPECT_EQ(received, burst);
    EXPECT_EQ(sent, burst) << "the echo is recorded as sent";
    // The pieces were written over some 20 ms: their times spread the same, not one time for all.
    EXPECT_GE(last - first, 10'000U);
    EXPECT_LE(last - first, static_cast<std::uint64_t>(elapsedUs.count()));
}

TEST_F(SerialLinkPty, AnAdapterThatGoesAwayWhileSniffingIsALostConnection) {
    openPty();
    selectMode(Mode::Sniffer);
    ASSERT_TRUE(waitForEcho(true));
    pty.closeSlave();
    pty.closeMaster();
    ASSERT_TRUE(waitUntil([&] { return sawStatus(PortStatus::Lost); }));
    bool open = true;
    host.runBlocking([&] { open = host.engine()->ports()->source().isOpen(); });
    EXPECT_FALSE(open);
    EXPECT_TRUE(waitUntil([&] {
        bool running = true;
        host.runBlocking([&] { running = host.engine()->ports()->snifferEchoRunning(); });
        return !running;
    }));
}

} // namespace
} // namespace zanst::test
