#include "data_process.h"

#include <poll.h>

// Sends the staged request and reads its response: 0 when the daemon
// accepted it, -1 when the transport failed, -2 when the daemon refused.
int SendRequest(VxsktModule* pVxskt, int command)
{
    if (pVxskt == nullptr) {
        return SEND_FAILED;
    }
    if (vxsktWrite(pVxskt, command) < 0) {
        return SEND_FAILED;
    }
    DataProcess2(pVxskt);
    if (vxsktRead(pVxskt) < 0) {
        return SEND_FAILED;
    }
    return vxsktGetResCode(pVxskt) == 0 ? SEND_OK : SEND_REFUSED;
}

// The step between sending and receiving: a look at whether the connection
// is writable, without waiting. poll rather than select, so a descriptor
// above FD_SETSIZE is no danger. The outcome is not used.
int DataProcess2(VxsktModule* pVxskt)
{
    if (pVxskt != nullptr) {
        pollfd socket{vxsktGetSocketFD(pVxskt), POLLOUT, 0};
        poll(&socket, 1, 0);
    }
    return 1;
}
