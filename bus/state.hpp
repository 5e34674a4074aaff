#pragma once
// Program-wide mode flags, counters and tables. One BusState is owned by the bus engine;
// everything on the bus thread gets it by reference.

#include "health.hpp"
#include "mode.hpp"
#include "tables.hpp"

#include <bitset>

namespace zanst::bus {

struct BusState {
    Mode selectedMode = Mode::Connection;

    bool bBatteryMode = false;      // "BMS tester": received bytes go to the emulator
    bool bSniffer = false;          // "Data Sniffer": received bytes are echoed and monitored
    bool bTestMode = false;         // "Calibration": balancers were asked to enter test mode
    bool bInBootloaderMode = false; // a balancer reports its boot loader
    bool bUpdaterMode = false;      // a firmware update owns the bus
    bool balancersInfo = false;     // the balancer info list is complete
    bool frameReceiving = false;    // the master-side receiver is inside a frame
    int numCells = 0;               // balancers found on the bus (may exceed the tables)
    int battCommTimeout = 0;        // poll ticks since the last frame start
    int commandPending = 0;         // command of the frame being received
    int ackReceived = 0;            // command of the last completed frame
    // Commands of the frames completed since the updater last cleared them: its waits look here
    // too, so that a poll answer coming back after the awaited frame does not hide it.
    std::bitset<256> acksSeen;
    bool flashBsy = false; // firmware block in flight
    bool flashRdy = false; // boot loader ready / all blocks sent

    BalancerTables tables;
    BusHealth health;
};

} // namespace zanst::bus
