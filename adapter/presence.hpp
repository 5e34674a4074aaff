#pragma once
// Adapters coming and going: which ports appeared and which went between two looks at the port
// list, and whether a port that appeared is the adapter that was lost.

#include "adapter/identity.hpp"

#include <optional>
#include <string>
#include <vector>

namespace zanst::adapter {

struct PortEntry {
    std::string path; // as listed
    AdapterIdentity identity;
};

struct PresenceChange {
    std::vector<PortEntry> appeared;
    std::vector<PortEntry> went;

    bool empty() const { return appeared.empty() && went.empty(); }
};

// Ports are the same entry when they have the same path and the same adapter behind it (an
// adapter unplugged and another plugged into the same name both went and appeared).
PresenceChange comparePorts(const std::vector<PortEntry>& before, const std::vector<PortEntry>& now);

// Whether `candidate` is the adapter `lost` came back: the same USB vendor, product and serial
// string when the lost one had a serial string, otherwise the same path (and, for USB adapters, the
// same vendor and product).
bool isSameAdapter(const PortEntry& lost, const PortEntry& candidate);

// The first of `ports` that is the lost adapter; a match by serial string wins over one by path.
std::optional<PortEntry> findReturned(const PortEntry& lost, const std::vector<PortEntry>& ports);

// Each path identified under `sysfsRoot`.
std::vector<PortEntry> identifyAll(const std::vector<std::string>& paths, const std::string& sysfsRoot);

} // namespace zanst::adapter
