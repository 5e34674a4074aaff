#pragma once
// A pseudo-terminal pair: the code under test opens the slave path as it would a serial
// adapter; the test plays the far side through the master.

#include "bus/bytes.hpp"

#include <chrono>
#include <string>

namespace zanst::test {

class Pty {
  public:
    using Clock = std::chrono::steady_clock;

    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    void write(const bus::Bytes& bytes);
    // Reads until `count` bytes have arrived or `timeout` has passed; returns what arrived.
    bus::Bytes read(std::size_t count, std::chrono::milliseconds timeout);
    // Reads whatever arrives within `window`.
    bus::Bytes readFor(std::chrono::milliseconds window);
    // Waits for the first byte; returns when it arrived, or nullopt-like max() on time-out.
    Clock::time_point waitForByte(std::chrono::milliseconds timeout);
    // Closes the test's end, as an unplugged adapter would.
    void closeMaster();
    // Closes the test's own handle on the slave side, so that only the code under test holds it.
    void closeSlave();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

} // namespace zanst::test
