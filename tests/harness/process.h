// Helpers for tests that start real processes: a temporary folder, a child
// process with its own environment and output files, and deadline waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace harness {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// Polls `condition` every `step` until it holds or `timeout` has passed.
// Returns whether it held.
bool WaitFor(const std::function<bool()>& condition, Millis timeout, Millis step = 10ms);

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Environment changes for a child: a value sets the variable, nullopt
// removes it. Everything else is inherited.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// The changes of each set in turn, a later set winning over an earlier one.
EnvChanges Combine(std::initializer_list<EnvChanges> sets);

// The environment tests run the program in: English texts (LANG=C), none
// of the caller's locale settings, so that windows can be found by their
// English titles.
EnvChanges EnglishEnv();

// The caller's LSAN_OPTIONS without the suppression summary, for a child
// whose standard error a test reads line by line.
EnvChanges QuietLeakCheck();

// A child process in a process group of its own. The destructor ends the
// whole group (SIGTERM, then SIGKILL after a grace period) and reaps it.
class Process {
public:
    // stdout/stderr go to the given files (appended), or to /dev/null when
    // empty. stdin is /dev/null.
    Process(const std::vector<std::string>& argv, const EnvChanges& env = {},
            const std::string& stdout_path = "", const std::string& stderr_path = "");
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // The exit status (128 + signal number for a signal), or nullopt when
    // the process is still running after `timeout`.
    std::optional<int> Wait(Millis timeout);
    void Signal(int signo);
    // SIGTERM, up to `grace` to exit, then SIGKILL; returns the status.
    int Stop(Millis grace = 3000ms);

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Runs a command to its end (killed after `timeout`) and returns its exit
// status; its standard output and error go into `output` when given.
int Run(const std::vector<std::string>& argv, Millis timeout, std::string* output = nullptr,
        const EnvChanges& env = {});

std::string ReadFile(const std::string& path);
// The first line of `path` as a port number, once that line is complete: how
// the project's servers started on port 0 say where they listen.
std::optional<uint16_t> PortLine(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
bool FileContains(const std::string& path, const std::string& text);

// Bytes as lower-case hex, two digits a byte, as the simulator logs them.
std::string Hex(const std::string& bytes);

// Paths of the build tree and the source tree.
std::string BuildPath(const std::string& relative);
std::string SourcePath(const std::string& relative);

}  // namespace harness
