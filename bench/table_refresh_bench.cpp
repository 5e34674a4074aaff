// Cost of one table refresh with 256 balancers: the snapshot taken from the balancer tables, its rows
// computed, handed to the grid model and painted by the grid (offscreen), and one recording line.

#include "bank/cell_rows.hpp"
#include "offscreen.hpp"
#include "recording/recorder.hpp"
#include "support/records.hpp"
#include "ui/cell_grid.hpp"

#include <QApplication>
#include <QTableView>

#include <benchmark/benchmark.h>

namespace {

namespace test = zanst::test;
using zanst::bus::BusState;

// A full bank: every table entry in use, batteries of 16, a current sensor per battery.
BusState fullBank(int offsetMv = 0) {
    BusState s;
    for (int id = 1; id <= 255; ++id) {
        test::InfoFields f;
        f.id = static_cast<std::uint16_t>(id);
        f.flags = id % 16 == 1 ? 0x03 : 0x00;
        f.serial = "ZB" + std::to_string(240100000 + (id - 1) / 16);
        s.tables.storeInfo(test::infoRecord(f));
        s.tables.storeMeasurement(
            test::measurementRecord(static_cast<std::uint16_t>(id), 0x40,
                                    test::measurementWord(2650 + 5 * id + offsetMv, -1250 - offsetMv),
                                    static_cast<std::int16_t>((250 + offsetMv) * 32), 0));
    }
    s.numCells = 256; // one more than the tables hold: the refresh stops at id 255
    return s;
}

void BM_RowsComputed(benchmark::State& state) {
    const BusState s = fullBank();
    for (auto _ : state) {
        zanst::bank::CellTable table = zanst::bank::UpdateCellData(zanst::bank::takeSnapshot(s), {});
        benchmark::DoNotOptimize(table.rows.data());
    }
}
BENCHMARK(BM_RowsComputed)->Unit(benchmark::kMicrosecond);

// Every refresh brings new voltages, currents and temperatures, as a poll does.
void BM_RowsComputedAndShown(benchmark::State& state) {
    const BusState banks[2] = {fullBank(0), fullBank(1)};
    int turn = 0;
    zanst::app::CellTableModel model;
    QTableView* view = zanst::app::makeCellGrid(&model, QStringLiteral("grid"), QStringLiteral("grid"));
    view->resize(850, 500); // as on the tab
    view->show();
    QApplication::processEvents();
    for (auto _ : state) {
        model.setTable(zanst::bank::UpdateCellData(zanst::bank::takeSnapshot(banks[turn]), {}));
        turn ^= 1;
        view->viewport()->repaint(); // paints the visible rows now
    }
    delete view;
}
BENCHMARK(BM_RowsComputedAndShown)->Unit(benchmark::kMicrosecond);

void BM_ModelOnly(benchmark::State& state) {
    const zanst::bank::CellTable table =
        zanst::bank::UpdateCellData(zanst::bank::takeSnapshot(fullBank()), {});
    zanst::app::CellTableModel model;
    QTableView* view = zanst::app::makeCellGrid(&model, QStringLiteral("grid"), QStringLiteral("grid"));
    view->resize(850, 500);
    view->show();
    QApplication::processEvents();
    for (auto _ : state) {
        model.setTable(table);
    }
    delete view;
}
BENCHMARK(BM_ModelOnly)->Unit(benchmark::kMicrosecond);

void BM_PaintOnly(benchmark::State& state) {
    zanst::app::CellTableModel model;
    QTableView* view = zanst::app::makeCellGrid(&model, QStringLiteral("grid"), QStringLiteral("grid"));
    view->resize(850, 500);
    view->show();
    model.setTable(zanst::bank::UpdateCellData(zanst::bank::takeSnapshot(fullBank()), {}));
    QApplication::processEvents();
    for (auto _ : state) {
        view->viewport()->repaint();
    }
    delete view;
}
BENCHMARK(BM_PaintOnly)->Unit(benchmark::kMicrosecond);

// The grid with no balancer: backgrounds, lines and check boxes only.
void BM_PaintEmpty(benchmark::State& state) {
    zanst::app::CellTableModel model;
    QTableView* view = zanst::app::makeCellGrid(&model, QStringLiteral("grid"), QStringLiteral("grid"));
    view->resize(850, 500);
    view->show();
    QApplication::processEvents();
    for (auto _ : state) {
        view->viewport()->repaint();
    }
    delete view;
}
BENCHMARK(BM_PaintEmpty)->Unit(benchmark::kMicrosecond);

void BM_RecordingLineOfAllColumns(benchmark::State& state) {
    const zanst::bank::CellTable table =
        zanst::bank::UpdateCellData(zanst::bank::takeSnapshot(fullBank()), {});
    zanst::recording::RowSelection all{};
    all.fill(true);
    const auto columns = zanst::recording::presetColumns(zanst::recording::RecordingPreset::All);
    for (auto _ : state) {
        std::string line = zanst::recording::recordingLine(table, all, columns, {});
        benchmark::DoNotOptimize(line.data());
    }
}
BENCHMARK(BM_RecordingLineOfAllColumns)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    zanst::bench::setUpOffscreen();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
