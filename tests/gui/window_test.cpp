// The main window offscreen: title sequence, tab strip, port list and connection.

#include "shell/main_window.hpp"
#include "shell/port_list.hpp"
#include "support/pty.hpp"
#include "support/qt_wait.hpp"
#include "tabs/connection_tab.hpp"
#include "ui/about_dialog.hpp"
#include "ui/tab_overlay.hpp"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using app::diag_form;

QStringList tabCaptions(const QTabWidget* tabs) {
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i) {
        captions << tabs->tabText(i);
    }
    return captions;
}

TEST(PortList, SystemNamesLoseATrailingNonDigitAndExtraPathsStayUnchanged) {
    struct Row {
        QStringList system;
        QString extra;
        QStringList expected;
    };
    const Row rows[] = {
        {{"ttyUSB0", "ttyS1"}, "", {"ttyUSB0", "ttyS1"}},
        {{"COM3x", "ttyACM0", "ttyUSB1?"}, "", {"COM3", "ttyACM0", "ttyUSB1"}},
        {{"ttyUSB0"}, "/dev/pts/3", {"ttyUSB0", "/dev/pts/3"}},
        {{}, "/dev/pts/3:/tmp/zanst-bank:", {"/dev/pts/3", "/tmp/zanst-bank"}},
        {{}, "/tmp/port-a", {"/tmp/port-a"}}, // a path ending in a letter is not shortened
    };
    for (const auto& r : rows) {
        EXPECT_EQ(app::listedPorts(r.system, r.extra), r.expected) << r.extra.toStdString();
    }
}

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(pty.slavePath() + ":/dev/zanst-missing"));
    }
    void TearDown() override { qunsetenv("ZANST_EXTRA_PORTS"); }

    QComboBox* combo() { return window.connectionTab()->comboBox1; }
    void choose(const QString& text) {
        const int index = combo()->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        combo()->setCurrentIndex(index);
        emit combo()->activated(index);
    }
    bool titleIs(const QString& title) {
        return waitUntil([&] { return window.windowTitle() == title; });
    }

    Pty pty;
    diag_form window;
};

TEST_F(WindowTest, TitleBeforeAndAfterShowing) {
    const QRegularExpression caption(
        QStringLiteral(R"(^Zanthe Service Tool \(ZANST\) \([A-Z][a-z]{2} \d{1,2} \d{4}\)$)"));
    EXPECT_TRUE(caption.match(window.textCaption()).hasMatch()) << window.textCaption().toStdString();
    EXPECT_EQ(window.windowTitle(), window.textCaption() + " - Idle");
    window.show();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Zanthe Tester"));
}

TEST_F(WindowTest, FixedSizeWithoutMaximiseAndFourTabsAfterShowing) {
    EXPECT_EQ(tabCaptions(window.tabs()),
              (QStringList{"Connection", "Actions", "Calibration", "Battery tester", "BMS tester",
                           "Data Sniffer", "Metrics"}));
    window.show();
    EXPECT_EQ(tabCaptions(window.tabs()),
              (QStringList{"Connection", "Battery tester", "BMS tester", "Data Sniffer"}));
    EXPECT_EQ(window.tabs()->currentIndex(), 0);
    EXPECT_EQ(window.size(), QSize(915, 853));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}

TEST_F(WindowTest, ConnectionTabIsReachableForScreenReaders) {
    window.show();
    EXPECT_EQ(combo()->accessibleName(), QStringLiteral("Port"));
    EXPECT_FALSE(combo()->isEditable());
    auto* settings = window.connectionTab()->findChild<QGroupBox*>();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->title(), QStringLiteral("Settings"));
    EXPECT_EQ(window.connectionTab()->cmdDisconnect->text(), QStringLiteral("Disconnect"));
    EXPECT_NE(combo()->focusPolicy(), Qt::NoFocus);
}

TEST_F(WindowTest, AboutShowsVersionBuildDateNoticeAndLicencesBesideTheSettings) {
    window.show();
    auto* settings = window.connectionTab()->findChild<QGroupBox*>();
    const QRect settingsBefore = settings->geometry();
    QPushButton* about = window.connectionTab()->about;
    EXPECT_GE(about->geometry().top(), settings->geometry().bottom()) << "the settings keep their place";
    QTest::mouseClick(about, Qt::LeftButton);
    auto* dialog = window.findChild<app::AboutDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    const QString text = dialog->text();
    for (const QString& expected :
         {QStringLiteral("Version " ZANST_VERSION ", built ") + diag_form::buildDate(),
          QStringLiteral("Copyright (C) 2026 Kestrova Energy"), QStringLiteral("Qt 6"),
          QStringLiteral("GNU Lesser General Public License version 3"),
          QStringLiteral("GCC Runtime Library Exception")}) {
        EXPECT_TRUE(text.contains(expected)) << expected.toStdString() << " in " << text.toStdString();
    }
    const QPointer<app::AboutDialog> closed(dialog);
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull()) << "each opening makes its own dialog, freed on closing";
    EXPECT_EQ(settings->geometry(), settingsBefore);
}

TEST_F(WindowTest, ExtraPortsAreListedAfterTheSystemPorts) {
    window.show();
    const QStringList expected = app::currentPortList();
    QStringList listed;
    for (int i = 0; i < combo()->count(); ++i) {
        listed << combo()->itemText(i);
    }
    EXPECT_EQ(listed, expected);
    ASSERT_GE(listed.size(), 2);
    EXPECT_EQ(listed.at(listed.size() - 2).toStdString(), pty.slavePath());
    EXPECT_EQ(listed.last(), QStringLiteral("/dev/zanst-missing"));
    EXPECT_EQ(combo()->currentIndex(), -1);
}

TEST_F(WindowTest, SelectingAPortShowsItInTheTitleAndDisconnectReturnsToIdle) {
    window.show();
    const QString path = QString::fromStdString(pty.slavePath());
    choose(path);
    EXPECT_TRUE(titleIs(window.textCaption() + " - " + path)) << window.windowTitle().toStdString();

    // Activation rebuilds the list and keeps the open port selected.
    window.refreshPortList();
    EXPECT_EQ(combo()->currentText(), path);

    QTest::mouseClick(window.connectionTab()->cmdDisconnect, Qt::LeftButton);
    EXPECT_TRUE(titleIs(window.textCaption() + " - Idle")) << window.windowTitle().toStdString();
    EXPECT_EQ(combo()->currentIndex(), -1);
    window.refreshPortList();
    EXPECT_EQ(combo()->currentIndex(), -1);
}

TEST_F(WindowTest, PortThatCannotBeOpenedIsNamedInTheTitle) {
    window.show();
    choose(QStringLiteral("/dev/zanst-missing"));
    EXPECT_TRUE(titleIs(window.textCaption() + " - Unable to open /dev/zanst-missing"))
        << window.windowTitle().toStdString();
    pump(700ms);
    EXPECT_EQ(window.windowTitle(), window.textCaption() + " - Unable to open /dev/zanst-missing");
}

TEST_F(WindowTest, LostConnectionClearsTheSelectionAndSaysSoInTheTitle) {
    window.show();
    const QString path = QString::fromStdString(pty.slavePath());
    choose(path);
    ASSERT_TRUE(titleIs(window.textCaption() + " - " + path));
    pty.closeSlave();
    pty.closeMaster();
    EXPECT_TRUE(titleIs(window.textCaption() + " - Connection lost: " + path))
        << window.windowTitle().toStdString();
    EXPECT_EQ(combo()->currentIndex(), -1);
}

TEST_F(WindowTest, RecordingLocksTheTabStrip) {
    window.show();
    auto* overlay = window.findChild<app::TabOverlay*>();
    ASSERT_NE(overlay, nullptr);
    EXPECT_FALSE(overlay->isEnabled());
    EXPECT_FALSE(overlay->isVisible());

    window.recordingLock().setRecording(app::RecordingLock::Recorder::BatteryTester, true);
    EXPECT_TRUE(overlay->isVisible());
    QTabBar* bar = window.tabs()->tabBar();
    EXPECT_EQ(overlay->height(), bar->height()) << "the whole header strip";
    EXPECT_GE(overlay->width(), 420);

    // Refused before it happens: the strip never switches, not even for a moment.
    QSignalSpy changes(window.tabs(), &QTabWidget::currentChanged);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    QTest::keyClick(window.tabs(), Qt::Key_Tab, Qt::ControlModifier);
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Right);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(window.tabs()->currentIndex(), 0);
    window.tabs()->setCurrentIndex(1); // a programmatic change is turned back
    EXPECT_EQ(window.tabs()->currentIndex(), 0);

    window.recordingLock().setRecording(app::RecordingLock::Recorder::BatteryTester, false);
    EXPECT_FALSE(overlay->isVisible());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    EXPECT_EQ(window.tabs()->currentIndex(), 1);
}

// The maker's logo with the legal notice stands on "Connection", "Battery tester", "BMS tester" and
// "Data Sniffer" only, also when the service tabs are shown.
TEST_F(WindowTest, TheLogoStandsOnTheFourMainTabsOnly) {
    diag_form service(app::ServiceMode::On);
    service.show();
    QStringList withLogo;
    for (int i = 0; i < service.tabs()->count(); ++i) {
        const QWidget* page = service.tabs()->widget(i);
        for (const QLabel* label : page->findChildren<QLabel*>()) {
            if (label->accessibleName() == QStringLiteral("Kestrova Energy logo")) {
                withLogo << service.tabs()->tabText(i);
                break;
            }
        }
    }
    EXPECT_EQ(withLogo, (QStringList{"Connection", "Battery tester", "BMS tester", "Data Sniffer"}));
}

} // namespace
} // namespace zanst::test
