#include "daemon.h"

#include <cstring>

#include "printerops.h"

namespace {

constexpr char kDefaultHost[] = "localhost";

// The kind and detail of a failed step, told where it happened: a closed
// connection past the deadline is the deadline's doing.
Failure Described(Failure failure, const DaemonTarget& target)
{
    const std::string where = DaemonAddress(target.queue) + ": ";
    switch (failure.kind) {
    case FailureKind::kResolve:
        failure.detail = where + "no address for the host";
        break;
    case FailureKind::kConnect:
        failure.detail = where + std::strerror(failure.error);
        break;
    case FailureKind::kClosed:
        failure.detail =
            where + (failure.error ? std::strerror(failure.error) : "connection closed");
        if (DeadlinePassed(target))
            failure.kind = FailureKind::kDeadline;
        break;
    case FailureKind::kMalformed:
        failure.detail = where + "a reply without what was asked for";
        break;
    default:
        break;
    }
    return failure;
}

Failure Checked(int result, VxsktModule* vxskt, const DaemonTarget& target)
{
    return result < 0 ? Described(OperationFailure(result, vxskt), target) : Failure{};
}

}  // namespace

std::string DaemonAddress(const std::string& queue)
{
    const size_t at = queue.find('@');
    const std::string host =
        at == std::string::npos || at + 1 == queue.size() ? kDefaultHost : queue.substr(at + 1);
    return host + " port " + std::to_string(vxsktDaemonPort(DAEMON_PORT));
}

bool DeadlinePassed(const DaemonTarget& target)
{
    return vxsktNowMs() >= target.deadline_ms;
}

Connection OpenDaemon(const DaemonTarget& target, Failure* failure)
{
    // vxsktNew cuts its printer argument at "@"; the target keeps its name.
    std::string printer = target.queue;
    std::string locale = target.locale;
    Connection connection(
        vxsktNewUntil(printer.data(), locale.data(), nullptr, DAEMON_PORT, target.deadline_ms));
    if (!connection)
        *failure = Described(OperationFailure(-1, nullptr), target);
    return connection;
}

VxsktModule* ReopenDaemon(void* target)
{
    Failure ignored;
    return OpenDaemon(*static_cast<const DaemonTarget*>(target), &ignored).release();
}

Failure QueryFirmware(VxsktModule* vxskt, const DaemonTarget& target, char* firmVer)
{
    return Checked(QueryFirmVer(vxskt, firmVer), vxskt, target);
}

Failure QueryTimer(VxsktModule* vxskt, const DaemonTarget& target, unsigned short* timer)
{
    return Checked(QueryAutoShutdownTime(vxskt, timer), vxskt, target);
}
