// zeld-sim: a stand-in for the printer daemon zeld, for tests, the demo and
// anyone trying Quellon on a machine without Brelko printers.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "config.h"
#include "server.h"

namespace {

constexpr char kUsage[] =
    "usage: zeld-sim [--port N] [--config FILE] [--printer \"NAME MAJOR.MINOR TIMER [delay "
    "MS]\"]...\n"
    "                [--fault \"PRINTER ITEM KIND [ARG] [count N]\"]...\n"
    "                [--state FILE] [--control FILE] [--log FILE] [--log-max BYTES]\n"
    "                [--idle-timeout MS] [--split-replies]\n"
    "Listens on 127.0.0.1 (port 59787 by default, 0 for any free port) and\n"
    "prints the port on the first line of standard output. See README.md.\n";

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "zeld-sim: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

// The whole text must be a decimal number from `min` to `max`.
bool ParseNumber(const char* text, long long min, long long max, long long& out)
{
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < min || v > max)
        return false;
    out = v;
    return true;
}

bool ReadConfig(const std::string& path, zsim::Settings& settings, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    if (!zsim::ParseConfig(s.str(), settings, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool NamesUnique(const std::vector<zsim::SimPrinter>& printers, std::string& error)
{
    std::set<std::string> seen;
    for (const auto& p : printers) {
        if (!seen.insert(p.name).second) {
            error = "printer \"" + p.name + "\" given twice";
            return false;
        }
    }
    return true;
}

struct Parsed {
    zsim::Options options;
    std::vector<zsim::SimPrinter> printers;
    std::vector<zsim::FaultRule> faults;
};

// One option and its value; false with `error` set when either is bad.
bool TakeOption(const std::string& opt, const char* value, Parsed& p, std::string& error)
{
    long long n = 0;
    if (opt == "--port") {
        error = std::string("bad port \"") + value + "\"";
        if (!ParseNumber(value, 0, 65535, n))
            return false;
        p.options.port = static_cast<uint16_t>(n);
    } else if (opt == "--idle-timeout") {
        error = std::string("bad idle timeout \"") + value + "\" (want 0 to 86400000 milliseconds)";
        if (!ParseNumber(value, 0, 86400000, n))
            return false;
        p.options.idle_ms = n;
    } else if (opt == "--log-max") {
        error = std::string("bad log size \"") + value + "\" (want 1024 to 1099511627776 bytes)";
        if (!ParseNumber(value, 1024, 1LL << 40, n))
            return false;
        p.options.log_max = static_cast<uint64_t>(n);
    } else if (opt == "--config") {
        zsim::Settings from_file;
        if (!ReadConfig(value, from_file, error))
            return false;
        p.printers.insert(p.printers.end(), from_file.printers.begin(), from_file.printers.end());
        p.faults.insert(p.faults.end(), from_file.faults.begin(), from_file.faults.end());
    } else if (opt == "--printer") {
        return zsim::ParsePrinters(value, p.printers, error);
    } else if (opt == "--fault") {
        return zsim::ParseFaults(value, p.faults, error);
    } else if (opt == "--state") {
        p.options.state_path = value;
    } else if (opt == "--control") {
        p.options.control_path = value;
    } else if (opt == "--log") {
        p.options.log_path = value;
    } else {
        error = "unknown option " + opt;
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Parsed p;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (opt == "--split-replies") {
            p.options.split_replies = true;
            continue;
        }
        if (i + 1 >= argc)
            return Usage("unknown option or missing value: " + opt);
        std::string error;
        if (!TakeOption(opt, argv[++i], p, error))
            return Usage(error);
    }
    if (p.printers.empty())
        p.printers = zsim::DefaultPrinters();
    std::string error;
    if (!NamesUnique(p.printers, error))
        return Usage(error);
    p.options.settings.printers = p.printers;
    p.options.settings.faults = p.faults;
    return zsim::Serve(p.options);
}
