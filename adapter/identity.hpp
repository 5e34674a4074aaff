#pragma once
// What stands behind a serial port, read from sysfs: a USB adapter (its chip, driver, USB ids and
// strings, latency timer), a built-in UART, or a pseudo-terminal. The root of the sysfs tree is a
// parameter, so that tests hand in a tree of their own.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zanst::adapter {

enum class PortKind {
    UsbAdapter,     // a USB-serial adapter (ftdi_sio, ch341, cp210x, pl2303, cdc_acm, ...)
    BuiltInUart,    // a serial port of the machine itself (serial8250, pl011, ...)
    PseudoTerminal, // a /dev/pts device: a simulator, a network bridge
    NotSerial,      // nothing sysfs knows as a serial device
};

struct UsbIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string manufacturer; // the USB strings, empty where the device has none
    std::string product;
    std::string serial;
    std::string sysfsName; // the USB device's name in sysfs, e.g. "1-1.2"
};

struct AdapterIdentity {
    std::string portPath;   // as given
    std::string devicePath; // after following symbolic links, e.g. /dev/ttyUSB0
    std::string ttyName;    // e.g. ttyUSB0
    PortKind kind = PortKind::NotSerial;
    std::string driver; // the tty device's driver, e.g. ftdi_sio
    std::optional<UsbIdentity> usb;
    std::optional<int> latencyTimerMs; // where the driver has one (ftdi_sio)
    bool latencyWritable = false;      // this process may write it
    std::string latencyPath;           // the attribute in the tree that was read

    // The chip family as a technician knows it ("FTDI", "CH340/CH341", ...); empty when not USB.
    std::string chipName() const;
    // One line per fact, in words; a port that is not a USB adapter gets one line that says so.
    std::vector<std::string> describe() const;
};

inline constexpr const char* kSysfsRootVariable = "ZANST_SYSFS_ROOT";

// The sysfs root: $ZANST_SYSFS_ROOT when set and not empty, else /sys.
std::string sysfsRoot();

// Identifies the port at `portPath` (symbolic links followed) from the tree under `sysfsRoot`.
AdapterIdentity identify(const std::string& portPath, const std::string& sysfsRoot);

// "Latency timer 16 ms: ..." for a technician.
std::string latencyText(int ms);

// Where the kernel shows a usb-serial port's latency timer on a real system, for commands.
std::string latencyAttributePath(const std::string& ttyName);

} // namespace zanst::adapter
