#pragma once
// Ctrl+C, SIGTERM and a closed output pipe, taken from the signal handler to the main thread's
// event loop: the handler only writes the signal's number into a pipe, a socket notifier reads
// it there, so a runner can end its work cleanly (an update with its end-update frame) instead of
// dying half-way.

#include <QObject>

#include <memory>

class QCoreApplication;
class QSocketNotifier;

namespace zanst::cli {

// The application object for a run: the one that exists, else a QCoreApplication made now. Qt
// never sees zanst-cli's own arguments.
QCoreApplication& application();
// Destroys the application made by application(), before the program's statics go.
void closeApplication();

class Interrupts : public QObject {
    Q_OBJECT
  public:
    // Takes SIGINT, SIGTERM and SIGPIPE from now on; the previous handlers come back with the
    // object. At most one lives at a time.
    Interrupts();
    ~Interrupts() override;
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    int count() const { return count_; }

  signals:
    // On the main thread; `count` is how many arrived so far (1 for the first Ctrl+C).
    void interrupted(int signal, int count);

  private:
    void drain();

    std::unique_ptr<QSocketNotifier> notifier_;
    int count_ = 0;
};

} // namespace zanst::cli
