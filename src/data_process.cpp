#include "data_process.h"

#include <poll.h>

#include "model.h"

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
    DataProcess2();
    if (vxsktRead(pVxskt) < 0) {
        return SEND_FAILED;
    }
    return vxsktGetResCode(pVxskt) == 0 ? SEND_OK : SEND_REFUSED;
}

// The step between sending and receiving: a look at whether the window
// model's connection is writable, without waiting. poll rather than select,
// so a descriptor above FD_SETSIZE is no danger. The outcome is not used.
// quellonctl keeps the model null, so its threads never touch one
// another's connection here.
int DataProcess2(void)
{
    const UIAutoShutdownWnd* wnd = g_autoshutdown_window;
    if (wnd != nullptr && wnd->pVxskt != nullptr) {
        pollfd socket{vxsktGetSocketFD(wnd->pVxskt), POLLOUT, 0};
        poll(&socket, 1, 0);
    }
    return 1;
}
