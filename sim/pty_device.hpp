#pragma once
// The simulator's end of a pseudo-terminal: the master side, in raw mode. Whoever opens the
// device path (the tool, a test) is the far side of the bus.

#include <string>

namespace zanst::sim {

class PtyDevice {
  public:
    // Opens the pseudo-terminal; throws std::runtime_error with the reason when it cannot.
    PtyDevice();
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // Makes `linkPath` a symbolic link to the device; replaces an old link but nothing else.
    // Returns an empty text, or why it could not.
    std::string makeLink(const std::string& linkPath);
    // Removes the link if it still points at this device.
    void removeLink();

    // Whether some process holds the device open.
    bool peerPresent() const;
    // Drops whatever is queued in either direction, so a later opener gets nothing stale.
    void flush() const;

  private:
    int fd_ = -1;
    std::string path_;
    std::string link_;
};

} // namespace zanst::sim
