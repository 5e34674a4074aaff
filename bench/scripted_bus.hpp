#pragma once
// Scripted peers for benchmarks and manual runs: a ring of balancers that answers the tool's
// polls, and a BMS with its bank whose traffic the tool's data sniffer repeats.

#include "bus/bytes.hpp"

#include <atomic>
#include <cstdint>
#include <random>
#include <vector>

namespace zanst::bench {

// Balancers in batteries of `cellsPerBattery`, every fourth one measuring current.
class BalancerRing {
  public:
    BalancerRing(int balancers, int cellsPerBattery);

    // Feeds what the tool wrote; returns the ring's answer once a request is complete.
    bus::Bytes feed(std::uint8_t b);

    int requests() const { return requests_; }

  private:
    bus::Bytes answer();

    int balancers_;
    int cellsPerBattery_;
    std::mt19937 rng_{12345};
    std::vector<int> millivolts_;
    bus::Bytes frame_;
    std::size_t frameSize_ = 0;
    int recordBytes_ = 0;
    std::uint8_t following_ = 0;
    bool inFrame_ = false;
    int requests_ = 0;
};

// One burst of a BMS polling a bank: the request and one record per balancer.
bus::Bytes bmsInfoBurst(int balancers, int cellsPerBattery);
bus::Bytes bmsMeasurementBurst(int balancers, std::mt19937& rng);

// Serves `fd` (the far end of the tool's port) until `stop`: answers every request of the tool.
void serveRing(int fd, BalancerRing& ring, const std::atomic<bool>& stop);

// A child process that serves a ring of `balancers` (16 cells a battery) on `fd` until SIGTERM,
// then prints how many requests it answered when `report` is set; returns its pid.
int startRingProcess(int fd, int balancers, bool report);

} // namespace zanst::bench
