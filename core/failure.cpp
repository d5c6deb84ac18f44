#include "failure.h"

#include "data_process.h"

Failure LastFailure(int result, const VxsktModule* vxskt)
{
    if (result == SEND_REFUSED && vxskt != nullptr)
        return Failure{FailureKind::kRefused, 0, vxskt->response_code};
    const VxsktFailure transport = vxsktLastFailure();
    switch (transport.kind) {
    case VXSKT_RESOLVE:
        return Failure{FailureKind::kResolve, 0, 0};
    case VXSKT_CONNECT:
        return Failure{FailureKind::kConnect, transport.error, 0};
    case VXSKT_DEADLINE:
        return Failure{FailureKind::kDeadline, 0, 0};
    case VXSKT_CLOSED:
        return Failure{FailureKind::kClosed, transport.error, 0};
    case VXSKT_OK:
        break;
    }
    // The transport did its part: what came back was not what was asked.
    return Failure{FailureKind::kMalformed, 0, 0};
}
