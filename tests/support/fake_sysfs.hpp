#pragma once
// A sysfs tree in a temporary folder, laid out as the kernel lays out serial devices: the tty's
// class entry, its device with the driver link, the USB device above it with its ids and strings.
// Also a /dev folder with the device names and by-id links that point at them.

#include "support/sim_process.hpp"

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace zanst::test {

struct FakeUsbSerial {
    std::string tty = "ttyUSB0";
    std::string driver = "ftdi_sio";
    std::string vendor = "0403";
    std::string product = "6001";
    std::string manufacturerText = "FTDI";
    std::string productText = "FT232R USB UART";
    std::string serialText = "A50285BI";
    std::optional<int> latencyMs = 16;
    bool latencyReadOnly = false;
    std::string usbName = "1-2";
    bool acm = false; // cdc_acm: the tty sits on the USB interface itself
};

class FakeSysfs {
  public:
    FakeSysfs() {
        std::filesystem::create_directories(root() + "/class/tty");
        std::filesystem::create_directories(dev() + "/serial/by-id");
    }
    std::string root() const { return dir_ / "sys"; }
    std::string dev() const { return dir_ / "dev"; }
    std::string devicePath(const std::string& tty) const { return dev() + "/" + tty; }

    // A USB adapter; returns its by-id link.
    std::string addUsb(const FakeUsbSerial& a) {
        namespace fs = std::filesystem;
        const fs::path usb = fs::path(root()) / "devices/pci0000:00/0000:00:14.0/usb1" / a.usbName;
        const fs::path intf = usb / (a.usbName + ":1.0");
        fs::create_directories(intf);
        put(usb / "idVendor", a.vendor);
        put(usb / "idProduct", a.product);
        if (!a.manufacturerText.empty()) {
            put(usb / "manufacturer", a.manufacturerText);
        }
        if (!a.productText.empty()) {
            put(usb / "product", a.productText);
        }
        if (!a.serialText.empty()) {
            put(usb / "serial", a.serialText);
        }
        put(intf / "bInterfaceNumber", "00");
        fs::path port;
        if (a.acm) {
            port = intf;
            link(intf / "driver", fs::path(root()) / "bus/usb/drivers" / a.driver);
        } else {
            port = intf / a.tty;
            fs::create_directories(port);
            link(intf / "driver", fs::path(root()) / "bus/usb/drivers" / a.driver);
            link(port / "driver", fs::path(root()) / "bus/usb-serial/drivers" / a.driver);
            if (a.latencyMs) {
                put(port / "latency_timer", std::to_string(*a.latencyMs));
                if (a.latencyReadOnly) {
                    ::chmod((port / "latency_timer").c_str(), 0444);
                }
            }
        }
        addTty(port, a.tty);
        const std::string byId =
            dev() + "/serial/by-id/usb-" + a.manufacturerText + "_" + a.serialText + "-if00";
        link(byId, "../../" + a.tty);
        return byId;
    }

    // A serial port of the machine (serial8250 on the platform bus); returns its /dev path.
    std::string addUart(const std::string& tty, const std::string& driver) {
        namespace fs = std::filesystem;
        const fs::path port = fs::path(root()) / "devices/platform" / driver;
        fs::create_directories(port);
        link(port / "driver", fs::path(root()) / "bus/platform/drivers" / driver);
        addTty(port, tty);
        return devicePath(tty);
    }

    // The same on a newer kernel: the serial core's port and controller devices (bus serial-base)
    // sit between the tty and the hardware, which here is a PNP device driven by "serial".
    std::string addUartBehindSerialBase(const std::string& tty) {
        namespace fs = std::filesystem;
        const fs::path hw = fs::path(root()) / "devices/pnp0/00:00";
        const fs::path ctrl = hw / "00:00:0";
        const fs::path port = ctrl / "00:00:0.0";
        fs::create_directories(port);
        link(hw / "driver", fs::path(root()) / "bus/pnp/drivers/serial");
        link(hw / "subsystem", fs::path(root()) / "bus/pnp");
        link(ctrl / "driver", fs::path(root()) / "bus/serial-base/drivers/ctrl");
        link(ctrl / "subsystem", fs::path(root()) / "bus/serial-base");
        link(port / "driver", fs::path(root()) / "bus/serial-base/drivers/port");
        link(port / "subsystem", fs::path(root()) / "bus/serial-base");
        addTty(port, tty);
        return devicePath(tty);
    }

    // A tty without a device behind it (a virtual console).
    std::string addVirtual(const std::string& tty) {
        namespace fs = std::filesystem;
        const fs::path cls = fs::path(root()) / "devices/virtual/tty" / tty;
        fs::create_directories(cls);
        link(fs::path(root()) / "class/tty" / tty, cls);
        put(devicePath(tty), "");
        return devicePath(tty);
    }

    // Makes the device number of `node` (a real character device, e.g. a pseudo-terminal) stand for
    // the tty `tty` of this tree, as /sys/dev/char does; false when `node` is no character device.
    bool mapDeviceNumber(const std::string& node, const std::string& tty) {
        namespace fs = std::filesystem;
        struct stat st {};
        if (::stat(node.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
            return false;
        }
        const fs::path byNumber =
            fs::path(root()) / "dev/char" /
            (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
        fs::create_directories(byNumber.parent_path());
        fs::create_directory_symlink(fs::canonical(fs::path(root()) / "class/tty" / tty), byNumber);
        return true;
    }

    std::string latencyFile(const FakeUsbSerial& a) const {
        return root() + "/devices/pci0000:00/0000:00:14.0/usb1/" + a.usbName + "/" + a.usbName + ":1.0/" +
               a.tty + "/latency_timer";
    }

    static void put(const std::filesystem::path& path, const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text << "\n";
    }
    static std::string get(const std::string& path) {
        std::string text = readFile(path);
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        return text;
    }

  private:
    static void link(const std::filesystem::path& at, const std::filesystem::path& target) {
        std::filesystem::create_directories(at.parent_path());
        if (target.is_absolute()) {
            std::filesystem::create_directories(target);
        }
        std::filesystem::create_directory_symlink(target, at);
    }
    // The tty class device below `device`, its class link and its /dev name.
    void addTty(const std::filesystem::path& device, const std::string& tty) {
        namespace fs = std::filesystem;
        const fs::path cls = device / "tty" / tty;
        fs::create_directories(cls);
        fs::create_directory_symlink(fs::relative(device, cls), cls / "device");
        fs::create_directory_symlink(fs::relative(cls, fs::path(root()) / "class/tty"),
                                     fs::path(root()) / "class/tty" / tty);
        put(devicePath(tty), "");
    }

    TempDir dir_;
};

} // namespace zanst::test
