#include "engine/bus_engine.hpp"

#include "bus/protocol.hpp"
#include "engine/metatypes.hpp"

#include <algorithm>
#include <chrono>

namespace zanst::app {

namespace {

// The clock the echo thread stamps its reads with.
std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

bool ToolPort::write(std::span<const std::uint8_t> bytes) {
    // A frame goes out in one write of its own (the wake-up prefix and records are separate writes).
    if (!bytes.empty() && bytes.front() == bus::kStartByte) {
        ++health_.framesSent;
    }
    const bool written = ports_.source().write(bytes);
    if (written && capture_.active()) {
        capture_.note(capture::RecordKind::Sent, capture_.nowUs(), bytes);
    }
    return written;
}

BusEngine::BusEngine(QObject* parent) : QObject(parent), healthTimer_(this) {
    registerMetaTypes();
    clock_.start();
    master_.watchFrames(bus::cmd::kMetrics);

    connect(&ports_, &PortControl::readyRead, this, &BusEngine::onReadyRead);
    connect(&ports_, &PortControl::echoedReady, this, &BusEngine::onEchoed);
    // Queued: the signal comes before the mode's flags are set.
    connect(&modes_, &ModeSwitch::modeSelected, this, &BusEngine::followEchoPath, Qt::QueuedConnection);
    connect(&ports_, &PortControl::sourceChanged, this, [this] { router_.setPort(ports_.echoPort()); });
    ports_.sentReplayed = [this](std::uint64_t timeUs, std::span<const std::uint8_t> bytes) {
        onSentReplayed(timeUs, bytes);
    };
    connect(&modes_, &ModeSwitch::modeSelected, this, [this] {
        validSeen_ = 0;
        lastValidAtMs_ = -1;
    });
    connect(&healthTimer_, &QTimer::timeout, this, &BusEngine::reportHealth);
    healthTimer_.start(kHealthPeriodMs);
}

void BusEngine::onReadyRead() {
    ByteSource& source = ports_.source();
    const QByteArray data = source.readAvailable();
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(data.constData()),
                          static_cast<std::size_t>(data.size()));
    const bus::ReceivePass pass = router_.route(bytes, [this](std::uint8_t b) { sniffer_.parse(b); });
    finishPass(pass, true);
    // Noted after the echo has gone out, so that a capture or the traffic view never delays it.
    capture_.receivePass(bytes, source.readTimeUs(),
                         pass.route == bus::Route::Sniffer && !ports_.replaying());
    if (answerPriority_.raised()) {
        answerPriority_.watch(steadyNowNs()); // after the answer: a look at the load never delays it
    }
}

void BusEngine::finishPass(const bus::ReceivePass& pass, bool snifferEnd) {
    switch (pass.route) {
    case bus::Route::Emulator:
        emulator_.receive(pass.forwarded);
        break;
    case bus::Route::Sniffer:
        if (snifferEnd) {
            sniffer_.passEnded();
        }
        break;
    case bus::Route::Master:
        for (const bus::Bytes& frame : pass.returnedFrames) {
            metrics_.frameReturned(frame);
        }
        break;
    case bus::Route::Discard:
        break;
    }
}

void BusEngine::onEchoed() {
    ports_.drainEchoed([this](std::span<const std::uint8_t> bytes, std::int64_t readNs, std::uint32_t) {
        takeEchoed(bytes, readNs);
    });
    // One report for everything the drain completed: the window gets one signal, not one per read.
    sniffer_.passEnded();
}

void BusEngine::takeEchoed(std::span<const std::uint8_t> bytes, std::int64_t readNs) {
    const bus::ReceivePass pass = router_.routeEchoed(bytes, [this](std::uint8_t b) { sniffer_.parse(b); });
    finishPass(pass, false);
    if (capture_.active()) {
        // On the capture's clock, at the moment the echo thread read them: it went out right then.
        const std::int64_t ageNs = steadyNowNs() - readNs;
        const std::int64_t atUs =
            static_cast<std::int64_t>(capture_.nowUs()) - std::max<std::int64_t>(0, ageNs / 1000);
        capture_.receivePass(bytes, std::max<std::int64_t>(0, atUs), true);
    }
}

void BusEngine::followEchoPath() {
    const bus::Route route = bus::routeFor(state_);
    if (route == bus::Route::Emulator && !answerPriority_.raised()) {
        answerPriority_.raise();
    } else if (route != bus::Route::Emulator) {
        answerPriority_.restore();
    }
    const bool sniffing = route == bus::Route::Sniffer;
    ports_.setSnifferEcho(sniffing, [this](std::span<const std::uint8_t> bytes, std::int64_t readNs,
                                           std::uint32_t) { takeEchoed(bytes, readNs); });
}

void BusEngine::onSentReplayed(std::uint64_t timeUs, std::span<const std::uint8_t> bytes) {
    // The tool's sender cleared the in-frame flag before each command it sent (the wake-up bytes
    // come first), so the master side hunted for a start byte from there on.
    if (bus::routeFor(state_) == bus::Route::Master &&
        (bytes.front() == 0x00 || bytes.front() == bus::kStartByte)) {
        state_.frameReceiving = false;
    }
    if (capture_.active()) {
        capture_.note(capture::RecordKind::Sent, timeUs, bytes);
    }
}

void BusEngine::reportHealth() {
    const bus::BusHealth& h = state_.health;
    if (h.validReceived != validSeen_) {
        validSeen_ = h.validReceived;
        lastValidAtMs_ = clock_.elapsed();
    }
    HealthReport report;
    report.mode = state_.selectedMode;
    report.balancers = bus::walkableCells(state_.numCells);
    report.framesSent = h.framesSent;
    report.framesReceived = h.framesReceived;
    report.validReceived = h.validReceived;
    report.crcErrors = h.crcErrors;
    report.unansweredPolls = h.unansweredPolls;
    report.noAnswerAfter = h.noAnswerAfter;
    report.msSinceValid = lastValidAtMs_ < 0 ? -1 : clock_.elapsed() - lastValidAtMs_;
    emit healthReported(report);
}

void BusEngine::shutdown() {
    // Every timer stops here: a timer still running when the engine moves back to the front end's
    // thread is handed over by a queued call that may never run, and its list leaks.
    metrics_.shutdown();
    service_.shutdown();
    healthTimer_.stop();
    modes_.shutdown();
    tester_.stopPolling();
    playback_.shutdown();
    capture_.shutdown();
    ports_.shutdown();
    answerPriority_.restore();
}

} // namespace zanst::app
