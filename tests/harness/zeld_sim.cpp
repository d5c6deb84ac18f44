#include "zeld_sim.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

namespace harness {
namespace {

constexpr Millis kStartTimeout = 20000ms;

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

}  // namespace

ZeldSim::ZeldSim() : ZeldSim(Options{}) {}

ZeldSim::ZeldSim(Options options)
    : options_(std::move(options)),
      config_path_(dir_ / "zeld-sim.conf"),
      state_path_(options_.state_path.empty() ? dir_ / "state" : options_.state_path),
      control_path_(dir_ / "control"),
      log_path_(dir_ / "zeld-sim.log"),
      stdout_path_(dir_ / "stdout"),
      stderr_path_(dir_ / "stderr")
{
    std::string config;
    for (const auto& p : options_.printers)
        config += "printer " + p.name + " " + std::to_string(p.major) + "." +
                  std::to_string(p.minor) + " " + std::to_string(p.timer) + "\n";
    for (const auto& line : options_.config_lines)
        config += line + "\n";
    WriteFile(config_path_, config);
    Launch(0);
}

ZeldSim::~ZeldSim() = default;

void ZeldSim::Launch(uint16_t port)
{
    std::vector<std::string> argv{BuildPath("zeld-sim/zeld-sim"),
                                  "--port",
                                  std::to_string(port),
                                  "--state",
                                  state_path_,
                                  "--control",
                                  control_path_,
                                  "--log",
                                  log_path_};
    if (!options_.printers.empty() || !options_.config_lines.empty()) {
        argv.push_back("--config");
        argv.push_back(config_path_);
    }
    for (const auto& f : options_.faults) {
        argv.push_back("--fault");
        argv.push_back(f);
    }
    if (options_.split_replies)
        argv.push_back("--split-replies");
    argv.insert(argv.end(), options_.extra_args.begin(), options_.extra_args.end());
    unlink(stdout_path_.c_str());
    process_ = std::make_unique<Process>(argv, EnvChanges{}, stdout_path_, stderr_path_);
    std::optional<uint16_t> got;
    const bool up = WaitFor(
        [&] {
            got = PortLine(stdout_path_);
            return got.has_value() || !process_->running();
        },
        kStartTimeout);
    if (!up || !got)
        throw std::runtime_error("zeld-sim did not start: " + ReadFile(stderr_path_));
    port_ = *got;
}

std::string ZeldSim::Log() const
{
    return ReadFile(log_path_);
}

std::string ZeldSim::Stderr() const
{
    return ReadFile(stderr_path_);
}

std::vector<std::string> ZeldSim::LogLines() const
{
    return Lines(Log());
}

std::vector<std::string> ZeldSim::Requests() const
{
    std::vector<std::string> out;
    for (auto& line : LogLines())
        if (line.rfind("request ", 0) == 0)
            out.push_back(line);
    return out;
}

std::optional<std::string> ZeldSim::Field(const std::string& line, const std::string& key)
{
    const std::string tag = " " + key + "=";
    const auto at = line.find(tag);
    if (at == std::string::npos)
        return std::nullopt;
    const auto begin = at + tag.size();
    // A quoted value may hold blanks; its escapes never hold a bare quote.
    size_t end = begin;
    if (end < line.size() && line[end] == '"') {
        for (++end; end < line.size() && line[end] != '"'; ++end)
            if (line[end] == '\\')
                ++end;
        ++end;
    } else {
        end = line.find(' ', begin);
    }
    return line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

size_t ZeldSim::CountLog(const std::string& text) const
{
    size_t n = 0;
    for (const auto& line : LogLines())
        if (line.find(text) != std::string::npos)
            ++n;
    return n;
}

bool ZeldSim::WaitForLog(const std::string& text, Millis timeout, size_t skip) const
{
    return WaitFor([&] { return CountLog(text) > skip; }, timeout);
}

std::optional<uint16_t> ZeldSim::StoredTimer(const std::string& printer) const
{
    for (const auto& line : Lines(ReadFile(state_path_))) {
        std::istringstream in(line);
        std::string name;
        unsigned long timer = 0;
        if (in >> name >> timer && name == printer && timer <= 0xFFFF)
            return static_cast<uint16_t>(timer);
    }
    return std::nullopt;
}

void ZeldSim::SetFaults(const std::vector<std::string>& rules)
{
    // The generation line makes every write differ, so rules with counts
    // start afresh even when the same rules are set again.
    std::string text = "# generation " + std::to_string(++control_generation_) + "\n";
    for (const auto& r : rules)
        text += "fault " + r + "\n";
    const std::string tmp = control_path_ + ".tmp";
    WriteFile(tmp, text);
    if (std::rename(tmp.c_str(), control_path_.c_str()) != 0)
        throw std::runtime_error("cannot replace " + control_path_);
}

int ZeldSim::Stop()
{
    return process_->Stop();
}

bool ZeldSim::running()
{
    return process_->running();
}

void ZeldSim::Restart(bool same_port)
{
    const uint16_t old = port_;
    process_->Stop();
    Launch(same_port ? old : 0);
}

}  // namespace harness
