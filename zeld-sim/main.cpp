// zeld-sim: a stand-in for the printer daemon zeld, for tests, the demo and
// anyone trying Quellon on a machine without Brelko printers.
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
    "usage: zeld-sim [--port N] [--config FILE] [--printer \"NAME MAJOR.MINOR TIMER\"]...\n"
    "                [--fault \"PRINTER ITEM KIND [ARG] [count N]\"]...\n"
    "                [--state FILE] [--control FILE] [--log FILE]\n"
    "Listens on 127.0.0.1 (port 59787 by default, 0 for any free port) and\n"
    "prints the port on the first line of standard output. See README.md.\n";

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "zeld-sim: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

bool ParsePort(const char* text, uint16_t& port)
{
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 0 || v > 65535)
        return false;
    port = static_cast<uint16_t>(v);
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

}  // namespace

int main(int argc, char** argv)
{
    zsim::Options options;
    std::vector<zsim::SimPrinter> printers;
    std::vector<zsim::FaultRule> faults;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc)
            return Usage("unknown option or missing value: " + opt);
        const char* value = argv[++i];
        std::string error;
        if (opt == "--port") {
            if (!ParsePort(value, options.port))
                return Usage(std::string("bad port \"") + value + "\"");
        } else if (opt == "--config") {
            zsim::Settings from_file;
            if (!ReadConfig(value, from_file, error))
                return Usage(error);
            printers.insert(printers.end(), from_file.printers.begin(), from_file.printers.end());
            faults.insert(faults.end(), from_file.faults.begin(), from_file.faults.end());
        } else if (opt == "--printer") {
            if (!zsim::ParsePrinters(value, printers, error))
                return Usage(error);
        } else if (opt == "--fault") {
            if (!zsim::ParseFaults(value, faults, error))
                return Usage(error);
        } else if (opt == "--state") {
            options.state_path = value;
        } else if (opt == "--control") {
            options.control_path = value;
        } else if (opt == "--log") {
            options.log_path = value;
        } else {
            return Usage("unknown option " + opt);
        }
    }
    if (printers.empty())
        printers = zsim::DefaultPrinters();
    std::string error;
    if (!NamesUnique(printers, error))
        return Usage(error);
    options.settings.printers = printers;
    options.settings.faults = faults;
    return zsim::Serve(options);
}
