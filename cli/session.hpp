#pragma once
// A subcommand's run on the bus engine, as the window runs it but without one: the engine on its
// own thread (EngineHost), a BankFeed on the main thread, the port opened and its state followed,
// Ctrl+C taken to the runner, and an event loop that ends with the run's exit code.

#include "cli/dispatch.hpp"
#include "cli/exit_codes.hpp"
#include "cli/interrupts.hpp"
#include "engine/bank_feed.hpp"
#include "engine/engine_host.hpp"
#include "engine/post.hpp"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zanst::cli {

class Session : public QObject {
    Q_OBJECT
  public:
    // `command` prefixes every message ("scan: ...").
    Session(const Console& console, std::string command);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    app::BusEngine& engine() { return *host_->engine(); }
    // Made at the first call: connect to a feature's own signal before it to be served first.
    app::BankFeed& feed();
    const Console& console() const { return console_; }

    // Opens `port`; `opened` runs once the engine reports it open (after its settle pause). A
    // port that cannot be opened ends the run with ExitCode::PortUnavailable.
    void openPort(const std::string& port, std::function<void()> opened);
    const std::string& port() const { return port_; }
    // What a lost port, or a port that would not open, does; by default either ends the run with
    // ExitCode::PortUnavailable.
    void onPortLost(std::function<void(const QString& reason)> handler) { lost_ = std::move(handler); }
    void onPortFailed(std::function<void(const QString& reason)> handler) { failed_ = std::move(handler); }
    // Asks the engine to open the port again (after a loss); `opened` runs again when it is open.
    void reopenPort();

    // Polls as "Battery tester" does: the mode is selected once the port is open, as a technician
    // selects the tab after the port; every polled tick's report reaches `onTick` here.
    void pollBank(const std::string& port, std::function<void(const tester::TickReport&)> onTick);

    // Queued calls into the engine, as the window makes them.
    void selectMode(bus::Mode mode);
    template <typename T, typename Fn> void post(T* target, Fn&& fn) {
        app::post(target, std::forward<Fn>(fn));
    }

    // What Ctrl+C (or SIGTERM, or a closed output pipe) does: `handler` gets the count so far. By
    // default the run ends with ExitCode::Failed: the work was not finished.
    void onInterrupt(std::function<void(int count)> handler) { interrupt_ = std::move(handler); }

    // One line on standard error, "zanst-cli: <command>: <line>".
    void say(const std::string& line) const;
    // Ends the run with `code` (the first call decides).
    void finish(int code);
    void finish(ExitCode code) { finish(cli::code(code)); }
    // A line, then the end of the run with `code`.
    void fail(ExitCode code, const std::string& line);
    bool finished() const { return code_.has_value(); }

    // After `ms` milliseconds, `fn` on the main thread (unless the run ended meanwhile).
    void after(int ms, std::function<void()> fn);
    // Runs the event loop until finish(); returns the exit code.
    int run();

  private:
    QCoreApplication& app_; // first: everything below needs it
    Console console_;
    std::string command_;
    std::string port_;
    Interrupts interrupts_;
    std::unique_ptr<app::EngineHost> host_;
    std::unique_ptr<app::BankFeed> feed_;
    std::function<void()> opened_;
    std::function<void(const QString&)> lost_;
    std::function<void(const QString&)> failed_;
    std::function<void(int)> interrupt_;
    QEventLoop loop_;
    std::optional<int> code_;
};

} // namespace zanst::cli
