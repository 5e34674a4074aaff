#include "adapter/open_error.hpp"

#include <cstring>

namespace zanst::adapter {

namespace {

std::string process(int pid, const std::string& name) {
    return std::to_string(pid) + (name.empty() ? std::string() : " (" + name + ")");
}

std::string busyText(const OpenError& e) {
    if (!e.holders.empty()) {
        std::string who = e.holders.size() == 1 ? "process " : "processes ";
        for (std::size_t i = 0; i < e.holders.size(); ++i) {
            who += (i == 0 ? "" : ", ") + process(e.holders[i].pid, e.holders[i].name);
        }
        return e.path + " is in use by " + who + ": close that program, then choose the port again.";
    }
    if (e.lockPid) {
        return e.path + " is in use: the lock file " + e.lockPath + " names process " +
               process(*e.lockPid, e.lockOwnerName) + ". Close that program, then choose the port again.";
    }
    if (!e.lockPath.empty()) {
        return e.path + " is marked as in use by the lock file " + e.lockPath +
               ", which names no process. If no program uses the port, remove it (sudo rm " + e.lockPath +
               ") and choose the port again.";
    }
    return e.path + " is in use by another program (the system does not tell which): close it, then "
                    "choose the port again.";
}

std::string permissionText(const OpenError& e) {
    if (e.group.empty() || !e.groupMayOpen) {
        return "No permission to open " + e.path +
               ": only its owner may use it. Ask the administrator to give it to the dialout group.";
    }
    if (e.joinedAfterLogin) {
        return "No permission to open " + e.path + ": it belongs to the group " + e.group +
               ", which this user joined after logging in. Log out and in again.";
    }
    return "No permission to open " + e.path + ": it belongs to the group " + e.group +
           ", and this user is not in it. Run: sudo adduser $USER " + e.group +
           ", then log out and in again.";
}

} // namespace

std::string openErrorText(const OpenError& e) {
    switch (e.failure) {
    case OpenFailure::None:
        return {};
    case OpenFailure::NotFound:
        return e.path + " does not exist: the adapter is not plugged in, or it came back under another name "
                        "(ls /dev/serial/by-id lists the adapters).";
    case OpenFailure::NoPermission:
        return permissionText(e);
    case OpenFailure::Busy:
        return busyText(e);
    case OpenFailure::NotASerialPort:
        return e.path + " is not a serial port.";
    case OpenFailure::LineRefused:
        return e.path +
               " refused the bus's line settings (250000 baud, 8 data bits, no parity, 1 stop bit): " +
               e.detail + ".";
    case OpenFailure::Other:
        break;
    }
    return "Cannot open " + e.path + ": " + (e.detail.empty() ? std::strerror(e.errorNumber) : e.detail) +
           ".";
}

std::string lockWarningText(const std::string& lockPath, int errorNumber) {
    return "The lock file " + lockPath + " cannot be written (" + std::strerror(errorNumber) +
           "): the port is open without it, so programs that look for lock files do not see that the tool "
           "uses it.";
}

} // namespace zanst::adapter
