// Why an opening, an exchange or a verified write failed, with the detail
// each kind needs: the window maps them to its warnings, the command line
// to its stable codes and messages.
#pragma once

#include "vxsktmodule.h"

enum class FailureKind {
    kNone,
    kResolve,      // the daemon's host has no address
    kConnect,      // no address took the connection; `error` is the errno
    kDeadline,     // the deadline (or a bound of one step) passed
    kClosed,       // the daemon closed or reset the connection; `error`: errno or 0
    kMalformed,    // a reply that does not carry what was asked for
    kRefused,      // the daemon refused; `daemon_code` is its response code
    kStoredOther,  // the write was accepted, the printer reports another value
};

struct Failure {
    FailureKind kind = FailureKind::kNone;
    int error = 0;
    int daemon_code = 0;
};

// The failure behind a negative result of an opening or a printer
// operation on this thread (`vxskt` may be null for an opening).
Failure LastFailure(int result, const VxsktModule* vxskt);
