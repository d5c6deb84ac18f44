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

namespace e2e {

using harness::Millis;
using namespace std::chrono_literals;

struct Queue {
    std::string name;
    std::string model = "Brelko M220";
    std::string driver = "2.60";
};

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
    Desktop(const std::vector<Queue>& queues, harness::ZeldSim::Options sim = {});
    ~Desktop();

    // Starts the program with LANG=C (or what `env` sets), behind the
    // command `wrapper` if one is given, and waits for its main window;
    // false when it does not appear.
    bool Start(const harness::EnvChanges& env = {}, const std::string& main_title = "Quellon",
               const std::vector<std::string>& wrapper = {});

    harness::XServer& x() { return x_; }
    harness::ZeldSim& sim() { return *sim_; }
    harness::PrivateCupsd& cupsd() { return cupsd_; }
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
    harness::XServer x_{true};
    harness::PrivateCupsd cupsd_;
    std::unique_ptr<harness::ZeldSim> sim_;
    harness::TempDir out_;
    std::unique_ptr<harness::Process> app_;
    unsigned long main_ = 0;
};

// The environment the tests run the program in: English texts, no locale
// settings of the caller.
harness::EnvChanges EnglishEnv();

// A loopback port that refuses every connection for as long as this lives:
// bound, never listening, so no other test's server can take it meanwhile.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// The hex of a query frame (command 19, items 106520/106523) for `printer`
// with the English locale string.
std::string QueryFrameHex(const std::string& printer, long item);

}  // namespace e2e
