#include "scripted_bus.hpp"

#include "support/records.hpp"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace zanst::bench {

namespace test = zanst::test;

namespace {

std::string serialOf(int id, int cellsPerBattery) {
    return "ZB" + std::to_string(240100000 + (id - 1) / cellsPerBattery);
}

void writeAll(int fd, const bus::Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
    }
}

} // namespace

namespace {

// Most cells near 3.32 V; a few high or low ones so that the colours show.
int baseMillivolts(int id) {
    switch (id % 10) {
    case 3:
        return 3700;
    case 7:
        return id % 20 == 7 ? 2650 : 2780;
    default:
        return 3320;
    }
}

} // namespace

BalancerRing::BalancerRing(int balancers, int cellsPerBattery)
    : balancers_(balancers), cellsPerBattery_(cellsPerBattery) {
    for (int id = 1; id <= balancers; ++id) {
        millivolts_.push_back(baseMillivolts(id));
    }
}

bus::Bytes BalancerRing::feed(std::uint8_t b) {
    if (!inFrame_) {
        if (b == 0xAA) {
            frame_.assign(1, b);
            frameSize_ = 18;
            recordBytes_ = 0;
            inFrame_ = true;
        }
        return {};
    }
    if (frame_.size() < frameSize_) {
        frame_.push_back(b);
        if (frame_.size() == 4) {
            frameSize_ = static_cast<std::size_t>(b) + 6;
        }
        if (frame_.size() == frameSize_) {
            following_ = frame_[1] == 0x01 ? 0 : frame_[frameSize_ - 2];
            if (following_ == 0) {
                inFrame_ = false;
                return answer();
            }
        }
        return {};
    }
    // Placeholder records of the tool: 12 bytes each, the last with following 0.
    ++recordBytes_;
    if (recordBytes_ % 12 == 11) {
        following_ = b;
    } else if (recordBytes_ % 12 == 0 && following_ == 0) {
        inFrame_ = false;
        return answer();
    }
    return {};
}

bus::Bytes BalancerRing::answer() {
    ++requests_;
    bus::Bytes out = frame_;
    if (frame_[1] == 0x01) {
        out[out.size() - 2] = 0x01;
        test::sealLast(out);
        const bus::Bytes records = bmsInfoBurst(balancers_, cellsPerBattery_);
        out.insert(out.end(), records.begin() + 22, records.end());
    } else if (frame_[1] == 0x02) {
        for (int id = 1; id <= balancers_; ++id) {
            int& mv = millivolts_[static_cast<std::size_t>(id - 1)];
            mv = std::clamp(mv + static_cast<int>(rng_() % 5) - 2, baseMillivolts(id) - 20,
                            baseMillivolts(id) + 20);
            const int ma = id % 4 == 1 ? -1250 + static_cast<int>(rng_() % 50) : 0;
            const bus::Bytes r =
                test::measurementRecord(static_cast<std::uint16_t>(id), 0x40, test::measurementWord(mv, ma),
                                        250 * 32, id < balancers_ ? 2 : 0);
            out.insert(out.end(), r.begin(), r.end());
        }
    } else if (frame_[1] == 0x08) {
        for (int id = 1; id <= balancers_; ++id) {
            const bus::Bytes r = test::calibrationRecord(static_cast<std::uint16_t>(id), 0x40, 1000, 1000, 0,
                                                         id < balancers_ ? 8 : 0);
            out.insert(out.end(), r.begin(), r.end());
        }
    }
    return out;
}

bus::Bytes bmsInfoBurst(int balancers, int cellsPerBattery) {
    bus::Bytes payload(16, 0);
    bus::putLe16(payload, 0, 0x00A3);
    bus::putAscii(payload, 4, "BMS24010042");
    bus::Bytes out = test::frame(0x01, payload, 1);
    for (int id = 1; id <= balancers; ++id) {
        test::InfoFields f;
        f.id = static_cast<std::uint16_t>(id);
        f.flags = id % 4 == 1 ? 0x01 : 0x00;
        f.serial = serialOf(id, cellsPerBattery);
        f.productId = 0xA602;
        f.following = id < balancers ? 1 : 0;
        const bus::Bytes r = test::infoRecord(f);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

bus::Bytes bmsMeasurementBurst(int balancers, std::mt19937& rng) {
    bus::Bytes payload(20, 0);
    bus::putLe16(payload, 0, 3450);
    bus::putLe16(payload, 2, static_cast<std::uint16_t>(-125));
    bus::putLe16(payload, 4, 532);
    bus::putLe16(payload, 6, 0x0001);
    bus::Bytes out = test::frame(0x02, payload, 2);
    for (int id = 1; id <= balancers; ++id) {
        const int mv = 3300 + static_cast<int>(rng() % 60);
        const bus::Bytes r = test::measurementRecord(static_cast<std::uint16_t>(id), 0x40,
                                                     test::measurementWord(mv, id % 4 == 1 ? -1250 : 0),
                                                     240 * 32, id < balancers ? 2 : 0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

void serveRing(int fd, BalancerRing& ring, const std::atomic<bool>& stop) {
    std::uint8_t buffer[4096];
    while (!stop.load()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0 || !(p.revents & POLLIN)) {
            if (p.revents & (POLLHUP | POLLERR)) {
                ::usleep(10000);
            }
            continue;
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        for (ssize_t i = 0; i < n; ++i) {
            const bus::Bytes reply = ring.feed(buffer[i]);
            if (!reply.empty()) {
                writeAll(fd, reply);
            }
        }
    }
}

namespace {

std::atomic<bool> ringStop{false};
void stopRing(int) {
    ringStop = true;
}

} // namespace

int startRingProcess(int fd, int balancers, bool report) {
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGTERM, stopRing);
        BalancerRing bank(balancers, 16);
        serveRing(fd, bank, ringStop);
        if (report) {
            std::printf("ring answered %d requests\n", bank.requests());
            std::fflush(stdout);
        }
        _exit(0);
    }
    return child;
}

} // namespace zanst::bench
