#include "node_exporter.h"

#include <cerrno>
#include <cmath>
#include <locale>
#include <sstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace harness {

namespace {

constexpr Millis kStartDeadline = 20000ms;
constexpr Millis kRunDeadline = 60000ms;
// Another process may take the free port between our look and the
// exporter's bind: that many tries with a new port.
constexpr int kPortTries = 3;

// A port of 127.0.0.1 that nothing listens on at the moment.
uint16_t FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

Millis Left(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? left : 0ms;
}

// Waits up to the deadline for `fd` to be ready for `events`.
bool Ready(int fd, short events, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, static_cast<int>(Left(deadline).count()));
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

// One HTTP/1.0 exchange with 127.0.0.1:port: the whole answer, read until
// the server closes, or nullopt.
std::optional<std::string> HttpGet(uint16_t port, const std::string& path, Millis timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::string> answer;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    int error = 0;
    socklen_t len = sizeof error;
    const bool connected =
        (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ||
         (errno == EINPROGRESS && Ready(fd, POLLOUT, deadline) &&
          getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0));
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    size_t sent = 0;
    while (connected && sent < request.size() && Ready(fd, POLLOUT, deadline)) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    std::string bytes;
    char buffer[16384];
    while (sent == request.size() && Ready(fd, POLLIN, deadline)) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0) {
            answer = bytes;
            break;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        bytes.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    }
    close(fd);
    return answer;
}

}  // namespace

NodeExporter::NodeExporter(const std::string& textfile_dir) : textfile_dir_(textfile_dir)
{
    for (int i = 0; i < kPortTries; ++i) {
        if (Launch())
            return;
    }
    throw std::runtime_error("prometheus-node-exporter did not start:\n" + Log());
}

NodeExporter::~NodeExporter()
{
    Stop();
}

bool NodeExporter::Launch()
{
    port_ = FreePort();
    if (port_ == 0)
        return false;
    // Only what the tests look at: no collector of this machine's own state,
    // and not the exporter's own Go and HTTP metrics.
    process_ = std::make_unique<Process>(
        std::vector<std::string>{
            "prometheus-node-exporter", "--web.listen-address=127.0.0.1:" + std::to_string(port_),
            "--web.disable-exporter-metrics", "--collector.disable-defaults",
            "--collector.textfile", "--collector.textfile.directory=" + textfile_dir_},
        EnvChanges{}, dir_ / "log", dir_ / "log");
    bool answered = false;
    WaitFor(
        [&] {
            answered = Scrape(1000ms).has_value();
            return answered || !process_->running();
        },
        kStartDeadline, 20ms);
    return answered;
}

std::string NodeExporter::Log() const
{
    return ReadFile(dir_ / "log");
}

std::optional<std::string> NodeExporter::Scrape(Millis timeout) const
{
    const std::optional<std::string> answer = HttpGet(port_, "/metrics", timeout);
    if (!answer)
        return std::nullopt;
    // "HTTP/1.x 200 ...", then the headers up to an empty line.
    const size_t body = answer->find("\r\n\r\n");
    if (answer->compare(0, 7, "HTTP/1.") != 0 || answer->compare(8, 5, " 200 ") != 0 ||
        body == std::string::npos)
        return std::nullopt;
    return answer->substr(body + 4);
}

int NodeExporter::Stop()
{
    return process_ ? process_->Stop() : -1;
}

PromtoolCheck PromtoolCheckMetrics(const std::string& text)
{
    TempDir dir;
    WriteFile(dir / "metrics", text);
    PromtoolCheck check;
    check.status = Run({"sh", "-c", "exec promtool check metrics <\"$1\"", "sh", dir / "metrics"},
                       kRunDeadline, &check.output);
    return check;
}

std::optional<double> SampleValue(const std::string& text, const std::string& series)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, series.size(), series) != 0 || line.size() <= series.size() ||
            line[series.size()] != ' ')
            continue;
        // The value, then perhaps a timestamp; in C's notation whatever the
        // locale, or one of the format's words for the special values.
        std::istringstream fields(line.substr(series.size() + 1));
        fields.imbue(std::locale::classic());
        std::string value;
        fields >> value;
        if (value == "+Inf" || value == "-Inf")
            return value[0] == '-' ? -HUGE_VAL : HUGE_VAL;
        if (value == "NaN")
            return std::nan("");
        std::istringstream number_text(value);
        number_text.imbue(std::locale::classic());
        double number = 0;
        if (number_text >> number && number_text.peek() == EOF)
            return number;
    }
    return std::nullopt;
}

}  // namespace harness
