// The Metrics tab offscreen, in a window with the service tabs: a fetch against zanst-sim shown
// at instance 1, files opened by the dialog or dropped, the instance steps and their ends, the
// matrix formats, its lines and what a screen reader reads from it.

#include "files/app_data.hpp"
#include "metrics/display.hpp"
#include "metrics/files.hpp"
#include "shell/main_window.hpp"
#include "sim/bank_metrics.hpp"
#include "support/pty.hpp"
#include "support/qt_wait.hpp"
#include "support/sim_process.hpp"
#include "tabs/connection_tab.hpp"
#include "tabs/metrics_tab.hpp"
#include "unit/metrics_sample.hpp"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using app::MetricsTab;

// A metrics file of `count` instances whose values differ by instance (sampleMetrics(n, 1000 n)).
std::string writeMetricsFile(const TempDir& dir, int count) {
    metrics::MetricsFileStore store(dir.path());
    std::tm stamp{};
    stamp.tm_year = 125;
    stamp.tm_mday = 1;
    for (int n = 1; n <= count; ++n) {
        store.storeMetricsInActiveFile(sampleMetrics(static_cast<std::uint16_t>(n), 1000u * n), stamp);
    }
    return store.activeMetricsFileName().string();
}

QString text(std::string_view s) {
    return QString::fromStdString(std::string(s));
}

class MetricsTabTest : public testing::Test {
  protected:
    void SetUp() override { window.tabs()->setCurrentWidget(tab()); }

    MetricsTab* tab() { return window.metricsTab(); }
    QString lastConsoleLine() {
        QListWidget* console = tab()->console;
        return console->count() > 0 ? console->item(console->count() - 1)->text() : QString();
    }
    void openWithDialog(const QStringList& paths) {
        tab()->chooseMetricsFiles = [paths](QWidget*) { return paths; };
        QTest::mouseClick(tab()->openMetricsFile, Qt::LeftButton);
    }
    // Drags `urls` over the drop list and drops them; returns whether the drag was offered a copy.
    bool drop(const QList<QUrl>& urls, bool asText = false) {
        QMimeData mime;
        if (asText) {
            mime.setText(urls.front().toString());
        } else {
            mime.setUrls(urls);
        }
        QWidget* target = tab()->listBox2->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        const bool offered = enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
        if (offered) {
            QDropEvent dropped(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                               Qt::NoModifier);
            QApplication::sendEvent(target, &dropped);
        }
        return offered;
    }
    QString cell(int row, int column) { return tab()->MetricsMatrix->numberText(row, column); }
    // Lists `path` as an extra port, shows the window, chooses the port and waits until it is open.
    void openPort(const std::string& path) {
        qputenv("ZANST_EXTRA_PORTS", QByteArray::fromStdString(path));
        window.tabs()->setCurrentIndex(0);
        window.show();
        QComboBox* combo = window.connectionTab()->comboBox1;
        const int index = combo->findText(QString::fromStdString(path));
        ASSERT_GE(index, 0);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
        ASSERT_TRUE(waitUntil([&] { return window.windowTitle().endsWith(QString::fromStdString(path)); }));
        window.tabs()->setCurrentWidget(tab());
    }
    void TearDown() override { qunsetenv("ZANST_EXTRA_PORTS"); }

    TempDir dir;
    app::diag_form window{app::ServiceMode::On};
};

TEST_F(MetricsTabTest, OpenedFileShowsFieldsAndMatrixStepsWithinItsEndsAndTogglesTheFormat) {
    const std::string file = writeMetricsFile(dir, 2);
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: -");
    EXPECT_EQ(cell(1, 1), "") << "no numbers before a file is shown";

    // The dialog acts as a drop: the first name ending in txt is shown, at instance 1.
    openWithDialog({QString::fromStdString(dir / "notes.csv"), QString::fromStdString(file), "other.txt"});
    EXPECT_EQ(tab()->selectedMetricsFileToDisplay().toStdString(), file);
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: 1");
    const metrics::MetricsMetadata first = sampleMetrics(1, 1000);
    const metrics::MetricsFields texts = metrics::fieldTexts(first);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(tab()->fields[i]->text(), text(texts[i])) << metrics::kFieldCaptions[i];
    }
    // Row 7: second C-rate block (0.5-1C), second SoC range (10-30%); column 2: 0-20C.
    const metrics::MatrixData matrix = metrics::toMatrixData(first.timeMatrix);
    EXPECT_EQ(cell(7, 2), text(metrics::metricsSecondsFormatting(matrix[6][1])));
    EXPECT_EQ(cell(7, 2), text(metrics::metricsSecondsFormatting(first.timeMatrix[1][1][1])));
    EXPECT_EQ(cell(25, 4), "49710d6h28m15s");
    // Every number fits its column whole.
    app::MetricsMatrixTable* table = tab()->MetricsMatrix;
    for (int row = 1; row <= 25; ++row) {
        for (int column = 1; column <= 4; ++column) {
            const QTableWidgetItem* item = table->item(row, column);
            EXPECT_LE(QFontMetrics(item->font()).horizontalAdvance(item->text()),
                      table->columnWidth(column) - 2 * table->textMargin())
                << row << "," << column << " " << item->text().toStdString();
        }
    }

    QTest::mouseClick(tab()->toggleFormatting, Qt::LeftButton);
    EXPECT_EQ(cell(7, 2), QString::number(first.timeMatrix[1][1][1]));
    EXPECT_EQ(cell(25, 4), "4294967295");
    QTest::mouseClick(tab()->toggleFormatting, Qt::LeftButton);
    EXPECT_EQ(cell(25, 4), "49710d6h28m15s");

    // "<" on instance 1 and ">" on the last change nothing.
    QTest::mouseClick(tab()->previousInstance, Qt::LeftButton);
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: 1");
    EXPECT_EQ(tab()->fields[0]->text(), text(texts[0]));
    QTest::mouseClick(tab()->nextInstance, Qt::LeftButton);
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: 2");
    EXPECT_EQ(tab()->fields[0]->text(), QString::number(sampleMetrics(2, 2000).secsLifeSpan));
    QTest::mouseClick(tab()->nextInstance, Qt::LeftButton);
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: 2");
    EXPECT_EQ(tab()->selectedMetricInstanceToDisplay(), 2);
    QTest::mouseClick(tab()->previousInstance, Qt::LeftButton);
    EXPECT_EQ(tab()->fields[0]->text(), text(texts[0]));
}

TEST_F(MetricsTabTest, NumberCellsReadAsShownWithTheirRanges) {
    openWithDialog({QString::fromStdString(writeMetricsFile(dir, 1))});
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(tab()->MetricsMatrix);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    const struct {
        int row, column;
        const char* ranges;
    } rows[] = {{1, 1, "0-10% SoC, <0C°, 0-0.5C"},
                {7, 2, "10-30% SoC, 0-20C°, 0.5-1C"},
                {25, 4, "90-100% SoC, 40-60C°, >2.0C"}};
    for (const auto& r : rows) {
        QAccessibleInterface* c = table->tableInterface()->cellAt(r.row, r.column);
        ASSERT_NE(c, nullptr) << r.row << "," << r.column;
        EXPECT_FALSE(cell(r.row, r.column).isEmpty());
        EXPECT_EQ(c->text(QAccessible::Name), cell(r.row, r.column)) << r.row << "," << r.column;
        EXPECT_EQ(c->text(QAccessible::Description), QString::fromUtf8(r.ranges));
    }
    // The labels stand in the same rows and columns.
    EXPECT_EQ(table->tableInterface()->cellAt(7, 0)->text(QAccessible::Name), "10-30% SoC");
    EXPECT_EQ(table->tableInterface()->cellAt(0, 2)->text(QAccessible::Name), QString::fromUtf8("0-20C°"));
    EXPECT_EQ(table->tableInterface()->cellAt(6, 5)->text(QAccessible::Name), "0.5-1C");
}

TEST_F(MetricsTabTest, GridLinesAreBlackTwoPixelsAtTheLabelColumnAndEveryFifthRow) {
    window.show();
    app::MetricsMatrixTable* m = tab()->MetricsMatrix;
    const QImage image = m->viewport()->grab().toImage();
    const auto dark = [&](int x, int y) { return qGray(image.pixel(x, y)) < 64; };
    const int afterLabels = m->columnWidth(0);
    const int afterNumbers =
        afterLabels + m->columnWidth(1) + m->columnWidth(2) + m->columnWidth(3) + m->columnWidth(4);
    const int underBlock = 6 * app::MetricsMatrixTable::kRowHeight;
    EXPECT_TRUE(dark(afterLabels, 10) && dark(afterLabels - 1, 10));
    EXPECT_TRUE(dark(afterNumbers, 10));
    EXPECT_TRUE(dark(m->columnWidth(0) + 10, underBlock) && dark(m->columnWidth(0) + 10, underBlock - 1));
    EXPECT_FALSE(dark(afterLabels - 10, 10)) << "no line inside the label column";
    EXPECT_FALSE(dark(afterLabels + 10, 2 * app::MetricsMatrixTable::kRowHeight)) << "only every fifth row";
}

TEST_F(MetricsTabTest, DropsFollowTheTxtRuleAndKeepTheSelectedInstance) {
    const std::string file = writeMetricsFile(dir, 3);
    const std::string copy = dir / "copy.txt";
    std::filesystem::copy_file(file, copy);
    const std::string upper = dir / "a.TXT";
    std::filesystem::copy_file(file, upper);

    EXPECT_FALSE(drop({QUrl("https://example.invalid/a.txt")}, true)) << "text is not a list of files";
    // Only local files: nothing else could be opened.
    for (const char* url :
         {"https://example.invalid/metrics.txt", "ftp://host/metrics.txt", "sftp://h/m.txt"}) {
        EXPECT_FALSE(drop({QUrl(url)})) << url;
    }
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: -");
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(upper))}));
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: -") << "a.TXT is not shown";
    EXPECT_TRUE(lastConsoleLine().contains("a.TXT")) << lastConsoleLine().toStdString();

    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(file)),
                      QUrl::fromLocalFile(QString::fromStdString(copy))}));
    EXPECT_EQ(tab()->selectedMetricsFileToDisplay().toStdString(), file);
    QTest::mouseClick(tab()->nextInstance, Qt::LeftButton);
    QTest::mouseClick(tab()->nextInstance, Qt::LeftButton);
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: 3");

    // Another file dropped while instance 3 is selected shows its instance 3.
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(copy))}));
    EXPECT_EQ(tab()->selectedMetricsFileToDisplay().toStdString(), copy);
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: 3");
    EXPECT_EQ(tab()->fields[0]->text(), QString::number(sampleMetrics(3, 3000).secsLifeSpan));
}

// After a fetch in which instance 3 did not answer, the file holds batteries 1, 2 and 4 as blocks
// 1 to 3: the label over each block names its battery, while "<" and ">" step through the blocks.
TEST_F(MetricsTabTest, TheLabelNamesTheBatteryWhoseValuesAreShown) {
    metrics::MetricsFileStore store(dir.path());
    std::tm stamp{};
    stamp.tm_year = 125;
    stamp.tm_mday = 2;
    for (const std::uint16_t battery : {std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{4}}) {
        store.storeMetricsInActiveFile(sampleMetrics(battery, 1000u * battery), stamp);
    }
    EXPECT_TRUE(drop({QUrl::fromLocalFile(QString::fromStdString(store.activeMetricsFileName().string()))}));
    const std::vector<std::pair<const char*, std::uint32_t>> expected = {
        {"Instance: 1", sampleMetrics(1, 1000).secsLifeSpan},
        {"Instance: 2", sampleMetrics(2, 2000).secsLifeSpan},
        {"Instance: 4", sampleMetrics(4, 4000).secsLifeSpan}};
    for (std::size_t block = 0; block < expected.size(); ++block) {
        SCOPED_TRACE(block + 1);
        EXPECT_EQ(tab()->instanceLabel->text(), expected[block].first);
        EXPECT_EQ(tab()->fields[0]->text(), QString::number(expected[block].second));
        QTest::mouseClick(tab()->nextInstance, Qt::LeftButton);
    }
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: 4") << "past the last block it stays there";
}

TEST_F(MetricsTabTest, DamagedFileSaysWhatIsWrongInOneLineAndTheTabGoesOn) {
    const std::string good = writeMetricsFile(dir, 2);
    const std::string damaged = dir / "damaged.txt";
    {
        std::string content = readFile(good);
        content.replace(content.find("secsInOvervoltage: "), 21, "secsInOvervoltage: x");
        std::ofstream(damaged, std::ios::binary) << content;
    }
    openWithDialog({QString::fromStdString(good)});
    const int before = tab()->console->count();

    openWithDialog({QString::fromStdString(damaged)});
    EXPECT_EQ(tab()->console->count(), before + 1);
    EXPECT_TRUE(lastConsoleLine().startsWith("damaged.txt, instance 1 not shown: line 14"))
        << lastConsoleLine().toStdString();
    EXPECT_EQ(tab()->fields[0]->text(), "") << "no values of another file beside its label";
    EXPECT_EQ(cell(1, 1), "");
    // The count of line 1 still lets the other instance be reached.
    QTest::mouseClick(tab()->nextInstance, Qt::LeftButton);
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: 2");
    EXPECT_EQ(tab()->fields[0]->text(), QString::number(sampleMetrics(2, 2000).secsLifeSpan));

    openWithDialog({QString::fromStdString(dir / "missing.txt")});
    EXPECT_TRUE(lastConsoleLine().contains("cannot open")) << lastConsoleLine().toStdString();
    openWithDialog({QString::fromStdString(good)});
    EXPECT_EQ(tab()->fields[0]->text(), QString::number(sampleMetrics(2, 2000).secsLifeSpan));
}

TEST_F(MetricsTabTest, GetAllMetricsSendsTheRequestAfterTheWakeUpBytes) {
    Pty pty;
    ASSERT_NO_FATAL_FAILURE(openPort(pty.slavePath()));
    pty.readFor(50ms);

    QTest::mouseClick(tab()->getAllMetrics, Qt::LeftButton);
    // Behind the tab's own mode step, if that is still pending.
    const bus::Bytes sent = pty.readFor(1500ms);
    bus::Bytes expected(10, 0x00);
    const bus::Bytes request{0xAA, 0x50, 0x01, 0x0D, 0x01, 0x04, 0x00, 0x04, 0x00, 0x04,
                             0x00, 0x04, 0x00, 0x04, 0x00, 0x04, 0x00, 0x00, 0xF1};
    expected.insert(expected.end(), request.begin(), request.end());
    EXPECT_NE(std::search(sent.begin(), sent.end(), expected.begin(), expected.end()), sent.end());
    ASSERT_TRUE(waitUntil([&] { return tab()->console->count() > 0; }));
    EXPECT_EQ(tab()->console->item(0)->text(), "Fetching instance 1");
}

TEST_F(MetricsTabTest, FetchFromTheSimulatorIsStoredAndShownAtInstanceOne) {
    const std::string link = dir / "bank";
    SimProcess sim(ZANST_SIM_PATH, {"bank", "--batteries", "4", "--quiet", "--link", link});
    ASSERT_TRUE(sim.waitForLine(" ready ", 10s)) << sim.transcript();
    ASSERT_NO_FATAL_FAILURE(openPort(link));

    QTest::mouseClick(tab()->getAllMetrics, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return lastConsoleLine().startsWith("Metrics fetch done"); }, 15s));
    EXPECT_EQ(lastConsoleLine(), "Metrics fetch done: 4 of 4 instances stored");
    EXPECT_TRUE(tab()->archive().activeFile().startsWith(app::metricsFolder() + "/metrics_"));
    EXPECT_EQ(tab()->selectedMetricsFileToDisplay(), tab()->archive().activeFile());
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: 1");
    sim::BankConfig bank;
    bank.batteries = 4;
    const metrics::MetricsMetadata first = sim::simulatedMetrics(bank, 1);
    EXPECT_EQ(tab()->fields[0]->text(), QString::number(first.secsLifeSpan));
    EXPECT_EQ(cell(1, 1), text(metrics::metricsSecondsFormatting(first.timeMatrix[0][0][0])));
    QTest::mouseClick(tab()->nextInstance, Qt::LeftButton);
    QTest::mouseClick(tab()->nextInstance, Qt::LeftButton);
    QTest::mouseClick(tab()->nextInstance, Qt::LeftButton);
    EXPECT_EQ(tab()->instanceLabel->text(), "Instance: 4");
    EXPECT_EQ(tab()->fields[1]->text(), QString::number(sim::simulatedMetrics(bank, 4).cyclesBeforeEOL));
}

} // namespace
} // namespace zanst::test
