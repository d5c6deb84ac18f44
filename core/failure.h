// Why a printer could not be worked on, as one kind with the detail it
// needs, filled where the failure happens: the command line names each
// kind by a stable code and a message.
#pragma once

#include <string>

#include "vxsktmodule.h"

enum class FailureKind {
    kNone,
    kResolve,           // the daemon's host has no address
    kConnect,           // no address took the connection; `error` is the errno
    kDeadline,          // the deadline (or a bound of one step) passed
    kClosed,            // the daemon closed or reset the connection; `error`: errno or 0
    kMalformed,         // a reply that does not carry what was asked for
    kRefused,           // the daemon refused; `daemon_code` is its response code
    kStoredOther,       // the write was accepted, the printer reports another value
    kUnconfirmed,       // the write went out, whether it took is unknown
    kOldDriver,         // the queue's driver is too old for the timer items
    kOldFirmware,       // the printer's firmware is below its model's minimum
    kUnknownQueue,      // no queue of that name
    kUnsupportedModel,  // a queue, but not of a supported printer (or no PPD)
    kPpdFailed,         // its PPD file could not be fetched or read
    kInterrupted,       // a signal came before it was done
    kNotAttempted,      // left alone because another queue named is not usable
};

struct Failure {
    FailureKind kind = FailureKind::kNone;
    int error = 0;
    int daemon_code = 0;
    std::string detail;  // where and why in the system's or libcups's words, if known
};

// The stable code of a kind, as scripts read it ("" for kNone).
const char* FailureCode(FailureKind kind);

// The failure behind the negative `result` of a printer operation on
// `vxskt`, or of an opening (then `vxskt` is null), taken on the calling
// thread right after that call: the one place where -1 and -2 become kinds.
Failure OperationFailure(int result, const VxsktModule* vxskt);
