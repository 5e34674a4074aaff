// zanst-sim: a bank of balancers, a BMS, or both around the tool, on a pseudo-terminal.

#include "bus/hex.hpp"
#include "bus/state.hpp"
#include "capture/capture_file.hpp"
#include "playback/recording.hpp"
#include "sim/adapter_line.hpp"
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

// The recordings of --from and --expect, read before anything starts.
struct Recordings {
    std::optional<zanst::playback::Timeline> from;
    std::optional<zanst::playback::Timeline> expect;
};

std::unique_ptr<Role> makeRole(const Options& o, TimePoint start, const Recordings& recordings) {
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
    bms.answerTimeout = std::chrono::milliseconds(o.bmsAnswerMs);
    switch (o.role) {
    case RoleKind::Bank: {
        auto role = std::make_unique<BankRole>(bank, faults, start, o.quiet);
        role->setLosses({o.swallowCommands, o.swallowBlocks});
        if (recordings.from) {
            role->playRecording(*recordings.from);
        }
        return role;
    }
    case RoleKind::Bms: {
        auto role = std::make_unique<BmsRole>(bms, faults, start);
        if (recordings.expect) {
            role->expectRecording(*recordings.expect);
        }
        return role;
    }
    case RoleKind::Ring: {
        auto role = std::make_unique<RingRole>(bank, bms, faults, start);
        if (recordings.from) {
            role->playRecording(*recordings.from);
        }
        return role;
    }
    }
    return nullptr;
}

std::string recordingText(const std::string& file, const zanst::playback::Timeline& t) {
    return "recording " + file + " (" + t.source + "): " + std::to_string(t.cellCount) + " balancers in " +
           std::to_string(t.batteries.size()) + (t.batteries.size() == 1 ? " battery, " : " batteries, ") +
           std::to_string(t.steps.size()) + " steps over " + zanst::playback::clockText(t.lengthMs());
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

// One run of the simulator: the device and its link, the start lines, the loop that reads,
// writes, paces and captures, and the end.
class Simulator {
  public:
    explicit Simulator(const Options& o) : o_(o), start_(Clock::now()), say_(start_) {}

    int run() {
        if (const int status = loadRecordings(); status != 0) {
            return status;
        }
        if (const int status = openDevice(); status != 0) {
            return status;
        }
        printStartLines();
        role_ = makeRole(o_, start_, recordings_);
        who_ = role_->name();
        pacer_ = OutputPacer(std::chrono::microseconds(o_.slowByteUs));
        AdapterConfig adapter;
        adapter.latency = std::chrono::milliseconds(o_.adapterLatencyMs);
        if (o_.adapterToTool()) {
            toTool_.emplace(adapter, start_);
        }
        if (o_.adapterFromTool()) {
            fromTool_.emplace(adapter, start_);
        }
        const std::optional<Duration> silentAfter = o_.silentAfter();
        silentAt_ = silentAfter ? std::optional<TimePoint>(start_ + *silentAfter) : std::nullopt;
        sigprocmask(SIG_SETMASK, nullptr, &waitMask_);
        sigdelset(&waitMask_, SIGINT);
        sigdelset(&waitMask_, SIGTERM);
        sigdelset(&waitMask_, SIGHUP);
        say_("ready", std::string("playing ") + roleName(o_.role) + " on " + dev_->path());

        while (stopSignal == 0) {
            const TimePoint now = Clock::now();
            checkSilence(now);
            followPeer(now);
            passFromTool(now);
            runTimers(now);
            const bool blocked = writeOutput(now);
            flushCapture(false);
            // Lines after the write: the answer does not wait for the terminal.
            printLines();
            if (waitForInput(blocked)) {
                readInput();
            }
        }
        return finish();
    }

  private:
    // A recording that holds nothing to play ends the start, as a wrong command line does.
    int loadRecordings() {
        const auto load = [](const char* option, const std::string& file,
                             std::optional<zanst::playback::Timeline>& into) {
            if (file.empty()) {
                return true;
            }
            zanst::playback::ReadResult read = zanst::playback::readRecording(file);
            if (!read.ok()) {
                std::fprintf(stderr, "zanst-sim: %s %s: %s\n", option, file.c_str(), read.error.c_str());
                return false;
            }
            into = std::move(read.timeline);
            return true;
        };
        return load("--from", o_.from, recordings_.from) && load("--expect", o_.expect, recordings_.expect)
                   ? 0
                   : 2;
    }

    // The pseudo-terminal, the capture file and the link; a status to exit with when one fails.
    int openDevice() {
        try {
            dev_ = std::make_unique<PtyDevice>();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zanst-sim: cannot open a pseudo-terminal: %s\n", e.what());
            return 1;
        }
        say_("device", dev_->path());
        if (const std::string why = capture_.open(o_, start_); !why.empty()) {
            std::fprintf(stderr, "zanst-sim: --capture: %s\n", why.c_str());
            return 2;
        }
        if (!o_.capture.empty()) {
            say_("capture", o_.capture);
        }
        if (!o_.link.empty()) {
            const std::string why = dev_->makeLink(o_.link);
            if (!why.empty()) {
                std::fprintf(stderr, "zanst-sim: --link: %s\n", why.c_str());
                return 2;
            }
            say_("link", o_.link + " -> " + dev_->path());
        }
        return 0;
    }

    // What is played: the bank, the BMS and the faults.
    void printStartLines() const {
        const auto recording = [&](const char* who, const std::string& file,
                                   const zanst::playback::Timeline& t) {
            say_(who, recordingText(file, t));
            for (const std::string& note : t.notes) {
                say_(who, "recording: " + note);
            }
        };
        if (o_.role != RoleKind::Bms) {
            if (recordings_.from) {
                recording("bank", o_.from, *recordings_.from);
            } else {
                say_("bank", bankText(o_));
            }
        }
        if (recordings_.expect) {
            recording("bms", o_.expect, *recordings_.expect);
        }
        if (o_.role != RoleKind::Bank) {
            char text[96];
            BmsConfig bms;
            std::snprintf(text, sizeof text, "product 0x%04X, serial %s, polling once a second",
                          bms.productId, bms.serial.c_str());
            std::string line = text;
            if (std::chrono::milliseconds(o_.bmsAnswerMs) != bms.answerTimeout) {
                line += ", waiting " + std::to_string(o_.bmsAnswerMs) + " ms for an answer";
            }
            say_("bms", line);
        }
        if (o_.adapterLatencyMs > 0) {
            const char* side = o_.adapterSide == AdapterSide::ToTool     ? "towards the tool"
                               : o_.adapterSide == AdapterSide::FromTool ? "from the tool"
                                                                         : "both ways";
            const auto byteUs =
                std::chrono::duration_cast<std::chrono::microseconds>(AdapterConfig::kLineByteTime);
            say_("adapter", "latency timer " + std::to_string(o_.adapterLatencyMs) + " ms " + side +
                                ", at most " + std::to_string(AdapterConfig::kFtdiPacketData) +
                                " data bytes a USB packet, " + std::to_string(byteUs.count()) +
                                " us a byte on its serial side");
        }
        if (o_.dropRate > 0 || o_.corruptRate > 0 || o_.silentAfterS || o_.slowByteUs > 0) {
            char text[160];
            std::snprintf(
                text, sizeof text, "drop-rate %g, corrupt-rate %g, silent-after %s, slow-byte-us %d",
                o_.dropRate, o_.corruptRate,
                o_.silentAfterS ? (std::to_string(*o_.silentAfterS) + " s").c_str() : "never", o_.slowByteUs);
            say_("faults", text);
        }
        if (!o_.swallowCommands.empty() || !o_.swallowBlocks.empty()) {
            std::string text;
            for (const std::uint8_t c : o_.swallowCommands) {
                text += ", frame " + zanst::bus::ConvertHex(c, 2);
            }
            for (const int b : o_.swallowBlocks) {
                text += ", block " + std::to_string(b);
            }
            say_("faults", "lost once on the ring:" + text.substr(1));
        }
    }

    void checkSilence(TimePoint now) {
        if (!silent_ && silentAt_ && now >= *silentAt_) {
            silent_ = true;
            pacer_.clear();
            dropHeld();
            say_(who_, "silent from now on (--silent-after)");
        }
    }

    // The far side opened or closed the device.
    void followPeer(TimePoint now) {
        if (const bool present = dev_->peerPresent(); present != peer_) {
            peer_ = present;
            if (!peer_) {
                pacer_.clear();
                dropHeld();
                dev_->flush();
            }
            role_->peerChanged(peer_, now);
            say_(who_, peer_ ? "port opened by the far side" : "port closed by the far side");
        }
    }

    void runTimers(TimePoint now) {
        if (!silent_) {
            if (const auto d = role_->nextDeadline(); d && now >= *d) {
                role_->tick(now);
            }
        }
    }

    // Queues the role's bytes and writes what the pacer (and the adapter) let out; true when the
    // device took less than was due.
    bool writeOutput(TimePoint now) {
        const zanst::bus::Bytes out = role_->takeOutput();
        if (peer_ && !silent_ && !out.empty()) {
            if (const std::size_t lost = pacer_.push(out, now); lost > 0) {
                say_(who_, "the far side stopped reading: " + std::to_string(lost) + " bytes discarded");
            }
        }
        if (toTool_) {
            return writeThroughAdapter(now);
        }
        bool blocked = false;
        if (peer_ && !pacer_.empty()) {
            const std::size_t due = pacer_.due(now);
            if (due > 0) {
                const zanst::bus::Bytes chunk = pacer_.front(due);
                const ssize_t n = ::write(dev_->fd(), chunk.data(), chunk.size());
                if (n > 0) {
                    capture_.note(zanst::capture::RecordKind::Received, Clock::now(),
                                  std::span(chunk.data(), static_cast<std::size_t>(n)));
                    pacer_.consumed(static_cast<std::size_t>(n));
                    if (pacer_.empty()) {
                        role_->drained(Clock::now());
                    }
                } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    blocked = true;
                }
                if (static_cast<std::size_t>(std::max<ssize_t>(n, 0)) < chunk.size()) {
                    blocked = true;
                }
            }
        }
        return blocked;
    }

    // The line lets the bytes into the adapter at the pacer's rate; the adapter hands them to the
    // tool a packet at a time. A burst has left the far end of the line when its last byte reached
    // the adapter.
    bool writeThroughAdapter(TimePoint now) {
        if (peer_ && !pacer_.empty()) {
            if (const std::size_t due = pacer_.due(now); due > 0) {
                toTool_->push(pacer_.front(due), now);
                pacer_.consumed(due);
                if (pacer_.empty()) {
                    role_->drained(toTool_->lastArrival());
                }
            }
        }
        if (peer_) {
            const zanst::bus::Bytes packets = toTool_->take(now);
            outbox_.insert(outbox_.end(), packets.begin(), packets.end());
            // Bounded as the pacer's queue is, for a far side that holds the port but stops reading.
            if (outbox_.size() > OutputPacer::kMaxQueued) {
                const std::size_t excess = outbox_.size() - OutputPacer::kMaxQueued;
                outbox_.erase(outbox_.begin(), outbox_.begin() + static_cast<std::ptrdiff_t>(excess));
                say_(who_, "the far side stopped reading: " + std::to_string(excess) + " bytes discarded");
            }
        }
        if (!peer_ || outbox_.empty()) {
            return false;
        }
        const ssize_t n = ::write(dev_->fd(), outbox_.data(), outbox_.size());
        if (n > 0) {
            capture_.note(zanst::capture::RecordKind::Received, Clock::now(),
                          std::span(outbox_.data(), static_cast<std::size_t>(n)));
            outbox_.erase(outbox_.begin(), outbox_.begin() + n);
        }
        return !outbox_.empty();
    }

    // What the tool sent, once the adapter has let it through.
    void passFromTool(TimePoint now) {
        if (!fromTool_) {
            return;
        }
        const zanst::bus::Bytes bytes = fromTool_->take(now);
        if (!bytes.empty() && !silent_) {
            role_->received(bytes, now);
        }
    }

    void dropHeld() {
        outbox_.clear();
        if (toTool_) {
            toTool_->clear();
        }
        if (fromTool_) {
            fromTool_->clear();
        }
    }

    void flushCapture(bool force) {
        if (const std::string why = capture_.flushIfDue(Clock::now(), force); !why.empty()) {
            say_("capture", "stopped: " + why);
        }
    }

    void printLines() {
        for (const auto& line : role_->takeLines()) {
            say_(who_, line);
        }
    }

    // Sleeps until input, a timer, the next paced byte or the silence starts; true when the
    // device has bytes to read.
    bool waitForInput(bool blocked) {
        const TimePoint now = Clock::now();
        std::optional<TimePoint> wake;
        const auto earliest = [&](std::optional<TimePoint> t) {
            if (t && (!wake || *t < *wake)) {
                wake = t;
            }
        };
        if (!silent_) {
            earliest(role_->nextDeadline());
            earliest(silentAt_);
        }
        if (peer_ && !pacer_.empty() && !blocked) {
            earliest(pacer_.nextTime());
        }
        if (peer_ && toTool_ && !blocked) {
            earliest(toTool_->nextRelease());
        }
        if (fromTool_) {
            earliest(fromTool_->nextRelease());
        }
        if (!peer_) {
            earliest(now + kPeerPollInterval);
        }
        pollfd p{dev_->fd(), static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
        timespec ts{};
        if (wake) {
            ts = toTimespec(*wake - now);
        }
        const int ready = ::ppoll(&p, peer_ ? 1 : 0, wake ? &ts : nullptr, &waitMask_);
        if (ready < 0) {
            return false; // a signal: the loop condition looks at it
        }
        return peer_ && (p.revents & POLLIN) != 0;
    }

    void readInput() {
        const ssize_t n = ::read(dev_->fd(), buf_.data(), buf_.size());
        if (n > 0) {
            capture_.note(zanst::capture::RecordKind::Sent, Clock::now(),
                          std::span<const std::uint8_t>(buf_.data(), static_cast<std::size_t>(n)));
        }
        const std::span<const std::uint8_t> bytes(buf_.data(),
                                                  static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n > 0 && fromTool_) {
            fromTool_->push(bytes, Clock::now());
        } else if (n > 0 && !silent_) {
            role_->received(bytes, Clock::now());
        }
    }

    // The closing lines, the last of the capture, the link removed.
    int finish() {
        say_(who_, std::string("stopping on ") + (stopSignal == SIGINT    ? "SIGINT"
                                                  : stopSignal == SIGTERM ? "SIGTERM"
                                                                          : "SIGHUP"));
        role_->stopping(Clock::now());
        printLines();
        for (const auto& line : role_->summary()) {
            say_(who_, line);
        }
        if (toTool_ || fromTool_) {
            say_("adapter", adapterSummary());
        }
        flushCapture(true);
        dev_->removeLink();
        return 0;
    }

    std::string adapterSummary() const {
        std::string out = "summary";
        const auto side = [&](const char* name, const std::optional<AdapterLine>& a) {
            if (!a) {
                return;
            }
            char text[160];
            std::snprintf(text, sizeof text, " %s_packets=%ld %s_bytes=%ld %s_held_max_ms=%.2f", name,
                          a->packets(), name, a->bytesPassed(), name, millis(a->longestHold()));
            out += text;
        };
        side("to_tool", toTool_);
        side("from_tool", fromTool_);
        return out;
    }

    const Options& o_;
    Recordings recordings_;
    const TimePoint start_;
    const Printer say_;
    std::unique_ptr<PtyDevice> dev_;
    SimCapture capture_;
    std::unique_ptr<Role> role_;
    const char* who_ = "";
    OutputPacer pacer_;
    std::optional<AdapterLine> toTool_;   // --adapter-latency: what the tool receives
    std::optional<AdapterLine> fromTool_; // and, with --adapter-side, what it sends
    zanst::bus::Bytes outbox_;            // let through by the adapter, not yet taken by the device
    std::optional<TimePoint> silentAt_;
    bool silent_ = false;
    bool peer_ = false;
    std::vector<std::uint8_t> buf_ = std::vector<std::uint8_t>(4096);
    sigset_t waitMask_{};
};

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
    return Simulator(parsed.options).run();
}
