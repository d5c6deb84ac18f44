#include "proxy.h"

#include <stdexcept>

namespace harness {

DelayProxy::DelayProxy(const std::string& target, Millis delay, const std::string& drop)
{
    const std::string out = dir_ / "stdout", err = dir_ / "stderr";
    std::vector<std::string> argv{BuildPath("tests/quellon-delay-proxy"), "--to", target, "--delay",
                                  std::to_string(delay.count())};
    if (!drop.empty())
        argv.insert(argv.end(), {"--drop", drop});
    process_ = std::make_unique<Process>(argv, EnvChanges{}, out, err);
    std::optional<uint16_t> got;
    WaitFor(
        [&] {
            got = PortLine(out);
            return got || !process_->running();
        },
        10000ms);
    if (!got)
        throw std::runtime_error("quellon-delay-proxy did not start: " + ReadFile(err));
    port_ = *got;
}

DelayProxy::~DelayProxy() = default;

}  // namespace harness
