#pragma once
// A serial port on Linux as a plain file descriptor: opened exclusively, raw 8N1 at 250000 baud
// (termios2), DTR and RTS asserted where the device has them. The bus engine reads, writes and
// polls the descriptor itself, so that nothing else buffers or delays its bytes.

#include "adapter/line.hpp"
#include "adapter/open_error.hpp"
#include "adapter/port_access.hpp"
#include "bus/port.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zanst::adapter {

struct SerialOptions {
    std::uint32_t baud = kBusBaud;
    std::string lockDir = kDefaultLockDir; // empty: no lock file
    std::string procRoot = kDefaultProcRoot;
    bool exclusive = true; // TIOCEXCL: later opens by others fail with EBUSY
    std::chrono::milliseconds writeTimeout{1000};
};

struct OpenOutcome {
    OpenError error;                   // failure None when the port is open
    std::string text;                  // the error in words; empty when open
    std::vector<std::string> warnings; // open all the same, but worth saying
    bool modemLinesSet = false;        // DTR and RTS asserted (a pseudo-terminal has none)
    BaudReadback baud;                 // what the driver set

    bool ok() const { return error.failure == OpenFailure::None; }
};

class SerialDevice : public bus::BusPort {
  public:
    explicit SerialDevice(SerialOptions options = {}) : options_(std::move(options)) {}
    ~SerialDevice() override { close(); }
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens `path` (a device or a link to one); closes the port first if it is open.
    OpenOutcome open(const std::string& path);
    void close();

    bool isOpen() const override { return fd_ >= 0; }
    // Writes every byte, waiting for room up to the write time-out. False when closed or failed
    // (lastError() says why).
    bool write(std::span<const std::uint8_t> bytes) override;
    // Bytes read into `buffer`; 0 when none are waiting; -1 when the port failed or hung up (an
    // unplugged adapter), with lastError().
    std::ptrdiff_t read(std::span<std::uint8_t> buffer);

    // For poll(): readable when bytes wait.
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    const std::string& devicePath() const { return devicePath_; }
    const std::string& lastError() const { return lastError_; }

  private:
    OpenOutcome fail(OpenOutcome outcome);

    SerialOptions options_;
    LockFile lock_;
    int fd_ = -1;
    std::string path_;
    std::string devicePath_;
    std::string lastError_;
};

} // namespace zanst::adapter
