#include "cli/interrupts.hpp"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace zanst::cli {

namespace {

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGPIPE};

int wakeFds[2] = {-1, -1};
struct sigaction previous[kSignals.size()];

extern "C" void onSignal(int sig) {
    const int saved = errno;
    const auto b = static_cast<unsigned char>(sig);
    // Async-signal-safe: one byte into the pipe; a full pipe has enough bytes waiting already.
    [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &b, 1);
    errno = saved;
}

} // namespace

namespace {

std::unique_ptr<QCoreApplication>& madeApplication() {
    static std::unique_ptr<QCoreApplication> app;
    return app;
}

} // namespace

QCoreApplication& application() {
    if (QCoreApplication* existing = QCoreApplication::instance()) {
        return *existing;
    }
    // Qt keeps argc and argv for the life of the application: static, and only the program name.
    static int argc = 1;
    static char name[] = "zanst-cli";
    static char* argv[] = {name, nullptr};
    madeApplication() = std::make_unique<QCoreApplication>(argc, argv);
    return *madeApplication();
}

void closeApplication() {
    madeApplication().reset();
}

Interrupts::Interrupts() {
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        wakeFds[0] = wakeFds[1] = -1;
        return; // the default handlers stay: Ctrl+C still ends the program, only less gently
    }
    notifier_ = std::make_unique<QSocketNotifier>(wakeFds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &Interrupts::drain);
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(kSignals[i], &action, &previous[i]);
    }
}

Interrupts::~Interrupts() {
    if (wakeFds[0] < 0) {
        return;
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        sigaction(kSignals[i], &previous[i], nullptr);
    }
    notifier_.reset();
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

void Interrupts::drain() {
    unsigned char buffer[16];
    ssize_t n = 0;
    while ((n = ::read(wakeFds[0], buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            emit interrupted(buffer[i], ++count_);
        }
    }
}

} // namespace zanst::cli
