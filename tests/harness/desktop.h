// The real program on a desktop of its own: Xvfb with openbox, a private
// cupsd with the test's queues, the daemon simulator, and `quellon` started
// with them. Tests work it only with the keyboard, the mouse and what the
// X server and the simulator show.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cupsd.h"
#include "process.h"
#include "xserver.h"
#include "zeld_sim.h"

namespace harness {

// One request the simulator received, from its log.
struct Request {
    int conn = 0;
    long item = -1;
    long value = -1;
    std::string printer;
    std::string raw;  // the whole frame in hex
};

class Desktop {
public:
    Desktop(const std::vector<Queue>& queues, ZeldSim::Options sim = {});
    ~Desktop();

    // Starts the program with LANG=C (or what `env` sets), behind the
    // command `wrapper` if one is given (the program's path comes last).
    void Launch(const EnvChanges& env = {}, const std::vector<std::string>& wrapper = {});
    // Launches it and waits for its main window; false when it does not
    // appear.
    bool Start(const EnvChanges& env = {}, const std::string& main_title = "Quellon",
               const std::vector<std::string>& wrapper = {});
    Process& program() { return *app_; }
    // The program's exit status once it has ended by itself (nullopt when
    // it does not within the deadline).
    std::optional<int> WaitExit(Millis timeout = 20000ms);

    XServer& x() { return x_; }
    ZeldSim& sim() { return *sim_; }
    PrivateCupsd& cupsd() { return cupsd_; }
    unsigned long main_window() const { return main_; }
    // What the program wrote to standard error so far.
    std::string Stderr() const;

    // Keys into window `id` after giving it the focus.
    bool KeysTo(unsigned long id, const std::string& keys);
    // Selects row `row` of the list (the first Down selects row 0) and
    // presses "Auto Shutdown Settings...".
    bool SelectAndOpen(int row);
    // Presses the settings button again (focus is still on it).
    bool OpenAgain();

    std::optional<unsigned long> WaitSettings(Millis timeout = 20000ms);
    std::optional<unsigned long> WaitWarning(Millis timeout = 20000ms);

    // Closes the main window as the window manager does and returns the
    // exit status (nullopt when the program does not end).
    std::optional<int> CloseMain();

    // The program's established TCP connections to `port`.
    int ConnectionsTo(uint16_t port);

    std::vector<Request> Requests() const;
    std::vector<Request> RequestsFor(long item) const;

private:
    XServer x_{true};
    PrivateCupsd cupsd_;
    std::unique_ptr<ZeldSim> sim_;
    TempDir out_;
    std::unique_ptr<Process> app_;
    unsigned long main_ = 0;
};

}  // namespace harness
