// zanst-sim: a bank of balancers, a BMS, or both around the tool, on a pseudo-terminal.

#include "bus/hex.hpp"
#include "bus/state.hpp"
#include "capture/capture_file.hpp"
#include "sim/options.hpp"
#include "sim/pty_device.hpp"
#include "sim/roles.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace zanst::sim;

volatile std::sig_atomic_t stopSignal = 0;

void onSignal(int sig) {
    stopSignal = sig;
}

// With no peer the master reports a hang-up all the time; look again this often.
constexpr Duration kPeerPollInterval = 50ms;

class Printer {
  public:
    explicit Printer(TimePoint start) : start_(start) {}
    void operator()(const char* who, const std::string& text) const {
        std::printf("[%10.3f] %s %s\n", seconds(Clock::now() - start_), who, text.c_str());
    }

  private:
    TimePoint start_;
};

std::unique_ptr<Role> makeRole(const Options& o, TimePoint start) {
    BankConfig bank;
    bank.preset = o.preset;
    bank.batteries = o.batteries;
    bank.currentA = o.currentA;
    bank.seed = o.seed;
    bank.noise = o.noise;
    bank.deadAfter = o.deadAfter;
    bank.metricsSilent = o.metricsSilent;
    FaultConfig faults{o.dropRate, o.corruptRate, o.seed};
    BmsConfig bms;
    bms.bankCurrentA = o.currentA;
    switch (o.role) {
    case RoleKind::Bank: {
        auto role = std::make_unique<BankRole>(bank, faults, start, o.quiet);
        role->setLosses({o.swallowCommands, o.swallowBlocks});
        return role;
    }
    case RoleKind::Bms:
        return std::make_unique<BmsRole>(bms, faults, start);
    case RoleKind::Ring:
        return std::make_unique<RingRole>(bank, bms, faults, start);
    }
    return nullptr;
}

std::string bankText(const Options& o) {
    char text[160];
    const int cells = o.preset.cellsInSeries;
    std::snprintf(text, sizeof text,
                  "product 0x%04X, %d cells x %d %s = %d balancers, %d Ah, %.1f A per battery",
                  o.preset.productId, cells, o.batteries, o.batteries == 1 ? "battery" : "batteries",
                  cells * o.batteries, o.preset.capacityAh, o.currentA);
    return text;
}

// The capture of --capture, written from the tool's side: the simulator's output is what the tool
// received. Flushed every kFlushEvery and at the end; a failed write ends it with a line.
class SimCapture {
  public:
    static constexpr Duration kFlushEvery = 200ms;

    std::string open(const Options& o, TimePoint start) {
        if (o.capture.empty()) {
            return {};
        }
        start_ = start;
        const auto wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
        if (!writer_.open(o.capture, wallMs)) {
            return writer_.error();
        }
        const zanst::bus::Mode mode = o.role == RoleKind::Bank  ? zanst::bus::Mode::BatteryTester
                                      : o.role == RoleKind::Bms ? zanst::bus::Mode::BmsTester
                                                                : zanst::bus::Mode::Sniffer;
        const auto tab = static_cast<std::uint8_t>(mode);
        writer_.append(0, zanst::capture::RecordKind::Mode, std::span(&tab, 1));
        lastFlush_ = start;
        return {};
    }
    void note(zanst::capture::RecordKind kind, TimePoint at, std::span<const std::uint8_t> bytes) {
        if (writer_.isOpen() && !bytes.empty()) {
            const auto us = std::chrono::duration_cast<std::chrono::microseconds>(at - start_).count();
            writer_.append(static_cast<std::uint64_t>(std::max<long long>(us, 0)), kind, bytes);
        }
    }
    // Returns the error of a write that failed, once.
    std::string flushIfDue(TimePoint now, bool force) {
        if (!writer_.isOpen() || (!force && now - lastFlush_ < kFlushEvery)) {
            return {};
        }
        lastFlush_ = now;
        return writer_.flush() ? std::string() : writer_.error();
    }

  private:
    zanst::capture::CaptureWriter writer_;
    TimePoint start_{};
    TimePoint lastFlush_{};
};

timespec toTimespec(Duration d) {
    const auto ns = std::max<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count(), 0);
    return timespec{static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)};
}

int run(const Options& o) {
    const TimePoint start = Clock::now();
    const Printer say(start);
    std::unique_ptr<PtyDevice> dev;
    try {
        dev = std::make_unique<PtyDevice>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zanst-sim: cannot open a pseudo-terminal: %s\n", e.what());
        return 1;
    }
    say("device", dev->path());
    SimCapture capture;
    if (const std::string why = capture.open(o, start); !why.empty()) {
        std::fprintf(stderr, "zanst-sim: --capture: %s\n", why.c_str());
        return 2;
    }
    if (!o.capture.empty()) {
        say("capture", o.capture);
    }
    if (!o.link.empty()) {
        const std::string why = dev->makeLink(o.link);
        if (!why.empty()) {
            std::fprintf(stderr, "zanst-sim: --link: %s\n", why.c_str());
            return 2;
        }
        say("link", o.link + " -> " + dev->path());
    }
    if (o.role != RoleKind::Bms) {
        say("bank", bankText(o));
    }
    if (o.role != RoleKind::Bank) {
        char text[96];
        BmsConfig bms;
        std::snprintf(text, sizeof text, "product 0x%04X, serial %s, polling once a second", bms.productId,
                      bms.serial.c_str());
        say("bms", text);
    }
    if (o.dropRate > 0 || o.corruptRate > 0 || o.silentAfterS || o.slowByteUs > 0) {
        char text[160];
        std::snprintf(text, sizeof text, "drop-rate %g, corrupt-rate %g, silent-after %s, slow-byte-us %d",
                      o.dropRate, o.corruptRate,
                      o.silentAfterS ? (std::to_string(*o.silentAfterS) + " s").c_str() : "never",
                      o.slowByteUs);
        say("faults", text);
    }

    if (!o.swallowCommands.empty() || !o.swallowBlocks.empty()) {
        std::string text;
        for (const std::uint8_t c : o.swallowCommands) {
            text += ", frame " + zanst::bus::ConvertHex(c, 2);
        }
        for (const int b : o.swallowBlocks) {
            text += ", block " + std::to_string(b);
        }
        say("faults", "lost once on the ring:" + text.substr(1));
    }

    std::unique_ptr<Role> role = makeRole(o, start);
    const char* who = role->name();
    OutputPacer pacer(std::chrono::microseconds(o.slowByteUs));
    const std::optional<Duration> silentAfter = o.silentAfter();
    const std::optional<TimePoint> silentAt =
        silentAfter ? std::optional<TimePoint>(start + *silentAfter) : std::nullopt;
    bool silent = false;
    bool peer = false;
    std::vector<std::uint8_t> buf(4096);
    sigset_t waitMask;
    sigprocmask(SIG_SETMASK, nullptr, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGHUP);
    say("ready", std::string("playing ") + roleName(o.role) + " on " + dev->path());

    while (stopSignal == 0) {
        TimePoint now = Clock::now();
        if (!silent && silentAt && now >= *silentAt) {
            silent = true;
            pacer.clear();
            say(who, "silent from now on (--silent-after)");
        }
        if (const bool present = dev->peerPresent(); present != peer) {
            peer = present;
            if (!peer) {
                pacer.clear();
                dev->flush();
            }
            role->peerChanged(peer, now);
            say(who, peer ? "port opened by the far side" : "port closed by the far side");
        }
        if (!silent) {
            if (const auto d = role->nextDeadline(); d && now >= *d) {
                role->tick(now);
            }
        }
        const zanst::bus::Bytes out = role->takeOutput();
        if (peer && !silent && !out.empty()) {
            if (const std::size_t lost = pacer.push(out, now); lost > 0) {
                say(who, "the far side stopped reading: " + std::to_string(lost) + " bytes discarded");
            }
        }
        bool blocked = false;
        if (peer && !pacer.empty()) {
            const std::size_t due = pacer.due(now);
            if (due > 0) {
                const zanst::bus::Bytes chunk = pacer.front(due);
                const ssize_t n = ::write(dev->fd(), chunk.data(), chunk.size());
                if (n > 0) {
                    capture.note(zanst::capture::RecordKind::Received, Clock::now(),
                                 std::span(chunk.data(), static_cast<std::size_t>(n)));
                    pacer.consumed(static_cast<std::size_t>(n));
                    if (pacer.empty()) {
                        role->drained(Clock::now());
                    }
                } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    blocked = true;
                }
                if (static_cast<std::size_t>(std::max<ssize_t>(n, 0)) < chunk.size()) {
                    blocked = true;
                }
            }
        }

        if (const std::string why = capture.flushIfDue(Clock::now(), false); !why.empty()) {
            say("capture", "stopped: " + why);
        }

        // Lines after the write: the answer does not wait for the terminal.
        for (const auto& line : role->takeLines()) {
            say(who, line);
        }

        // Sleep until input, a timer, the next paced byte or the silence starts.
        now = Clock::now();
        std::optional<TimePoint> wake;
        const auto earliest = [&](std::optional<TimePoint> t) {
            if (t && (!wake || *t < *wake)) {
                wake = t;
            }
        };
        if (!silent) {
            earliest(role->nextDeadline());
            earliest(silentAt);
        }
        if (peer && !pacer.empty() && !blocked) {
            earliest(pacer.nextTime());
        }
        if (!peer) {
            earliest(now + kPeerPollInterval);
        }
        pollfd p{dev->fd(), static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
        timespec ts{};
        if (wake) {
            ts = toTimespec(*wake - now);
        }
        const int ready = ::ppoll(&p, peer ? 1 : 0, wake ? &ts : nullptr, &waitMask);
        if (ready < 0) {
            continue; // a signal: the loop condition looks at it
        }
        if (peer && (p.revents & POLLIN) != 0) {
            const ssize_t n = ::read(dev->fd(), buf.data(), buf.size());
            if (n > 0) {
                capture.note(zanst::capture::RecordKind::Sent, Clock::now(),
                             std::span<const std::uint8_t>(buf.data(), static_cast<std::size_t>(n)));
            }
            if (n > 0 && !silent) {
                role->received(std::span<const std::uint8_t>(buf.data(), static_cast<std::size_t>(n)),
                               Clock::now());
            }
        }
    }

    say(who, std::string("stopping on ") + (stopSignal == SIGINT    ? "SIGINT"
                                            : stopSignal == SIGTERM ? "SIGTERM"
                                                                    : "SIGHUP"));
    for (const auto& line : role->takeLines()) {
        say(who, line);
    }
    for (const auto& line : role->summary()) {
        say(who, line);
    }
    if (const std::string why = capture.flushIfDue(Clock::now(), true); !why.empty()) {
        say("capture", "stopped: " + why);
    }
    dev->removeLink();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParseResult parsed = parseOptions(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "zanst-sim: %s\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(helpText().c_str(), stdout);
        return 0;
    }
    // Signals are held back except while the loop waits, so a stop never cuts a write in half.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    if (parsed.options.exitWithParent) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() == 1) {
            return 0; // the parent is already gone
        }
    }
    if (parsed.options.slowByteUs > 0) {
        ::prctl(PR_SET_TIMERSLACK, 1UL); // wake-ups to the microsecond for the paced bytes
    }
    return run(parsed.options);
}
