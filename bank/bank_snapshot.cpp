#include "bank_snapshot.hpp"

#include "bus/records.hpp"

namespace zanst::bank {

BankSnapshot takeSnapshot(const bus::BusState& state) {
    const int count = bus::walkableCells(state.numCells);
    const auto& tables = state.tables;
    BankSnapshot snapshot;
    snapshot.balancers.resize(static_cast<std::size_t>(count));
    int battery = 0;
    for (int id = 1; id <= count; ++id) {
        const auto at = static_cast<std::size_t>(id);
        const bus::balancerinfo& info = tables.balInfo[at];
        const bus::cellmeasurements& cell = tables.balancer[at];
        const bus::calibrationdata& cal = tables.balCalData[at];
        BalancerReading& r = snapshot.balancers[at - 1];
        r.id = info.id;
        r.cellId = cell.id;
        if (cell.measurement != 0) {
            r.millivolts = bus::cellVoltageMv(cell.measurement);
        }
        r.milliamps = bus::cellCurrentMa(cell.measurement);
        r.tenthsCelsius = bus::temperatureTenths(cell.temperature);
        r.infoFlags = info.flags;
        r.statusFlags = cell.flags;
        r.serial = info.serialText();
        r.productId = info.productId;
        r.capacity = info.capacity;
        r.fwVersion = info.fwVersion;
        r.blVersion = info.blVersion;
        r.hwRevision = info.hwRevision;
        r.bootMode = info.bootMode;
        r.vGain = cal.vGain;
        r.iGain = cal.iGain;
        r.iOffset = cal.iOffset;
        r.crcErrors = state.health.balancers[at].crcErrors;
        r.missedAnswers = state.health.balancers[at].missedAnswers;
        if (id > 1 && r.serial != snapshot.balancers[at - 2].serial) {
            ++battery;
        }
        r.battery = battery;
    }
    return snapshot;
}

} // namespace zanst::bank
