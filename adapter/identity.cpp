#include "adapter/identity.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace zanst::adapter {

namespace fs = std::filesystem;

namespace {

// Major numbers of pseudo-terminal slaves (Unix 98 ptys).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

// A sysfs attribute's text without its trailing newline and blanks; empty when unreadable.
std::string readAttribute(const fs::path& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text, '\0');
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

std::optional<std::uint16_t> hex16(const std::string& text) {
    std::uint16_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> decimal(const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool isPseudoTerminal(const std::string& devicePath) {
    if (devicePath.starts_with("/dev/pts/")) {
        return true;
    }
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned major = ::major(st.st_rdev);
    return major >= kPtySlaveMajorFirst && major <= kPtySlaveMajorLast;
}

// Writable by this process: permitted, and a write bit set at all (root passes access() for
// attributes that have no store function).
bool writable(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

bool inside(const fs::path& path, const fs::path& root) {
    const auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return r == root.end();
}

std::string hex4(std::uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", v);
    return text;
}

} // namespace

std::string sysfsRoot() {
    const char* root = std::getenv(kSysfsRootVariable);
    return root != nullptr && *root != '\0' ? std::string(root) : std::string("/sys");
}

std::string latencyAttributePath(const std::string& ttyName) {
    return "/sys/bus/usb-serial/devices/" + ttyName + "/latency_timer";
}

std::string latencyText(int ms) {
    if (ms <= 1) {
        return "Latency timer " + std::to_string(ms) + " ms: received bytes reach the tool within 1 ms";
    }
    const std::string t = std::to_string(ms) + " ms";
    return "Latency timer " + t + ": received bytes wait up to " + t +
           " in the adapter; the ring waits for the tool's echo that long";
}

AdapterIdentity identify(const std::string& portPath, const std::string& sysfsRoot) {
    AdapterIdentity id;
    id.portPath = portPath;
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(portPath, ec);
    if (ec || resolved.empty()) {
        resolved = portPath;
    }
    id.devicePath = resolved.string();
    id.ttyName = resolved.filename().string();
    fs::path root = fs::weakly_canonical(sysfsRoot, ec);
    if (ec) {
        root = sysfsRoot;
    }
    // The device number names the kernel's device whatever the node is called (a udev alias, a
    // node made by hand), as udev finds it. Pseudo-terminals have no entry there.
    fs::path ttyClass;
    if (struct stat st{}; ::stat(id.devicePath.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
        const fs::path byNumber =
            root / "dev" / "char" /
            (std::to_string(::major(st.st_rdev)) + ":" + std::to_string(::minor(st.st_rdev)));
        ttyClass = fs::canonical(byNumber, ec);
        if (ec || !inside(ttyClass, root)) {
            ttyClass.clear();
        }
    }
    if (ttyClass.empty()) {
        if (isPseudoTerminal(id.devicePath)) {
            id.kind = PortKind::PseudoTerminal;
            return id;
        }
        ttyClass = root / "class" / "tty" / id.ttyName;
    } else {
        id.ttyName = ttyClass.filename().string();
    }
    fs::path device = fs::canonical(ttyClass / "device", ec);
    if (id.ttyName.empty() || ec) {
        id.kind = PortKind::NotSerial;
        return id;
    }
    // Newer kernels put the serial core's own port and controller devices between the tty and the
    // hardware; the driver that names the UART sits above them.
    while (fs::canonical(device / "subsystem", ec).filename() == "serial-base" && !ec &&
           inside(device, root) && device != root) {
        device = device.parent_path();
    }
    const fs::path driver = fs::canonical(device / "driver", ec);
    if (!ec) {
        id.driver = driver.filename().string();
    }
    // The USB device is the nearest directory above with vendor and product ids.
    for (fs::path p = device; inside(p, root) && p != root; p = p.parent_path()) {
        const auto vendor = hex16(readAttribute(p / "idVendor"));
        const auto product = hex16(readAttribute(p / "idProduct"));
        if (vendor && product) {
            UsbIdentity usb;
            usb.vendorId = *vendor;
            usb.productId = *product;
            usb.manufacturer = readAttribute(p / "manufacturer");
            usb.product = readAttribute(p / "product");
            usb.serial = readAttribute(p / "serial");
            usb.sysfsName = p.filename().string();
            id.usb = usb;
            break;
        }
        if (p == p.parent_path()) {
            break;
        }
    }
    if (id.usb) {
        id.kind = PortKind::UsbAdapter;
    } else {
        id.kind = id.driver.empty() ? PortKind::NotSerial : PortKind::BuiltInUart;
    }
    const fs::path latency = device / "latency_timer";
    if (id.kind == PortKind::UsbAdapter && fs::exists(latency, ec)) {
        id.latencyPath = latency.string();
        id.latencyTimerMs = decimal(readAttribute(latency));
        id.latencyWritable = writable(latency);
    }
    return id;
}

std::string AdapterIdentity::chipName() const {
    if (kind != PortKind::UsbAdapter) {
        return {};
    }
    if (driver == "ftdi_sio") {
        return "FTDI";
    }
    if (driver == "ch341") {
        return "CH340/CH341";
    }
    if (driver == "cp210x") {
        return "CP210x";
    }
    if (driver == "pl2303") {
        return "PL2303";
    }
    if (driver == "cdc_acm") {
        return "CDC ACM";
    }
    return driver.empty() ? std::string("unknown chip") : driver;
}

std::vector<std::string> AdapterIdentity::describe() const {
    switch (kind) {
    case PortKind::PseudoTerminal:
        return {devicePath + " is a pseudo-terminal, not a USB adapter."};
    case PortKind::BuiltInUart:
        return {devicePath + " is a serial port of this computer (driver " + driver +
                "), not a USB adapter."};
    case PortKind::NotSerial:
        return {devicePath + " is not a serial device that the system knows."};
    case PortKind::UsbAdapter:
        break;
    }
    std::vector<std::string> lines;
    std::string first = "USB adapter " + devicePath + ": " + chipName();
    if (!driver.empty() && chipName() != driver) {
        first += " (driver " + driver + ")";
    }
    first += ", USB id " + hex4(usb->vendorId) + ":" + hex4(usb->productId);
    if (!usb->manufacturer.empty() || !usb->product.empty()) {
        first += ", \"" + usb->manufacturer + (usb->manufacturer.empty() || usb->product.empty() ? "" : " ") +
                 usb->product + "\"";
    }
    lines.push_back(first);
    lines.push_back(
        usb->serial.empty()
            ? std::string("No USB serial number: after a replug it is known again only by its port name")
            : "USB serial number " + usb->serial + ": recognised again after a replug");
    if (latencyTimerMs) {
        std::string text = latencyText(*latencyTimerMs);
        if (!latencyWritable) {
            text += " (this user may not change it)";
        }
        lines.push_back(text);
    } else if (!latencyPath.empty()) {
        lines.push_back("Latency timer: " + latencyPath + " holds no number");
    } else {
        lines.push_back("No latency timer: the driver " + (driver.empty() ? std::string("(none)") : driver) +
                        " has no such setting; how long received bytes wait is up to the adapter");
    }
    return lines;
}

} // namespace zanst::adapter
