// Adapters coming and going: the port lists before and after, and the lost adapter recognised when
// it comes back.

#include "adapter/presence.hpp"
#include "support/pty.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

namespace zanst::adapter {
namespace {

PortEntry usb(const std::string& path, std::uint16_t vid, std::uint16_t pid, const std::string& serial) {
    PortEntry e;
    e.path = path;
    e.identity.kind = PortKind::UsbAdapter;
    e.identity.usb = UsbIdentity{vid, pid, "", "", serial, ""};
    return e;
}

PortEntry plain(const std::string& path) {
    PortEntry e;
    e.path = path;
    e.identity.kind = PortKind::PseudoTerminal;
    return e;
}

std::vector<std::string> paths(const std::vector<PortEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) {
        out.push_back(e.path);
    }
    return out;
}

TEST(Presence, TellsWhichPortsAppearedAndWhichWent) {
    const PortEntry ftdiA = usb("/dev/ttyUSB0", 0x0403, 0x6001, "A50285BI");
    const PortEntry ftdiB = usb("/dev/ttyUSB0", 0x0403, 0x6001, "FT9XYZ12");
    const PortEntry ch340 = usb("/dev/ttyUSB1", 0x1a86, 0x7523, "");
    const PortEntry ch340Moved = usb("/dev/ttyUSB2", 0x1a86, 0x7523, "");
    const PortEntry pts = plain("/tmp/zanst-sim");
    struct Row {
        const char* name;
        std::vector<PortEntry> before, now;
        std::vector<std::string> appeared, went;
    };
    const Row rows[] = {
        {"nothing changed", {ftdiA, ch340, pts}, {pts, ftdiA, ch340}, {}, {}},
        {"plugged in", {pts}, {pts, ftdiA}, {"/dev/ttyUSB0"}, {}},
        {"unplugged", {ftdiA, ch340}, {ch340}, {}, {"/dev/ttyUSB0"}},
        {"another adapter on the same name", {ftdiA}, {ftdiB}, {"/dev/ttyUSB0"}, {"/dev/ttyUSB0"}},
        {"moved to another name", {ch340}, {ch340Moved}, {"/dev/ttyUSB2"}, {"/dev/ttyUSB1"}},
        {"all gone", {ftdiA, ch340, pts}, {}, {}, {"/dev/ttyUSB0", "/dev/ttyUSB1", "/tmp/zanst-sim"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const PresenceChange c = comparePorts(row.before, row.now);
        EXPECT_EQ(paths(c.appeared), row.appeared);
        EXPECT_EQ(paths(c.went), row.went);
        EXPECT_EQ(c.empty(), row.appeared.empty() && row.went.empty());
    }
}

TEST(Presence, TheLostAdapterIsKnownBySerialStringOrElseByItsPath) {
    const PortEntry lost = usb("/dev/ttyUSB0", 0x0403, 0x6001, "A50285BI");
    const PortEntry lostNoSerial = usb("/dev/ttyUSB0", 0x1a86, 0x7523, "");
    struct Row {
        const char* name;
        PortEntry lost, candidate;
        bool same;
    };
    const Row rows[] = {
        {"same serial, same path", lost, usb("/dev/ttyUSB0", 0x0403, 0x6001, "A50285BI"), true},
        {"same serial, new name", lost, usb("/dev/ttyUSB3", 0x0403, 0x6001, "A50285BI"), true},
        {"same path, another serial", lost, usb("/dev/ttyUSB0", 0x0403, 0x6001, "FT9XYZ12"), false},
        {"same serial, another maker", lost, usb("/dev/ttyUSB3", 0x10c4, 0xea60, "A50285BI"), false},
        {"no serial, same path and model", lostNoSerial, usb("/dev/ttyUSB0", 0x1a86, 0x7523, ""), true},
        {"no serial, another name", lostNoSerial, usb("/dev/ttyUSB1", 0x1a86, 0x7523, ""), false},
        {"no serial, same path, another model", lostNoSerial, usb("/dev/ttyUSB0", 0x0403, 0x6001, ""), false},
        {"serial lost on the way, same path", lost, usb("/dev/ttyUSB0", 0x0403, 0x6001, ""), false},
        {"serial only on the new one, same path", lostNoSerial, usb("/dev/ttyUSB0", 0x1a86, 0x7523, "X1"),
         true},
        {"a link, same path", plain("/tmp/port"), plain("/tmp/port"), true},
        {"a link, another path", plain("/tmp/port"), plain("/tmp/other"), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(isSameAdapter(row.lost, row.candidate), row.same);
    }
    // A match by serial string wins over one by path.
    const std::vector<PortEntry> back = {usb("/dev/ttyUSB0", 0x0403, 0x6001, ""),
                                         usb("/dev/ttyUSB4", 0x0403, 0x6001, "A50285BI")};
    ASSERT_TRUE(findReturned(lost, back));
    EXPECT_EQ(findReturned(lost, back)->path, "/dev/ttyUSB4");
    EXPECT_FALSE(findReturned(lost, {usb("/dev/ttyUSB1", 0x0403, 0x6001, "OTHER")}));
}

TEST(Presence, APseudoTerminalLinkThatDisappearsAndComesBackIsRecognised) {
    test::TempDir dir;
    const std::string link = dir / "port";
    const std::string sysfs = dir / "sys"; // an empty tree: nothing here is a USB adapter
    auto first = std::make_unique<test::Pty>();
    ASSERT_EQ(::symlink(first->slavePath().c_str(), link.c_str()), 0);
    const std::vector<PortEntry> before = identifyAll({link}, sysfs);
    ASSERT_EQ(before.size(), 1U);
    EXPECT_EQ(before[0].identity.kind, PortKind::PseudoTerminal);

    // The far side goes away with its link.
    first.reset();
    ASSERT_EQ(::unlink(link.c_str()), 0);
    const std::vector<PortEntry> gone = identifyAll({}, sysfs);
    const PresenceChange lost = comparePorts(before, gone);
    ASSERT_EQ(lost.went.size(), 1U);
    EXPECT_TRUE(lost.appeared.empty());
    const PortEntry lostPort = lost.went[0];

    // Another pseudo-terminal (often under another number) behind the same link.
    test::Pty second;
    ASSERT_EQ(::symlink(second.slavePath().c_str(), link.c_str()), 0);
    const std::vector<PortEntry> again = identifyAll({link}, sysfs);
    const PresenceChange back = comparePorts(gone, again);
    ASSERT_EQ(back.appeared.size(), 1U);
    const auto returned = findReturned(lostPort, back.appeared);
    ASSERT_TRUE(returned);
    EXPECT_EQ(returned->path, link);
    EXPECT_EQ(returned->identity.devicePath, second.slavePath());
    EXPECT_FALSE(findReturned(lostPort, identifyAll({second.slavePath()}, sysfs)))
        << "the bare device path is another port name";
}

} // namespace
} // namespace zanst::adapter
