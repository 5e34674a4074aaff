// What the cell grid tells its view, offscreen: only the cells whose text or colour changed, at
// most every kNoticeMs however fast the snapshots come, nothing while the view is hidden; and the
// values it holds are the newest whenever anything reads them.

#include "bank/cell_rows.hpp"
#include "support/qt_wait.hpp"
#include "ui/bank_summary_view.hpp"
#include "ui/cell_grid.hpp"

#include <QSignalSpy>
#include <QTableView>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using app::CellTableModel;
using bank::col;
using bank::Column;

bank::BankSnapshot cells(int count, int millivolts = 3300) {
    bank::BankSnapshot s;
    for (int i = 0; i < count; ++i) {
        bank::BalancerReading r;
        r.id = i + 1;
        r.cellId = i + 1;
        r.millivolts = millivolts + i;
        r.tenthsCelsius = 250;
        r.serial = "HQ2200A6021";
        s.balancers.push_back(r);
    }
    return s;
}

struct Notice {
    int top, left, bottom, right;
    bool operator==(const Notice&) const = default;
};

std::vector<Notice> notices(const QSignalSpy& spy) {
    std::vector<Notice> out;
    for (const QList<QVariant>& args : spy) {
        const auto a = args.at(0).value<QModelIndex>();
        const auto b = args.at(1).value<QModelIndex>();
        out.push_back({a.row(), a.column(), b.row(), b.column()});
    }
    return out;
}

struct NoticeCase {
    const char* name;
    bank::BankSnapshot before;
    std::function<bank::BankSnapshot()> after;
    std::vector<Notice> expected;
};

const int kVolt = col(Column::Voltage);
const int kTemp = col(Column::Temp);
const int kLast = CellTableModel::kColumns - 1;

const NoticeCase kNoticeCases[] = {
    {"NothingChangedNothingIsSaid", cells(8), [] { return cells(8); }, {}},
    {"OneVoltageIsOneCell",
     cells(8),
     [] {
         bank::BankSnapshot s = cells(8);
         s.balancers[4].millivolts = 3310;
         return s;
     },
     {{4, kVolt, 4, kVolt}}},
    {"NeighbouringRowsAreOneRunOverTheirColumns",
     cells(8),
     [] {
         bank::BankSnapshot s = cells(8);
         s.balancers[2].millivolts = 3320;
         s.balancers[3].tenthsCelsius = 300;
         s.balancers[6].tenthsCelsius = 301;
         return s;
     },
     {{2, kVolt, 3, kTemp}, {6, kTemp, 6, kTemp}}},
    {"AVoltageOutOfTheBandAlsoChangesItsColour",
     cells(8),
     [] {
         bank::BankSnapshot s = cells(8);
         s.balancers[1].millivolts = 2500;
         return s;
     },
     {{1, kVolt, 1, kVolt}}},
    {"RowsPastFewerBalancersAreEmptiedWhole", cells(8), [] { return cells(6); }, {{6, 0, 7, kLast}}},
    {"NewBalancersAreNewRowsWhole", cells(6), [] { return cells(8); }, {{6, 0, 7, kLast}}},
};

class GridNotice : public testing::TestWithParam<NoticeCase> {};

TEST_P(GridNotice, TellsTheViewOnlyTheCellsThatChanged) {
    const NoticeCase& c = GetParam();
    CellTableModel model;
    model.setSnapshot(c.before);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    ASSERT_TRUE(waitUntil([&] { return changed.count() > 0; }, 1000ms));
    pump(std::chrono::milliseconds(CellTableModel::kNoticeMs + 50));
    changed.clear();

    model.setSnapshot(c.after());
    pump(std::chrono::milliseconds(CellTableModel::kNoticeMs + 100));
    EXPECT_EQ(notices(changed), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Snapshots, GridNotice, testing::ValuesIn(kNoticeCases),
                         [](const testing::TestParamInfo<NoticeCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(GridNotice, FastSnapshotsAreToldAtTheGridsPaceAndReadAsTheNewest) {
    CellTableModel model;
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QElapsedTimer clock;
    clock.start();
    // Forty snapshots over a second, every cell's voltage new in each.
    std::vector<qint64> noticedAt;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&] { noticedAt.push_back(clock.elapsed()); });
    for (int i = 0; i < 40; ++i) {
        model.setSnapshot(cells(160, 3300 + i));
        EXPECT_EQ(model.text(0, kVolt), QString::fromStdString(bus::scaledText(3300 + i, 3)))
            << "a reader gets the newest values at once";
        pump(25ms);
    }
    pump(std::chrono::milliseconds(CellTableModel::kNoticeMs + 50));
    ASSERT_FALSE(noticedAt.empty());
    EXPECT_LE(noticedAt.size(), 1000U / CellTableModel::kNoticeMs + 2) << "at most every kNoticeMs";
    for (std::size_t i = 1; i < noticedAt.size(); ++i) {
        EXPECT_GE(noticedAt[i] - noticedAt[i - 1], CellTableModel::kNoticeMs - 20) << i;
    }
}

TEST(GridNotice, AHiddenViewHearsNothingUntilItIsShown) {
    auto page = std::make_unique<QWidget>();
    auto* model = new CellTableModel(page.get());
    auto* grid = app::makeCellGrid(model, QStringLiteral("grid"), QStringLiteral("grid"), page.get());
    page->show();
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    model->setSnapshot(cells(4));
    ASSERT_TRUE(waitUntil([&] { return changed.count() > 0; }, 1000ms)) << "a shown view is told";
    pump(std::chrono::milliseconds(CellTableModel::kNoticeMs + 50));
    grid->hide();
    changed.clear();
    for (int i = 0; i < 5; ++i) {
        model->setSnapshot(cells(4, 3400 + i));
        pump(std::chrono::milliseconds(CellTableModel::kNoticeMs));
    }
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(model->text(3, kVolt), "3.407") << "yet the rows are there for whoever reads them";
    model->setSnapshot(cells(4, 3500));
    grid->show();
    ASSERT_TRUE(waitUntil([&] { return changed.count() > 0; }, 1000ms)) << "told once it is shown";
    EXPECT_EQ(model->text(0, kVolt), "3.500");
}

TEST(SummaryNotice, ShowsTheNewestAtItsPaceAndOnlyWhileVisible) {
    app::BankSummaryView summary;
    summary.show();
    summary.showSnapshot(cells(4));
    ASSERT_TRUE(waitUntil([&] { return summary.cellsLine->text().contains("Cells: <b>4</b>"); }, 1000ms));
    summary.hide();
    summary.showSnapshot(cells(6));
    pump(std::chrono::milliseconds(app::BankSummaryView::kShowMs + 50));
    EXPECT_TRUE(summary.cellsLine->text().contains("Cells: <b>4</b>")) << "hidden: not worked out";
    EXPECT_EQ(summary.summary().cellCount, 6) << "but the summary asked for is the newest";
    summary.showSnapshot(cells(8));
    summary.show();
    EXPECT_TRUE(waitUntil([&] { return summary.cellsLine->text().contains("Cells: <b>8</b>"); }, 1000ms));
}

} // namespace
} // namespace zanst::test
