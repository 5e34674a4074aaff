#pragma once
// Why a port would not open, as facts, and the same in words a technician can act on.

#include "adapter/port_access.hpp"

#include <optional>
#include <string>
#include <vector>

namespace zanst::adapter {

enum class OpenFailure {
    None,
    NotFound,       // no such device (unplugged, renamed, a dangling link)
    NoPermission,   // the device's mode and group keep this user out
    Busy,           // another process holds it (open, a lock file, or TIOCEXCL)
    NotASerialPort, // opened, but it is no terminal device
    LineRefused,    // the driver refused 250000 baud 8N1
    Other,
};

struct OpenError {
    OpenFailure failure = OpenFailure::None;
    std::string path; // as the user chose it
    int errorNumber = 0;
    std::string detail; // the system's own words, where they add something
    // NoPermission
    std::string group;             // the group that owns the device, e.g. "dialout"
    bool groupMayOpen = false;     // the group has read and write permission
    bool joinedAfterLogin = false; // the user is in the group, this session is not yet
    // Busy
    std::vector<Holder> holders; // processes seen holding it
    std::string lockPath;        // a lock file that says it is taken
    std::optional<int> lockPid;  // the pid that lock file names
    std::string lockOwnerName;   // that process's name, where known
};

// The message for the user: what is wrong and what to do.
std::string openErrorText(const OpenError& error);

// A lock file that could not be written: the port opens all the same.
std::string lockWarningText(const std::string& lockPath, int errorNumber);

} // namespace zanst::adapter
