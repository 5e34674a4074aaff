#include "adapter/presence.hpp"

#include <algorithm>

namespace zanst::adapter {

namespace {

bool hasSerial(const PortEntry& p) {
    return p.identity.usb && !p.identity.usb->serial.empty();
}

bool sameUsbModel(const PortEntry& a, const PortEntry& b) {
    if (!a.identity.usb || !b.identity.usb) {
        return !a.identity.usb && !b.identity.usb;
    }
    return a.identity.usb->vendorId == b.identity.usb->vendorId &&
           a.identity.usb->productId == b.identity.usb->productId;
}

bool sameSerial(const PortEntry& a, const PortEntry& b) {
    return hasSerial(a) && hasSerial(b) && sameUsbModel(a, b) &&
           a.identity.usb->serial == b.identity.usb->serial;
}

// The same entry in two lists: one path, one adapter.
bool sameEntry(const PortEntry& a, const PortEntry& b) {
    if (a.path != b.path || !sameUsbModel(a, b)) {
        return false;
    }
    return hasSerial(a) == hasSerial(b) &&
           (!hasSerial(a) || a.identity.usb->serial == b.identity.usb->serial);
}

} // namespace

PresenceChange comparePorts(const std::vector<PortEntry>& before, const std::vector<PortEntry>& now) {
    PresenceChange change;
    for (const PortEntry& p : now) {
        if (std::none_of(before.begin(), before.end(), [&](const PortEntry& b) { return sameEntry(b, p); })) {
            change.appeared.push_back(p);
        }
    }
    for (const PortEntry& p : before) {
        if (std::none_of(now.begin(), now.end(), [&](const PortEntry& n) { return sameEntry(p, n); })) {
            change.went.push_back(p);
        }
    }
    return change;
}

bool isSameAdapter(const PortEntry& lost, const PortEntry& candidate) {
    // An adapter known by its serial string must bring it back: another one of the same model on
    // the same name is another adapter.
    if (hasSerial(lost)) {
        return sameSerial(lost, candidate);
    }
    return lost.path == candidate.path && sameUsbModel(lost, candidate);
}

std::optional<PortEntry> findReturned(const PortEntry& lost, const std::vector<PortEntry>& ports) {
    for (const PortEntry& p : ports) {
        if (sameSerial(lost, p)) {
            return p;
        }
    }
    for (const PortEntry& p : ports) {
        if (isSameAdapter(lost, p)) {
            return p;
        }
    }
    return std::nullopt;
}

std::vector<PortEntry> identifyAll(const std::vector<std::string>& paths, const std::string& sysfsRoot) {
    std::vector<PortEntry> out;
    out.reserve(paths.size());
    for (const std::string& path : paths) {
        out.push_back({path, identify(path, sysfsRoot)});
    }
    return out;
}

} // namespace zanst::adapter
