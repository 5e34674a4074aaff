// The adapter in the window, offscreen: "Connection" with a fake FTDI tree behind a
// pseudo-terminal, the ring pages' warning, opening errors where the user looks, the port list
// following ports that come and go, and an adapter that is lost and comes back (offered in a mode
// where the tool sends, reconnected at once on "Data Sniffer").

#include "adapter/identity.hpp"
#include "shell/main_window.hpp"
#include "shell/port_list.hpp"
#include "support/fake_sysfs.hpp"
#include "support/pty.hpp"
#include "support/qt_wait.hpp"
#include "tabs/adapter_panel.hpp"
#include "tabs/connection_tab.hpp"
#include "ui/bus_status_bar.hpp"
#include "ui/widgets.hpp"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using app::AdapterPanel;
using app::diag_form;

class AdapterWindow : public testing::Test {
  protected:
    void SetUp() override {
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        link = dir / "port";
        ASSERT_EQ(::symlink(pty->slavePath().c_str(), link.c_str()), 0);
        qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(link + ":/dev/zanst-missing"));
    }
    void TearDown() override {
        window.reset();
        qunsetenv("ZANST_EXTRA_PORTS");
        ::unsetenv(adapter::kSysfsRootVariable);
    }

    // The pseudo-terminal behind the link is the FTDI adapter `a` of a fake sysfs tree.
    void behindAnFtdi(const FakeUsbSerial& a) {
        sys.addUsb(a);
        ASSERT_TRUE(sys.mapDeviceNumber(pty->slavePath(), a.tty));
        ::setenv(adapter::kSysfsRootVariable, sys.root().c_str(), 1);
    }
    void show() {
        window = std::make_unique<diag_form>();
        window->show();
        panel = window->connectionTab()->findChild<AdapterPanel*>();
        ASSERT_NE(panel, nullptr);
        for (QLabel* l : window->statusBar()->findChildren<QLabel*>()) {
            field = l->accessibleName() == QStringLiteral("Adapter") ? l : field;
        }
        ASSERT_NE(field, nullptr);
    }
    void choose(const QString& entry) {
        QComboBox* combo = window->connectionTab()->comboBox1;
        const int index = combo->findText(entry);
        ASSERT_GE(index, 0) << entry.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    bool titleIs(const QString& suffix, std::chrono::milliseconds timeout = 3000ms) {
        return waitUntil([&] { return window->windowTitle() == window->textCaption() + suffix; }, timeout);
    }
    QLabel* warningOn(bus::Mode mode) const {
        return window->pages().page(mode)->findChild<app::WarningLine*>(QStringLiteral("adapterWarning"));
    }
    // The adapter is pulled out: its far side and its link go.
    void unplug() {
        pty.reset();
        ::unlink(link.c_str());
    }
    // It is plugged in again: a new device under the same link.
    void plugBackIn() {
        pty = std::make_unique<Pty>();
        ASSERT_EQ(::symlink(pty->slavePath().c_str(), link.c_str()), 0);
    }

    QTemporaryDir data;
    TempDir dir;
    std::string link;
    std::unique_ptr<Pty> pty = std::make_unique<Pty>();
    FakeSysfs sys;
    std::unique_ptr<diag_form> window;
    AdapterPanel* panel = nullptr;
    QLabel* field = nullptr;
};

TEST_F(AdapterWindow, ConnectionShowsTheFtdiAdapterBehindThePortBelowTheSettings) {
    FakeUsbSerial a;
    behindAnFtdi(a);
    show();
    const QString path = QString::fromStdString(link);
    EXPECT_EQ(panel->details->text(), "No port is open: choose the adapter under \"Port\".");
    auto* settings = window->connectionTab()->findChild<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->title(), "Settings") << "the settings stay the first group";
    EXPECT_LT(settings->geometry().bottom(), panel->geometry().top()) << "the adapter section is below them";

    choose(path);
    ASSERT_TRUE(titleIs(" - " + path));
    ASSERT_TRUE(waitUntil([&] { return panel->details->text().contains("Latency timer 1 ms"); }))
        << panel->details->text().toStdString();
    const QString details = panel->details->text();
    for (const char* expected :
         {"USB adapter ", ": FTDI (driver ftdi_sio), USB id 0403:6001, \"FTDI FT232R USB UART\"",
          "USB serial number A50285BI: recognised again after a replug",
          "Latency timer 1 ms: received bytes reach the tool within 1 ms",
          "The latency timer was 16 ms before the tool opened the adapter",
          "Line rate: 250000 baud exact, the rate the balancers use"}) {
        EXPECT_TRUE(details.contains(QString::fromUtf8(expected))) << expected << "\n"
                                                                   << details.toStdString();
    }
    EXPECT_EQ(FakeSysfs::get(sys.latencyFile(a)), "1");
    EXPECT_TRUE(panel->advice->isHidden());
    EXPECT_TRUE(panel->error->isHidden());
    EXPECT_EQ(field->text(), "Adapter: FTDI A50285BI: latency 1 ms, 250000 baud exact");
    EXPECT_TRUE(field->toolTip().contains("USB serial number A50285BI"));
    EXPECT_TRUE(warningOn(bus::Mode::Sniffer)->isHidden());
    EXPECT_TRUE(warningOn(bus::Mode::BmsTester)->isHidden());
}

TEST_F(AdapterWindow, ALatencyThatStaysHighGivesTheCommandAndWarnsTheRingPagesInRed) {
    FakeUsbSerial a;
    a.latencyReadOnly = true;
    behindAnFtdi(a);
    show();
    choose(QString::fromStdString(link));
    ASSERT_TRUE(waitUntil([&] { return !panel->advice->isHidden(); }));
    const QString advice = panel->advice->accessibleDescription();
    EXPECT_TRUE(advice.contains("echo 1 | sudo tee /sys/bus/usb-serial/devices/ttyUSB0/latency_timer"))
        << advice.toStdString();
    EXPECT_TRUE(advice.contains(
        R"(ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR{latency_timer}="1")"));
    EXPECT_TRUE(panel->details->text().contains(
        "Latency timer 16 ms: received bytes wait up to 16 ms in the adapter; the ring waits for the tool's "
        "echo "
        "that long (1 ms could not be set: the attribute is read-only for this user)"))
        << panel->details->text().toStdString();
    EXPECT_EQ(field->text(), "Adapter: FTDI A50285BI: latency 16 ms (slow), 250000 baud exact");
    for (bus::Mode mode : {bus::Mode::Sniffer, bus::Mode::BmsTester}) {
        QLabel* warning = warningOn(mode);
        ASSERT_NE(warning, nullptr);
        EXPECT_FALSE(warning->isHidden()) << static_cast<int>(mode);
        EXPECT_TRUE(warning->text().contains("up to 16 ms")) << warning->text().toStdString();
        EXPECT_TRUE(warning->styleSheet().contains("red"));
    }

    // "Disconnect": no adapter, no warning.
    QTest::mouseClick(window->connectionTab()->cmdDisconnect, Qt::LeftButton);
    ASSERT_TRUE(titleIs(" - Idle"));
    EXPECT_TRUE(waitUntil([&] { return warningOn(bus::Mode::Sniffer)->isHidden(); }));
    EXPECT_TRUE(field->isHidden());
}

TEST_F(AdapterWindow, APortThatWillNotOpenSaysWhyWhereTheUserLooks) {
    show();
    choose("/dev/zanst-missing");
    ASSERT_TRUE(titleIs(" - Unable to open /dev/zanst-missing"));
    ASSERT_TRUE(waitUntil([&] { return !panel->error->isHidden(); }));
    EXPECT_TRUE(
        panel->error->text().startsWith("/dev/zanst-missing does not exist: the adapter is not plugged in"))
        << panel->error->text().toStdString();
    EXPECT_EQ(field->text(), "Adapter not found");
    EXPECT_TRUE(field->toolTip().contains("/dev/zanst-missing does not exist"));
    EXPECT_TRUE(field->styleSheet().contains("red"));
}

TEST_F(AdapterWindow, APseudoTerminalSaysSoAndNothingMore) {
    show();
    choose(QString::fromStdString(link));
    ASSERT_TRUE(waitUntil([&] { return panel->details->text().contains("pseudo-terminal"); }));
    EXPECT_EQ(panel->details->text(),
              QString::fromStdString(pty->slavePath()) + " is a pseudo-terminal, not a USB adapter.");
    EXPECT_EQ(field->text(), "Adapter: Pseudo-terminal, not a USB adapter");
}

TEST_F(AdapterWindow, ALostAdapterThatComesBackIsOfferedForOneClickInAModeThatSends) {
    show();
    window->tabs()->setCurrentWidget(window->pages().page(bus::Mode::BatteryTester));
    const QString path = QString::fromStdString(link);
    choose(path);
    ASSERT_TRUE(titleIs(" - " + path));

    unplug();
    ASSERT_TRUE(titleIs(" - Connection lost: " + path));
    EXPECT_TRUE(panel->note->text().contains("Connection lost at")) << panel->note->text().toStdString();
    EXPECT_FALSE(panel->offering());
    EXPECT_EQ(field->text(), "Adapter lost");

    plugBackIn();
    ASSERT_TRUE(waitUntil([&] { return panel->offering(); }, 5000ms)) << "offered when it is back";
    EXPECT_EQ(panel->offer->text(), "The adapter " + path + " is back. Reconnect to it?");
    // Never silently: the port stays closed and the bank hears nothing until the click.
    pump(1500ms);
    EXPECT_EQ(window->windowTitle(), window->textCaption() + " - Connection lost: " + path);
    EXPECT_TRUE(pty->readFor(100ms).empty());

    QTest::mouseClick(panel->reconnect, Qt::LeftButton);
    ASSERT_TRUE(titleIs(" - " + path));
    EXPECT_FALSE(panel->offering());
    EXPECT_EQ(window->connectionTab()->comboBox1->currentText(), path);
    EXPECT_FALSE(pty->read(1, 3000ms).empty()) << "the battery tester polls through the adapter again";
}

TEST_F(AdapterWindow, OnDataSnifferTheAdapterThatComesBackIsReconnectedAtOnceAndThatIsSaid) {
    show();
    window->tabs()->setCurrentWidget(window->pages().page(bus::Mode::Sniffer));
    const QString path = QString::fromStdString(link);
    choose(path);
    ASSERT_TRUE(titleIs(" - " + path));

    unplug();
    ASSERT_TRUE(titleIs(" - Connection lost: " + path));
    QLabel* warning = warningOn(bus::Mode::Sniffer);
    ASSERT_TRUE(waitUntil([&] { return !warning->isHidden(); }));
    EXPECT_TRUE(warning->text().contains("the ring is open until it is back"))
        << warning->text().toStdString();

    plugBackIn();
    ASSERT_TRUE(titleIs(" - " + path, 5000ms)) << "reconnected without a click";
    EXPECT_FALSE(panel->offering());
    ASSERT_TRUE(waitUntil([&] { return warning->text().contains("the tool reconnected it at once"); }))
        << warning->text().toStdString();
    EXPECT_TRUE(panel->note->text().contains("was away for"));
    const bus::Bytes ring{0x00, 0x12, 0x34};
    pty->write(ring);
    EXPECT_EQ(pty->read(ring.size(), 3000ms), ring) << "the ring runs through the tool again";

    // The user's own choice of a port ends the story.
    choose(path);
    ASSERT_TRUE(waitUntil([&] { return warning->isHidden(); }));
}

// The watcher on its own: a folder of an extra path is watched, and the list it makes follows
// what is in it, without waiting for the next activation.
TEST(PortWatcher, TheListFollowsPortsPluggedInAndPulledOut) {
    TempDir folder;
    const std::string extra = folder / "bridge";
    qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(extra));
    const QString path = QString::fromStdString(folder.path());
    // The system's ports as the files in that folder.
    app::PortWatcher watcher([path] {
        return QDir(path).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    });
    QSignalSpy changed(&watcher, &app::PortWatcher::portsChanged);
    EXPECT_TRUE(watcher.ports().isEmpty());

    FakeSysfs::put(folder / "ttyUSB3", "");
    ASSERT_TRUE(changed.wait(2000)) << "plugged in";
    EXPECT_EQ(watcher.ports(), QStringList{"ttyUSB3"});
    FakeSysfs::put(folder / "ttyUSB4", "");
    ASSERT_TRUE(changed.wait(2000));
    EXPECT_EQ(watcher.ports(), (QStringList{"ttyUSB3", "ttyUSB4"}));
    ::unlink((folder / "ttyUSB3").c_str());
    ASSERT_TRUE(changed.wait(2000)) << "pulled out";
    EXPECT_EQ(watcher.ports(), QStringList{"ttyUSB4"});
    const auto before = changed.count();
    pump(600ms);
    EXPECT_EQ(changed.count(), before) << "nothing changed, nothing said";
    qunsetenv("ZANST_EXTRA_PORTS");
}

// In the window: a change the watcher sees rebuilds the list as an activation does, keeping the
// entry shown.
TEST_F(AdapterWindow, ThePortListIsRebuiltWhenPortsComeAndGoAndKeepsTheChosenEntry) {
    show();
    const QString path = QString::fromStdString(link);
    choose(path);
    ASSERT_TRUE(titleIs(" - " + path));
    QComboBox* combo = window->connectionTab()->comboBox1;
    const std::string added = dir / "bridge";
    qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(link + ":" + added + ":/dev/zanst-missing"));
    FakeSysfs::put(added, "");
    ASSERT_TRUE(waitUntil([&] { return combo->findText(QString::fromStdString(added)) >= 0; }, 5000ms));
    EXPECT_EQ(combo->currentText(), path) << "the chosen entry stays chosen";
    EXPECT_EQ(window->windowTitle(), window->textCaption() + " - " + path) << "and the port open";
}

} // namespace
} // namespace zanst::test
