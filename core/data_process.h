// One request/response exchange with the daemon, on the connection given.
#pragma once

#include "vxsktmodule.h"

enum { SEND_OK = 0, SEND_FAILED = -1, SEND_REFUSED = -2 };

int SendRequest(VxsktModule* pVxskt, int command);
int DataProcess2(VxsktModule* pVxskt);
