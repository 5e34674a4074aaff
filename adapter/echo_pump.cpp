#include "adapter/echo_pump.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zanst::adapter {

namespace {

constexpr std::size_t kReadBytes = 4096;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

EchoPump::EchoPump(int fd, Options options)
    : fd_(fd), options_(options), queue_(std::max<std::size_t>(options.queueChunks, 2)),
      priority_(options.procStat) {}

EchoPump::~EchoPump() {
    stop();
    closeFd(wakeFd_);
}

bool EchoPump::start(std::string* error) {
    if (thread_.joinable()) {
        stop();
    }
    closeFd(wakeFd_);
    const auto refuse = [&](const std::string& why) {
        if (error != nullptr) {
            *error = why;
        }
        closeFd(wakeFd_);
        closeFd(stopFd_);
        return false;
    };
    if (fd_ < 0) {
        return refuse("the port is not open");
    }
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    stopFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0 || stopFd_ < 0) {
        return refuse(std::string("cannot create the wake-ups: ") + std::strerror(errno));
    }
    stopping_.store(false, std::memory_order_relaxed);
    ended_.store(false, std::memory_order_relaxed);
    failure_.clear();
    open_.size = 0;
    open_.reads = 0;
    untoldSinceNs_ = -1;
    std::promise<void> prioritySet;
    std::future<void> ready = prioritySet.get_future();
    try {
        thread_ = std::thread([this, &prioritySet] {
            if (options_.raisePriority) {
                priority_.raise();
            }
            prioritySet.set_value();
            run();
        });
    } catch (const std::system_error& e) {
        return refuse(std::string("cannot start the echo thread: ") + e.what());
    }
    ready.wait(); // so that priority() tells what took effect
    return true;
}

void EchoPump::stop() {
    if (!thread_.joinable()) {
        return;
    }
    stopping_.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    closeFd(stopFd_);
    // The wake-up stays: the consumer may still drain what is queued and then close it with the pump.
}

std::string EchoPump::priorityText() const {
    return priority_.text("echo thread");
}

EchoStats EchoPump::stats() const {
    EchoStats s;
    s.bytesRead = bytesRead_.load(std::memory_order_relaxed);
    s.bytesEchoed = bytesEchoed_.load(std::memory_order_relaxed);
    s.bytesQueued = bytesQueued_.load(std::memory_order_relaxed);
    s.bytesLost = bytesLost_.load(std::memory_order_relaxed);
    s.realTimeTurns = priority_.realTimeTurns();
    return s;
}

std::string EchoPump::failure() const {
    return ended_.load(std::memory_order_acquire) ? failure_ : std::string();
}

void EchoPump::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void EchoPump::acknowledgeWake() {
    std::uint64_t count = 0;
    if (wakeFd_ >= 0) {
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
}

// Noted now, told when the loop is left: after the last bytes were queued, so that the consumer
// drains every byte before it learns of the end.
void EchoPump::end(std::string why) {
    failure_ = std::move(why);
}

// Every byte goes back out, whatever the consumer does; only a stop ends a wait for room. Returns
// how many went out: fewer than `size` when the pump must end.
std::size_t EchoPump::echo(const std::uint8_t* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            bytesEchoed_.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            end(std::string("echo write failed: ") + std::strerror(errno));
            return done;
        }
        pollfd fds[2] = {{fd_, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            end(std::string("echo wait failed: ") + std::strerror(errno));
            return done;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return done;
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (fds[0].revents & POLLOUT) == 0) {
            end("the port hung up during the echo");
            return done;
        }
    }
    return done;
}

void EchoPump::hand(const std::uint8_t* bytes, std::size_t size, std::int64_t readNs) {
    std::size_t at = 0;
    while (at < size) {
        const bool full = open_.size == EchoChunk::kBytes || open_.reads == EchoChunk::kReads;
        // A chunk's reads stay within kHoldNs of its first, so their offsets fit.
        if (open_.reads > 0 && (full || readNs - open_.readNs > kHoldNs)) {
            publish();
        }
        if (open_.reads == 0) {
            open_.readNs = readNs;
        }
        const std::size_t n = std::min(EchoChunk::kBytes - open_.size, size - at);
        std::memcpy(open_.bytes.data() + open_.size, bytes + at, n);
        open_.size = static_cast<std::uint16_t>(open_.size + n);
        open_.marks[open_.reads] = {static_cast<std::uint32_t>(readNs - open_.readNs), open_.size};
        ++open_.reads;
        at += n;
    }
    if (untoldSinceNs_ < 0) {
        untoldSinceNs_ = readNs;
    }
    lastReadNs_ = readNs;
}

void EchoPump::publish() {
    if (open_.reads == 0) {
        return;
    }
    open_.lostBefore = pendingLost_;
    if (queue_.push(open_)) {
        pendingLost_ = 0;
        bytesQueued_.fetch_add(open_.size, std::memory_order_relaxed);
    } else {
        pendingLost_ += open_.size;
        bytesLost_.fetch_add(open_.size, std::memory_order_relaxed);
    }
    open_.size = 0;
    open_.reads = 0;
}

void EchoPump::announce() {
    publish();
    if (untoldSinceNs_ >= 0) {
        untoldSinceNs_ = -1;
        wake();
    }
}

std::int64_t EchoPump::announceDueInNs(std::int64_t now) const {
    if (untoldSinceNs_ < 0) {
        return -1;
    }
    const std::int64_t due = std::min(lastReadNs_ + kQuietNs, untoldSinceNs_ + kHoldNs);
    return std::max<std::int64_t>(0, due - now);
}

void EchoPump::run() {
    loop();
    publish();
    if (!failure_.empty()) {
        ended_.store(true, std::memory_order_release);
        untoldSinceNs_ = -1;
        wake();
    } else {
        announce();
    }
}

void EchoPump::loop() {
    std::array<std::uint8_t, kReadBytes> buf{};
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    while (!stopping_.load(std::memory_order_acquire)) {
        fds[0].revents = 0;
        fds[1].revents = 0;
        const std::int64_t wait = announceDueInNs(nowNs());
        if (wait == 0) {
            announce();
            continue;
        }
        timespec timeout{static_cast<time_t>(wait / 1'000'000'000), static_cast<long>(wait % 1'000'000'000)};
        const int ready = ::ppoll(fds, 2, wait < 0 ? nullptr : &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            end(std::string("waiting on the port failed: ") + std::strerror(errno));
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if (ready == 0 || fds[0].revents == 0) {
            continue;
        }
        const ssize_t n = ::read(fd_, buf.data(), buf.size());
        if (n > 0) {
            const std::int64_t at = nowNs();
            const auto size = static_cast<std::size_t>(n);
            bytesRead_.fetch_add(size, std::memory_order_relaxed);
            const std::size_t echoed = echo(buf.data(), size);
            hand(buf.data(), echoed, at); // the consumer gets only what went back out
            if (echoed < size) {
                return;
            }
            priority_.watch(at);
            continue;
        }
        if (n == 0) {
            end("the port hung up (adapter unplugged?)");
            return;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            continue;
        }
        end(std::string("read failed: ") + std::strerror(errno));
        return;
    }
}

} // namespace zanst::adapter
