// One printer's daemon as a worker of the command line reaches it: each
// step under one deadline, each failure said with its kind, where and why.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "failure.h"
#include "vxsktmodule.h"

struct DaemonTarget {
    std::string queue;  // as CUPS spells it; "queue@host" reaches another host
    std::string locale;
    int64_t deadline_ms = 0;  // a vxsktNowMs() time
};

struct ConnectionCloser {
    void operator()(VxsktModule* vxskt) const { vxsktDestroy(vxskt); }
};
using Connection = std::unique_ptr<VxsktModule, ConnectionCloser>;

// "HOST port PORT": where the daemon of `queue` is reached, for messages.
std::string DaemonAddress(const std::string& queue);
bool DeadlinePassed(const DaemonTarget& target);

// A connection to the daemon of `target`; null with `*failure` filled.
Connection OpenDaemon(const DaemonTarget& target, Failure* failure);
// The same as a reopening for the verified write (`target` a DaemonTarget).
VxsktModule* ReopenDaemon(void* target);

// The firmware version or the timer; kNone on success.
Failure QueryFirmware(VxsktModule* vxskt, const DaemonTarget& target, char* firmVer);
Failure QueryTimer(VxsktModule* vxskt, const DaemonTarget& target, unsigned short* timer);
