#include "failure.h"

#include <array>

#include "data_process.h"

namespace {

// In the order of FailureKind.
constexpr std::array kCodes = {
    "",
    "unreachable",
    "unreachable",
    "timeout",
    "no-reply",
    "malformed-reply",
    "refused",
    "verify-failed",
    "unconfirmed",
    "old-driver",
    "old-firmware",
    "unknown-queue",
    "unsupported-model",
    "ppd-failed",
    "interrupted",
    "not-attempted",
};
static_assert(kCodes.size() == static_cast<size_t>(FailureKind::kNotAttempted) + 1,
              "a code for every kind");

}  // namespace

const char* FailureCode(FailureKind kind)
{
    return kCodes[static_cast<size_t>(kind)];
}

Failure OperationFailure(int result, const VxsktModule* vxskt)
{
    Failure failure;
    if (result == SEND_REFUSED && vxskt != nullptr) {
        failure.kind = FailureKind::kRefused;
        failure.daemon_code = vxskt->response_code;
        return failure;
    }
    const VxsktFailure transport = vxsktLastFailure();
    failure.error = transport.error;
    switch (transport.kind) {
    case VXSKT_RESOLVE:
        failure.kind = FailureKind::kResolve;
        return failure;
    case VXSKT_CONNECT:
        failure.kind = FailureKind::kConnect;
        return failure;
    case VXSKT_DEADLINE:
        failure.kind = FailureKind::kDeadline;
        return failure;
    case VXSKT_CLOSED:
        failure.kind = FailureKind::kClosed;
        return failure;
    case VXSKT_OK:
        break;
    }
    // The transport did its part: what came back was not what was asked.
    failure.kind = FailureKind::kMalformed;
    return failure;
}
