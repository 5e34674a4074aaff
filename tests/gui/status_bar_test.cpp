// The status bar at its largest values: every field shows its whole text, none overlaps another,
// at the window's fixed size, in the default font and in one half again as large.

#include "bus/number_text.hpp"
#include "shell/main_window.hpp"
#include "ui/bus_status_bar.hpp"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QTest>

#include <gtest/gtest.h>

namespace zanst::test {
namespace {

constexpr std::uint64_t kBillion = 1000000000;

app::HealthReport largest() {
    app::HealthReport r;
    r.mode = bus::Mode::BatteryTester;
    r.balancers = 255;
    r.framesSent = kBillion;
    r.framesReceived = kBillion;
    r.crcErrors = kBillion;
    r.unansweredPolls = kBillion;
    r.noAnswerAfter = 255;
    r.msSinceValid = 45LL * 24 * 3600 * 1000 + 23LL * 3600 * 1000; // 45 days 23 h
    return r;
}

// Every shown field fits its text and lies inside the bar, apart from every other field.
void expectWholeAndApart(const app::BusStatusBar& bar) {
    std::vector<const QLabel*> shown;
    for (const QLabel* label : bar.findChildren<QLabel*>()) {
        if (label->isVisible()) {
            shown.push_back(label);
        }
    }
    ASSERT_EQ(shown.size(), 8u);
    for (const QLabel* label : shown) {
        SCOPED_TRACE(label->accessibleName().toStdString() + ": " + label->text().toStdString());
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
        EXPECT_TRUE(bar.rect().contains(label->geometry())) << "outside the bar";
        for (const QLabel* other : shown) {
            if (other != label) {
                EXPECT_FALSE(label->geometry().intersects(other->geometry()))
                    << "overlaps " << other->accessibleName().toStdString();
            }
        }
    }
}

class StatusBarTest : public testing::TestWithParam<double> {};

TEST_P(StatusBarTest, TheLargestValuesShowWhole) {
    const QFont defaultFont = QApplication::font();
    QFont font = defaultFont;
    font.setPointSizeF(defaultFont.pointSizeF() * GetParam());
    QApplication::setFont(font);
    {
        app::diag_form window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        app::BusStatusBar* bar = window.statusBar();
        const QString path = QStringLiteral("/dev/serial/by-id/usb-Future_Technology_Devices_International_"
                                            "Ltd_FT232R_USB_UART_A50285BI-if00-port0");
        bar->setPortText(QStringLiteral("Connection lost: ") + path);
        bar->showHealth(largest(), QStringLiteral("Battery tester"), true);
        QApplication::processEvents();
        expectWholeAndApart(*bar);
        EXPECT_EQ(bar->framesLabel->text(), "Frames sent 1,000,000,000 / received 1,000,000,000");
        EXPECT_EQ(bar->ageLabel->text(), "No valid answer for 45 d 23 h");
        // Only the port's path is cut, in the middle, and its tool tip holds all of it.
        EXPECT_TRUE(bar->portLabel->text().contains(QChar(0x2026))) << bar->portLabel->text().toStdString();
        EXPECT_TRUE(bar->portLabel->text().startsWith(QStringLiteral("Connection lost: /dev/")));
        EXPECT_TRUE(bar->portLabel->text().endsWith(QStringLiteral("port0")));
        EXPECT_EQ(bar->portLabel->toolTip(), QStringLiteral("Connection lost: ") + path);
        EXPECT_LE(bar->portLabel->width(), bar->portWidth() + 2);
        // The pages keep the room they had above the bar.
        EXPECT_LE(bar->geometry().bottom(), window.height() - 1);
        if (const QByteArray dir = qgetenv("ZANST_GRAB_DIR"); !dir.isEmpty()) {
            bar->showHealth({bus::Mode::BatteryTester, 8, 1000000, 999998, 0, 2, -1, 400},
                            QStringLiteral("Battery tester"), false);
            bar->setPortText(QStringLiteral("Port /tmp/zanst-sim"));
            QApplication::processEvents();
            window.grab().save(QString::fromLocal8Bit(dir) +
                               QStringLiteral("/status-bar-%1.png").arg(GetParam()));
        }
    }
    QApplication::setFont(defaultFont);
}

INSTANTIATE_TEST_SUITE_P(Fonts, StatusBarTest, testing::Values(1.0, 1.5),
                         [](const testing::TestParamInfo<double>& i) {
                             return i.param == 1.0 ? std::string("DefaultFont")
                                                   : std::string("HalfAgainAsLarge");
                         });

TEST(StatusBarText, CountsAreGroupedAndAgesReachDays) {
    struct Row {
        std::uint64_t n;
        char separator;
        const char* text;
    };
    const Row counts[] = {{0, ',', "0"},
                          {999, ',', "999"},
                          {12345, ',', "12,345"},
                          {1000000, '.', "1.000.000"},
                          {kBillion, ',', "1,000,000,000"}};
    for (const Row& r : counts) {
        bus::TextFormat format;
        format.groupSeparator = r.separator;
        EXPECT_EQ(bus::groupedCountText(r.n, format), r.text);
    }
    struct Age {
        qint64 ms;
        const char* text;
    };
    const Age ages[] = {{0, "0 s"},
                        {59999, "59 s"},
                        {60000, "1 min 0 s"},
                        {3599000, "59 min 59 s"},
                        {3600000, "1 h 0 min"},
                        {86399000, "23 h 59 min"},
                        {86400000, "1 d 0 h"},
                        {400LL * 86400000, "400 d 0 h"}};
    for (const Age& a : ages) {
        EXPECT_EQ(app::ageText(a.ms).toStdString(), a.text);
    }
}

} // namespace
} // namespace zanst::test
