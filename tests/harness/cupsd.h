// A private CUPS scheduler for tests, and hand-written PPD files for its
// queues. Never the system's cupsd: configuration, spool, logs and the
// socket all live in a temporary folder that goes away with the object.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "process.h"

namespace harness {

// A print queue as the tests set one up: its name, and what its PPD names.
struct Queue {
    std::string name;
    std::string model = "Brelko M220";
    std::string driver = "2.60";
};

class PrivateCupsd {
public:
    // Starts cupsd through scripts/private-cupsd and waits until it answers.
    // Throws std::runtime_error (with the scheduler's error log) when it
    // does not come up.
    PrivateCupsd();
    ~PrivateCupsd();
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;

    // The folder the scheduler keeps everything in (what the scripts take
    // as DIR), and the value for CUPS_SERVER: the scheduler's socket.
    std::string root() const { return dir_ / "cupsd"; }
    std::string server() const { return root() + "/cups.sock"; }
    // Where clients started with env() keep their home and temporary files:
    // the copies of PPD files that cupsGetPPD makes land in tmpdir().
    std::string home() const { return dir_ / "home"; }
    std::string tmpdir() const { return dir_ / "tmp"; }
    std::string error_log() const { return root() + "/log/error_log"; }
    // Environment for a child that should see this scheduler and nothing of
    // the machine's or the user's own CUPS settings: CUPS_SERVER, HOME,
    // TMPDIR, and an empty CUPS_SERVERROOT (libcups would otherwise take a
    // queue's PPD straight from /etc/cups/ppd when a file of that name is
    // readable there, instead of asking this scheduler). `via` replaces
    // the socket in CUPS_SERVER: the address of a proxy in front of it.
    EnvChanges env(const std::string& via = "") const;
    // Sets env(via) in this process and points its libcups at the scheduler,
    // for code under test that calls libcups directly. The destructor puts
    // the previous values back.
    void UseInThisProcess(const std::string& via = "");

    // Adds an enabled queue NAME printing to /dev/null with the given PPD:
    // PPD text (anything with a line break) or the path of a PPD file.
    ::testing::AssertionResult AddQueue(const std::string& name, const std::string& ppd);
    ::testing::AssertionResult RemoveQueue(const std::string& name);

    // Files left in tmpdir(), e.g. PPD copies nobody deleted.
    int TmpFileCount() const;

private:
    std::string client_root() const { return dir_ / "client"; }
    void RestoreEnvironment();

    TempDir dir_;
    std::unique_ptr<Process> cupsd_;
    int ppd_serial_ = 0;
    EnvChanges saved_env_;
};

// A small valid PPD file for a Brelko printer. `model` becomes the value of
// *VXPrinterName and `file_version` that of *FileVersion; an empty string
// leaves the line out. `extra_lines` (each ending in a line break) are
// appended as they are.
std::string MakePpd(const std::string& model, const std::string& file_version = "2.60",
                    const std::string& extra_lines = "");

}  // namespace harness
