// The tool's bus engine against zanst-sim over pseudo-terminals, in each of its three bus modes:
// the simulator plays the bank, the BMS, or the rest of the ring, and reports what it saw.

#include "e2e_tool.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <sstream>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using bank::Column;
using bus::Mode;
using sniffer::BmsField;

// The number after `key` in a simulator line.
std::optional<int> intAfter(const std::string& line, const std::string& key) {
    const auto at = line.find(key);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    return std::atoi(line.c_str() + at + key.size());
}

// The text after `key` up to the next blank.
std::string wordAfter(const std::string& line, const std::string& key) {
    const auto at = line.find(key);
    if (at == std::string::npos) {
        return {};
    }
    const auto start = at + key.size();
    return line.substr(start, line.find(' ', start) - start);
}

// "mV=3301,3302,..." as numbers.
std::vector<int> cellsOf(const std::string& line) {
    std::vector<int> out;
    std::stringstream list(wordAfter(line, " mV="));
    for (std::string item; std::getline(list, item, ',');) {
        out.push_back(std::atoi(item.c_str()));
    }
    return out;
}

double amps(const std::string& text) {
    // "L: 20", "H: -7.5", "20.000"; the decimal point may be the locale's.
    std::string t;
    for (char c : text) {
        t += c == ',' ? '.' : c;
    }
    const auto colon = t.find(':');
    return std::atof(t.c_str() + (colon == std::string::npos ? 0 : colon + 1));
}

class SimulatorE2E : public testing::Test {
  protected:
    std::unique_ptr<SimProcess> start(std::vector<std::string> args) {
        return startSim(std::move(args), link);
    }

    TempDir dir;
    const std::string link = dir / "port";
    Tool tool;
};

// The simulator's bytes as fast as the pseudo-terminal takes them, or paced as on a real
// 250000-baud line (40 us a byte), so that the tool also meets answers trickling in.
class PacedE2E : public SimulatorE2E, public testing::WithParamInterface<int> {
  protected:
    std::unique_ptr<SimProcess> startPaced(std::vector<std::string> args) {
        if (GetParam() > 0) {
            args.push_back("--slow-byte-us");
            args.push_back(std::to_string(GetParam()));
        }
        return start(std::move(args));
    }
};

INSTANTIATE_TEST_SUITE_P(Pacing, PacedE2E, testing::Values(0, 40), [](const testing::TestParamInfo<int>& p) {
    return p.param == 0 ? std::string("Unpaced") : std::string("LineSpeed");
});

TEST_P(PacedE2E, BatteryTesterEnumeratesAndPollsTheBankAndSendsItsSetpoint) {
    auto sim =
        startPaced({"bank", "--preset", "0xA607", "--batteries", "2", "--current", "20", "--no-noise"});
    ASSERT_TRUE(tool.openPort(link));
    tool.selectMode(Mode::BatteryTester);

    ASSERT_TRUE(sim->waitForLine("bank info: 16 records", kLongWait)) << sim->transcript();
    ASSERT_TRUE(waitUntil([&] { return measured(tool.lastTable(), 16); }, kLongWait));
    const bank::CellTable table = tool.lastTable();
    const std::vector<int> mv = millivolts(table);
    for (int id = 1; id <= 16; ++id) {
        const auto& row = table.rows[static_cast<std::size_t>(id - 1)];
        SCOPED_TRACE("balancer " + std::to_string(id));
        EXPECT_EQ(row[Column::CellId], std::to_string(id));
        EXPECT_EQ(row[Column::Serial], id <= 8 ? "SIMA607B001" : "SIMA607B002");
        EXPECT_EQ(row[Column::ProdID], "A607");
        EXPECT_EQ(row[Column::Firmware], "v01.04");
        EXPECT_EQ(row[Column::BootLoader], "v02.01");
        EXPECT_GT(mv[static_cast<std::size_t>(id - 1)], 3250);
        EXPECT_LT(mv[static_cast<std::size_t>(id - 1)], 3500);
        // Current sensors on the first and third cell of every four: low, then high range.
        switch ((id - 1) % 4) {
        case 0:
            EXPECT_EQ(row[Column::Current].substr(0, 3), "L: ");
            EXPECT_NEAR(amps(row[Column::Current]), 20.0, 0.05);
            break;
        case 2:
            EXPECT_EQ(row[Column::Current].substr(0, 3), "H: ");
            EXPECT_NEAR(amps(row[Column::Current]), 20.0, 0.05);
            break;
        default:
            EXPECT_EQ(row[Column::Current], "-");
        }
    }
    // The first battery's third cell runs high; the other cells lie within a few mV.
    std::vector<int> others = mv;
    others.erase(others.begin() + 2);
    const auto [lo, hi] = std::minmax_element(others.begin(), others.end());
    EXPECT_LT(*hi - *lo, 30);
    EXPECT_GT(mv[2] - *hi, 40);
    // The bank values follow the table within the same tick.
    EXPECT_TRUE(waitUntil([&] { return std::abs(amps(tool.bankCurrent()) - 20.0) < 0.05; }, kLongWait))
        << tool.bankCurrent();

    // The setpoint the tool shows is the one the balancers receive, poll after poll.
    ASSERT_TRUE(sim->waitForLine("measurement: setpoint", kLongWait));
    ASSERT_TRUE(sim->waitForLine("measurement: setpoint", kLongWait));
    const auto received = [&] {
        std::vector<int> out;
        for (const auto& l : sim->linesWith("bank measurement: setpoint ")) {
            out.push_back(*intAfter(l, "setpoint "));
        }
        return out;
    };
    const auto shown = [&] {
        std::vector<int> out;
        for (const auto& s : tool.setpoints()) {
            if (const auto v = unitsOf(s); v && *v > 0) { // before the enumeration there is none
                out.push_back(*v);
            }
        }
        return out;
    };
    // Either side may be one poll ahead; what both have must agree.
    const auto agree = [&] {
        const std::vector<int> a = received();
        const std::vector<int> b = shown();
        const std::size_t n = std::min(a.size(), b.size());
        return n >= 2 && std::equal(a.begin(), a.begin() + static_cast<long>(n), b.begin());
    };
    ASSERT_TRUE(waitUntil(agree, kLongWait)) << sim->transcript();
    EXPECT_EQ(received().front(), 3400) << "the first poll knows no voltages: the lowest setpoint";
    const int before = received().back();
    EXPECT_GT(before, 3400) << "20 A at the default 5 mV/A lifts the setpoint above its floor";

    // "Setpoint correction" 10 mV/A instead of 5: 100 mV more at 20 A.
    const std::size_t polls = received().size();
    tool.setSetpointCorrection(10);
    ASSERT_TRUE(waitUntil([&] { return received().size() >= polls + 2; }, kLongWait));
    const int after = received().back();
    EXPECT_NEAR(after - before, 100, 6) << sim->transcript();
    ASSERT_TRUE(waitUntil(agree, kLongWait));

    EXPECT_EQ(sim->stop(), 0);
    const auto summary = sim->linesWith("summary requests=");
    ASSERT_EQ(summary.size(), 1U) << sim->transcript();
    EXPECT_NE(summary[0].find(" dropped=0 "), std::string::npos) << summary[0];
}

TEST_F(SimulatorE2E, BatteryTesterEmptiesTheTableWhenTheBankFallsSilent) {
    // The first full table comes about four seconds after the start; the silence well after it.
    auto sim = start({"bank", "--silent-after", "8"});
    ASSERT_TRUE(tool.openPort(link));
    tool.selectMode(Mode::BatteryTester);
    ASSERT_TRUE(waitUntil([&] { return measured(tool.lastTable(), 4); }, kLongWait))
        << "the table did not fill before the silence\n"
        << sim->transcript();
    EXPECT_EQ(tool.lastTable().rows[0][Column::Serial], "SIMA602B001");

    ASSERT_TRUE(sim->waitForLine("silent from now on", kLongWait));
    const auto silent = SteadyClock::now();
    ASSERT_TRUE(waitUntil([&] { return tool.tableCount() > 0 && tool.lastTable().rows.empty(); }, kLongWait));
    // The rows stay while up to three ticks pass without an answer; the fourth empties them. The last
    // answer came at most a tick before the silence, or its poll went unanswered: 2 to 4 s after it.
    const auto tables = tool.tables();
    const auto empty = std::find_if(tables.begin(), tables.end(), [&](const EmittedTable& t) {
        return t.at > silent && t.table.rows.empty();
    });
    ASSERT_NE(empty, tables.end());
    EXPECT_GE(empty->at - silent, 1500ms) << "emptied before the bus was silent for three ticks";
    EXPECT_LE(empty->at - silent, 6000ms);
    EXPECT_TRUE(measured(std::prev(empty)->table, 4)) << "full until it empties";

    const bus::BusState s = tool.snapshot();
    EXPECT_EQ(s.numCells, 0);
    EXPECT_FALSE(s.balancersInfo);
}

TEST_P(PacedE2E, BmsTesterAnswersEveryRequestOfTheBmsCorrectly) {
    // The tab's sliders: two batteries, cell 2 at 3.456 V, -7 A; published as the window does.
    emulator::BankSettings settings;
    settings.fwVersionIndex = 2;
    settings.numBatText = "2";
    settings.voltageMv[1] = 3456;
    settings.tempTenths[3] = 315;
    settings.currentA = -7;
    tool.publishSettings(settings);
    tool.applyPreset(0, false);
    tool.selectMode(Mode::BmsTester);

    auto sim = startPaced({"bms", "--current", "-7.5"});
    ASSERT_TRUE(tool.openPort(link));

    const auto info = sim->waitForLine("bms info #", kLongWait);
    ASSERT_TRUE(info) << sim->transcript();
    EXPECT_NE(info->find(" ok balancers=8 product=A602 serials=HQ2200A6021,HQ2200A6022"), std::string::npos)
        << *info;
    for (int i = 0; i < 4; ++i) {
        const auto m = sim->waitForLine("bms measurement #", kLongWait);
        ASSERT_TRUE(m) << sim->transcript();
        EXPECT_NE(m->find(" ok balancers=8 "), std::string::npos) << *m;
        EXPECT_EQ(cellsOf(*m), (std::vector<int>{3300, 3456, 3300, 3300, 3300, 3456, 3300, 3300})) << *m;
        EXPECT_EQ(wordAfter(*m, " A="), "-7.000") << *m;
        EXPECT_EQ(wordAfter(*m, " C="), "20.0..31.5") << *m;
    }
    EXPECT_TRUE(waitUntil([&] { return tool.emulatorIdentity() == "B75C/ZBMS2400001"; }, kLongWait))
        << tool.emulatorIdentity();
    EXPECT_TRUE(waitUntil([&] { return tool.emulatorMeasurement().ends_with("/-7.5"); }, kLongWait))
        << tool.emulatorMeasurement();

    EXPECT_EQ(sim->stop(), 0);
    const auto summary = sim->linesWith("summary exchanges=");
    ASSERT_EQ(summary.size(), 1U) << sim->transcript();
    const int exchanges = *intAfter(summary[0], "exchanges=");
    EXPECT_GE(exchanges, 5);
    EXPECT_EQ(*intAfter(summary[0], " ok="), exchanges) << sim->transcript();
    EXPECT_EQ(*intAfter(summary[0], " failed="), 0);
    EXPECT_EQ(*intAfter(summary[0], " timeouts="), 0);
}

TEST_P(PacedE2E, SnifferRepeatsEveryByteOfTheRingAndDecodesIt) {
    tool.selectMode(Mode::Sniffer);
    auto sim = startPaced({"ring", "--batteries", "2", "--current", "10", "--no-noise"});
    ASSERT_TRUE(tool.openPort(link));

    std::vector<std::string> exchanges;
    for (int i = 0; i < 5; ++i) {
        const auto line = sim->waitForLine(" echo=", kLongWait);
        ASSERT_TRUE(line) << sim->transcript();
        EXPECT_NE(line->find(" ok balancers=8"), std::string::npos) << *line;
        EXPECT_NE(line->find(" echo_ok"), std::string::npos) << *line;
        exchanges.push_back(*line);
    }
    EXPECT_NE(exchanges[0].find("ring info #1 ok balancers=8 product=A602 serials=SIMA602B001,SIMA602B002"),
              std::string::npos)
        << exchanges[0];

    // The "BMS info" fields: what the simulated BMS announced. The tool decodes on its own thread,
    // so the echo may reach the simulator before the fields and rows are out.
    ASSERT_TRUE(waitUntil([&] { return tool.bmsInfo().size() == sniffer::kBmsFieldCount; }, kLongWait));
    const auto info = tool.bmsInfo();
    const auto field = [&](BmsField f) {
        const auto it = info.find(static_cast<int>(f));
        return it == info.end() ? std::string("(none)") : it->second;
    };
    EXPECT_EQ(field(BmsField::Pid), "B75C");
    EXPECT_EQ(field(BmsField::Serial), "ZBMS2400001");
    EXPECT_NEAR(amps(field(BmsField::BmsCurrent)), 20.0, 1e-9) << "10 A through each of two batteries";
    EXPECT_EQ(field(BmsField::BalancerSetpoint), "3400") << "a bank at rest asks for the lowest setpoint";
    // One string of four cells: the sum of the first battery's cells, in 0.1 V.
    const std::vector<int> cells = cellsOf(exchanges.back());
    ASSERT_EQ(cells.size(), 8U);
    EXPECT_NEAR(unitsOf(field(BmsField::SystemVbat)).value_or(0),
                (cells[0] + cells[1] + cells[2] + cells[3]) / 100.0, 1.5);

    // The rows are what went over the wire: every measurement answer shows up as a table.
    int matched = 0;
    for (const auto& line : exchanges) {
        const std::vector<int> mv = cellsOf(line);
        if (mv.empty()) {
            continue;
        }
        const bool shownAsSent = waitUntil(
            [&] {
                const auto tables = tool.tables();
                return std::any_of(tables.begin(), tables.end(),
                                   [&](const EmittedTable& t) { return millivolts(t.table) == mv; });
            },
            kLongWait);
        EXPECT_TRUE(shownAsSent) << "no table shows " << line;
        matched += shownAsSent ? 1 : 0;
    }
    EXPECT_GE(matched, 3);
    const bank::CellTable last = tool.lastTable();
    ASSERT_TRUE(measured(last, 8));
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(last.rows[i][Column::Serial], i < 4 ? "SIMA602B001" : "SIMA602B002");
        EXPECT_EQ(last.rows[i][Column::CellId], std::to_string(i + 1));
    }

    EXPECT_EQ(sim->stop(), 0);
    const auto summary = sim->linesWith("summary exchanges=");
    ASSERT_EQ(summary.size(), 1U) << sim->transcript();
    EXPECT_EQ(*intAfter(summary[0], " failed="), 0) << summary[0];
    EXPECT_EQ(*intAfter(summary[0], " bytes_differing="), 0) << summary[0];
    EXPECT_EQ(*intAfter(summary[0], " bad_echoes="), 0) << summary[0];
    EXPECT_EQ(*intAfter(summary[0], " stray="), 0) << summary[0];
    EXPECT_EQ(*intAfter(summary[0], " bytes_sent="), *intAfter(summary[0], " bytes_back=")) << summary[0];
}

} // namespace
} // namespace zanst::test
