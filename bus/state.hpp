#pragma once
// Program-wide mode flags, counters and tables. One BusState is owned by the bus engine;
// everything on the bus thread gets it by reference.

#include "health.hpp"
#include "tables.hpp"

namespace zanst::bus {

// Tabs in strip order; the selected tab is the operating mode.
enum class Tab {
    Connection = 0,
    Actions = 1,
    Calibration = 2,
    BatteryTester = 3, // member tabBMS
    BmsTester = 4,     // member tabBattery
    Sniffer = 5,
    Metrics = 6,
};

struct BusState {
    Tab selectedTab = Tab::Connection;

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
    bool flashBsy = false;          // firmware block in flight
    bool flashRdy = false;          // boot loader ready / all blocks sent

    BalancerTables tables;
    BusHealth health;
};

} // namespace zanst::bus
