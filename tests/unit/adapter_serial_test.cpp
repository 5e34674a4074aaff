// The serial port as a plain descriptor, on pseudo-terminals: opening, raw bytes both ways, the
// rate read back, exclusive use through lock files and other holders, and every opening error in
// words.

#include "adapter/line.hpp"
#include "adapter/open_error.hpp"
#include "adapter/port_access.hpp"
#include "adapter/serial_device.hpp"
#include "support/pty.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace zanst::adapter {
namespace {

using bus::Bytes;
using std::chrono::milliseconds;
using test::Pty;
using test::TempDir;

// Reads from the device until `count` bytes came or the time is up.
Bytes readDevice(SerialDevice& dev, std::size_t count, milliseconds timeout) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buf[512];
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
        const std::ptrdiff_t n = dev.read(buf);
        if (n < 0) {
            break;
        }
        out.insert(out.end(), buf, buf + n);
        if (n == 0) {
            ::usleep(1000);
        }
    }
    return out;
}

class SerialOnPty : public testing::Test {
  protected:
    SerialOptions options() const {
        SerialOptions o;
        o.lockDir = locks.path();
        o.procRoot = "/proc";
        return o;
    }
    std::string lockFor(const std::string& device) const { return lockFilePath(locks.path(), device); }

    TempDir locks;
    Pty pty;
};

TEST_F(SerialOnPty, OpensRawAt250000BaudAndCarriesEveryByteBothWays) {
    SerialDevice dev(options());
    const OpenOutcome r = dev.open(pty.slavePath());
    ASSERT_TRUE(r.ok()) << r.text;
    EXPECT_TRUE(dev.isOpen());
    EXPECT_FALSE(r.modemLinesSet) << "a pseudo-terminal has no DTR or RTS, and opens all the same";
    EXPECT_TRUE(r.warnings.empty());
    ASSERT_TRUE(r.baud.ok) << r.baud.error;
    EXPECT_EQ(r.baud.outputBaud, 250000U);
    EXPECT_EQ(r.baud.inputBaud, 250000U);
    EXPECT_EQ(baudText(kBusBaud, r.baud), "250000 baud exact");

    // Bytes a cooked line would eat or change: CR, LF, XON, XOFF, Ctrl-C, NUL, 0xFF, DEL.
    const Bytes awkward = {0xAA, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0x00, 0xFF, 0x7F, 0x1A, 0x04, 0xAA};
    pty.write(awkward);
    EXPECT_EQ(readDevice(dev, awkward.size(), milliseconds(2000)), awkward);
    ASSERT_TRUE(dev.write(awkward));
    EXPECT_EQ(pty.read(awkward.size(), milliseconds(2000)), awkward);

    // A write larger than the terminal's buffer waits for room instead of losing bytes.
    Bytes big(20000);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i * 7);
    }
    Bytes back;
    std::thread reader([&] { back = pty.read(big.size(), milliseconds(5000)); });
    EXPECT_TRUE(dev.write(big)) << dev.lastError();
    reader.join();
    EXPECT_EQ(back, big);
}

TEST_F(SerialOnPty, ThroughALinkTheLockFileIsNamedForTheDeviceAndGoesWithTheClose) {
    TempDir dir;
    const std::string link = dir / "port";
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
    SerialDevice dev(options());
    ASSERT_TRUE(dev.open(link).ok());
    EXPECT_EQ(dev.path(), link);
    EXPECT_EQ(dev.devicePath(), pty.slavePath());
    const std::string lock = lockFor(pty.slavePath());
    EXPECT_EQ(lock, locks.path() + "/LCK.." + pty.slavePath().substr(5).replace(3, 1, "_"));
    EXPECT_EQ(lockFilePid(test::readFile(lock)), static_cast<int>(::getpid()));

    // A second opener in this process is refused by the lock file.
    SerialDevice second(options());
    const OpenOutcome r = second.open(link);
    EXPECT_EQ(r.error.failure, OpenFailure::Busy);
    EXPECT_EQ(r.error.lockPid, static_cast<int>(::getpid()));

    dev.close();
    EXPECT_FALSE(std::filesystem::exists(lock));
    EXPECT_TRUE(second.open(link).ok()) << "free again after the close";
}

TEST_F(SerialOnPty, TheRateReadBackIsWhatTheDriverHolds) {
    // Any rate, not only the bus's: the read-back reports what was set, it does not repeat a constant.
    for (const std::uint32_t baud : {9600U, 115200U, 250000U, 1000000U}) {
        SCOPED_TRACE(baud);
        SerialOptions o = options();
        o.baud = baud;
        SerialDevice dev(o);
        const OpenOutcome r = dev.open(pty.slavePath());
        ASSERT_TRUE(r.ok()) << r.text;
        EXPECT_EQ(r.baud.outputBaud, baud);
        EXPECT_EQ(readBaud(dev.fd()).outputBaud, baud);
    }
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const BaudReadback none = readBaud(fds[0]);
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(baudText(kBusBaud, none).rfind("Line rate unknown: the driver does not tell its rate: ", 0), 0U)
        << baudText(kBusBaud, none);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST_F(SerialOnPty, TheFarSideClosingIsALostPort) {
    SerialDevice dev(options());
    ASSERT_TRUE(dev.open(pty.slavePath()).ok());
    pty.closeSlave();
    pty.closeMaster();
    std::uint8_t buf[16];
    EXPECT_EQ(dev.read(buf), -1);
    EXPECT_FALSE(dev.lastError().empty());
}

// ---- what keeps a port from opening, with the real calls where this machine can produce them ----

int deadPid() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST_F(SerialOnPty, LockFilesOfOtherProgramsAreHonouredOrReplacedWhenStale) {
    const std::string lock = lockFor(pty.slavePath());
    const int parent = static_cast<int>(::getppid());

    // Held by a live process: refused, naming it.
    std::ofstream(lock) << "  " << parent << "\nother\nhost\n";
    SerialDevice dev(options());
    OpenOutcome r = dev.open(pty.slavePath());
    EXPECT_EQ(r.error.failure, OpenFailure::Busy);
    EXPECT_EQ(r.error.lockPid, parent);
    EXPECT_EQ(r.text, pty.slavePath() + " is in use: the lock file " + lock + " names process " +
                          std::to_string(parent) + " (" + processName(parent, "/proc") +
                          "). Close that program, then choose the port again.");
    EXPECT_FALSE(dev.isOpen());
    EXPECT_TRUE(std::filesystem::exists(lock)) << "another program's lock is left alone";

    // Naming no process: refused, with the way out.
    std::ofstream(lock, std::ios::trunc) << "garbage\n";
    r = dev.open(pty.slavePath());
    EXPECT_EQ(r.error.failure, OpenFailure::Busy);
    EXPECT_NE(r.text.find("which names no process. If no program uses the port, remove it (sudo rm " + lock),
              std::string::npos)
        << r.text;

    // Left by a process that is gone: replaced.
    std::ofstream(lock, std::ios::trunc) << deadPid() << "\n";
    r = dev.open(pty.slavePath());
    ASSERT_TRUE(r.ok()) << r.text;
    EXPECT_EQ(lockFilePid(test::readFile(lock)), static_cast<int>(::getpid()));
}

TEST_F(SerialOnPty, ALockFolderThatCannotBeWrittenIsAWarningNotAFailure) {
    SerialOptions o = options();
    o.lockDir = locks.path() + "/missing";
    SerialDevice dev(o);
    const OpenOutcome r = dev.open(pty.slavePath());
    ASSERT_TRUE(r.ok()) << r.text;
    ASSERT_EQ(r.warnings.size(), 1U);
    EXPECT_EQ(r.warnings[0],
              "The lock file " + lockFilePath(o.lockDir, pty.slavePath()) +
                  " cannot be written (No such file or directory): the port is open without it, "
                  "so programs that look for lock files do not see that the tool uses it.");
}

TEST_F(SerialOnPty, AnotherProcessHoldingThePortIsNamed) {
    TempDir proc;
    std::filesystem::create_directories(proc.path() + "/4242/fd");
    std::filesystem::create_directories(proc.path() + "/77/fd");
    std::filesystem::create_directories(proc.path() + "/self/fd");
    std::ofstream(proc / "4242/comm") << "minicom\n";
    std::ofstream(proc / "77/comm") << "bash\n";
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), (proc / "4242/fd/3").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", (proc / "77/fd/0").c_str()), 0);
    const std::string mine = proc / std::to_string(::getpid());
    std::filesystem::create_directories(mine + "/fd");
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), (mine + "/fd/9").c_str()), 0);

    const std::vector<Holder> holders = processesHolding(pty.slavePath(), proc.path(), ::getpid());
    ASSERT_EQ(holders.size(), 1U) << "only 4242: 77 holds another file, and our own process does not count";
    EXPECT_EQ(holders[0].pid, 4242);
    EXPECT_EQ(holders[0].name, "minicom");

    SerialOptions o = options();
    o.procRoot = proc.path();
    SerialDevice dev(o);
    const OpenOutcome r = dev.open(pty.slavePath());
    EXPECT_EQ(r.error.failure, OpenFailure::Busy);
    EXPECT_EQ(r.text, pty.slavePath() +
                          " is in use by process 4242 (minicom): close that program, then choose "
                          "the port again.");
    EXPECT_FALSE(dev.isOpen());
    EXPECT_FALSE(std::filesystem::exists(lockFor(pty.slavePath()))) << "a refused open leaves no lock behind";
}

TEST(SerialOpen, AbsentDevicesAndFilesThatAreNoPortsAreRefusedInWords) {
    TempDir dir;
    const std::string dangling = dir / "by-id-link";
    ASSERT_EQ(::symlink((dir / "gone").c_str(), dangling.c_str()), 0);
    const std::string plain = dir / "file";
    std::ofstream(plain) << "not a port";
    SerialOptions o;
    o.lockDir = dir.path();
    struct Row {
        std::string path;
        OpenFailure failure;
        std::string text;
    };
    const Row rows[] = {
        {dir / "ttyUSB9", OpenFailure::NotFound,
         dir / "ttyUSB9" +
             " does not exist: the adapter is not plugged in, or it came back under another name (ls "
             "/dev/serial/by-id lists the adapters)."},
        {dangling, OpenFailure::NotFound,
         dangling + " does not exist: the adapter is not plugged in, or it came back under another name (ls "
                    "/dev/serial/by-id lists the adapters)."},
        {plain, OpenFailure::NotASerialPort, plain + " is not a serial port."},
        {"/dev/null", OpenFailure::NotASerialPort, "/dev/null is not a serial port."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        SerialDevice dev(o);
        const OpenOutcome r = dev.open(row.path);
        EXPECT_EQ(r.error.failure, row.failure);
        EXPECT_EQ(r.text, row.text);
        EXPECT_FALSE(dev.isOpen());
        EXPECT_FALSE(dev.write(Bytes{1}));
        EXPECT_EQ(dev.lastError(), "the port is closed");
    }
}

// ---- the texts, for failures this machine cannot produce (permissions as root) ----

TEST(OpenErrorText, EveryFailureSaysWhatToDo) {
    const auto with = [](OpenFailure f, auto&& set) {
        OpenError e;
        e.failure = f;
        e.path = "/dev/ttyUSB0";
        set(e);
        return e;
    };
    const auto nothing = [](OpenError&) {};
    struct Row {
        const char* name;
        OpenError error;
        std::string text;
    };
    const Row rows[] = {
        {"none", with(OpenFailure::None, nothing), ""},
        {"absent", with(OpenFailure::NotFound, nothing),
         "/dev/ttyUSB0 does not exist: the adapter is not plugged in, or it came back under another name (ls "
         "/dev/serial/by-id lists the adapters)."},
        {"not in the group",
         with(OpenFailure::NoPermission,
              [](OpenError& e) {
                  e.group = "dialout";
                  e.groupMayOpen = true;
              }),
         "No permission to open /dev/ttyUSB0: it belongs to the group dialout, and this user is not in it. "
         "Run: "
         "sudo adduser $USER dialout, then log out and in again."},
        {"another group",
         with(OpenFailure::NoPermission,
              [](OpenError& e) {
                  e.group = "uucp";
                  e.groupMayOpen = true;
              }),
         "No permission to open /dev/ttyUSB0: it belongs to the group uucp, and this user is not in it. Run: "
         "sudo adduser $USER uucp, then log out and in again."},
        {"joined after login",
         with(OpenFailure::NoPermission,
              [](OpenError& e) {
                  e.group = "dialout";
                  e.groupMayOpen = true;
                  e.joinedAfterLogin = true;
              }),
         "No permission to open /dev/ttyUSB0: it belongs to the group dialout, which this user joined after "
         "logging in. Log out and in again."},
        {"owner only", with(OpenFailure::NoPermission, [](OpenError& e) { e.group = "root"; }),
         "No permission to open /dev/ttyUSB0: only its owner may use it. Ask the administrator to give it to "
         "the "
         "dialout group."},
        {"one holder",
         with(OpenFailure::Busy,
              [](OpenError& e) {
                  e.holders = {{812, "minicom"}};
              }),
         "/dev/ttyUSB0 is in use by process 812 (minicom): close that program, then choose the port again."},
        {"two holders",
         with(OpenFailure::Busy,
              [](OpenError& e) {
                  e.holders = {{812, "minicom"}, {9001, ""}};
              }),
         "/dev/ttyUSB0 is in use by processes 812 (minicom), 9001: close that program, then choose the port "
         "again."},
        {"lock file",
         with(OpenFailure::Busy,
              [](OpenError& e) {
                  e.lockPath = "/run/lock/LCK..ttyUSB0";
                  e.lockPid = 4711;
                  e.lockOwnerName = "cu";
              }),
         "/dev/ttyUSB0 is in use: the lock file /run/lock/LCK..ttyUSB0 names process 4711 (cu). Close that "
         "program, then choose the port again."},
        {"lock without pid",
         with(OpenFailure::Busy, [](OpenError& e) { e.lockPath = "/run/lock/LCK..ttyUSB0"; }),
         "/dev/ttyUSB0 is marked as in use by the lock file /run/lock/LCK..ttyUSB0, which names no process. "
         "If no "
         "program uses the port, remove it (sudo rm /run/lock/LCK..ttyUSB0) and choose the port again."},
        {"busy, nobody seen", with(OpenFailure::Busy, nothing),
         "/dev/ttyUSB0 is in use by another program (the system does not tell which): close it, then choose "
         "the "
         "port again."},
        {"no port", with(OpenFailure::NotASerialPort, nothing), "/dev/ttyUSB0 is not a serial port."},
        {"line",
         with(OpenFailure::LineRefused,
              [](OpenError& e) { e.detail = "the driver refused the line settings: Invalid argument"; }),
         "/dev/ttyUSB0 refused the bus's line settings (250000 baud, 8 data bits, no parity, 1 stop bit): "
         "the "
         "driver refused the line settings: Invalid argument."},
        {"other", with(OpenFailure::Other, [](OpenError& e) { e.errorNumber = EIO; }),
         "Cannot open /dev/ttyUSB0: Input/output error."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(openErrorText(row.error), row.text);
    }
}

TEST(LockFiles, NamesAndContentsAsOtherProgramsWriteThem) {
    EXPECT_EQ(lockFilePath("/run/lock", "/dev/ttyUSB0"), "/run/lock/LCK..ttyUSB0");
    EXPECT_EQ(lockFilePath("/run/lock", "/dev/pts/3"), "/run/lock/LCK..pts_3");
    EXPECT_EQ(lockFilePath("/var/lock", "/dev/serial/by-id/x"), "/var/lock/LCK..serial_by-id_x");
    EXPECT_EQ(lockFilePath("/var/lock", "/tmp/sim/port"), "/var/lock/LCK..port");

    std::string binary(4, '\0');
    const std::int32_t pid = 31337;
    std::memcpy(binary.data(), &pid, sizeof pid);
    const std::pair<std::string, std::optional<int>> rows[] = {
        {"      1234\n", 1234},        // HDB style, as minicom and cu write it
        {"1234\nzanst\nhost\n", 1234}, // pid, program and host on their own lines
        {binary, 31337},               // the old binary form
        {"", std::nullopt},
        {"abc\n", std::nullopt},
        {"0\n", std::nullopt},
        {"-5\n", std::nullopt},
    };
    for (const auto& [contents, expected] : rows) {
        SCOPED_TRACE(testing::PrintToString(contents));
        EXPECT_EQ(lockFilePid(contents), expected);
    }
}

TEST(BaudText, ExactOrTheRealRateWithItsError) {
    const auto back = [](std::uint32_t out, std::uint32_t in) {
        BaudReadback b;
        b.ok = true;
        b.outputBaud = out;
        b.inputBaud = in;
        return b;
    };
    const std::pair<BaudReadback, std::string> rows[] = {
        {back(250000, 250000), "250000 baud exact"},
        {back(250000, 0), "250000 baud exact"},
        {back(250312, 250312), "the real rate 250312 baud, error +0.12 %"},
        {back(245000, 245000), "the real rate 245000 baud, error -2.00 %"},
        {back(240000, 240000),
         "the real rate 240000 baud, error -4.00 %: more than 2 % off, the bus will see garbled bytes"},
        {back(250000, 230400),
         "250000 baud exact; receiving at 230400 baud: more than 2 % off, the bus will see garbled bytes"},
    };
    for (const auto& [readback, text] : rows) {
        EXPECT_EQ(baudText(kBusBaud, readback), text);
    }
    EXPECT_DOUBLE_EQ(baudErrorPercent(250000, 256000), 2.4);
    EXPECT_DOUBLE_EQ(baudErrorPercent(0, 9600), 0.0) << "no division by zero";
}

} // namespace
} // namespace zanst::adapter
