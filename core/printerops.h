// The printer operations both programs run over a daemon connection, and
// the checks that decide whether a printer may be asked at all. Nothing
// here touches a window or the window model.
#pragma once

#include "vxsktmodule.h"

// Room for the firmware version: "%02d.%02d" of two signed bytes, "-128.-128"
// at the longest, and its terminator.
enum { FIRM_VER_SIZE = 10 };

// The daemon's port, unless ZELD_PORT says otherwise.
enum { DAEMON_PORT = 59787 };

// The timer: bit 15 set means off; the low bits are the hours, kept while
// off. A user picks 1 to 8 hours; switching on without a usable period
// takes the default.
constexpr unsigned short TIMER_OFF = 0x8000;
constexpr unsigned short TIMER_HOURS = 0x7FFF;
constexpr int TIMER_MIN_HOURS = 1;
constexpr int TIMER_MAX_HOURS = 8;
constexpr int TIMER_DEFAULT_HOURS = 4;

// The locale string every request carries, after LC_ALL, LC_CTYPE and LANG
// in that order (an empty variable counts as unset): heap "ja_JP.UTF-8" or
// "en_GB.UTF-8", which the caller frees; null when memory ran out.
char* ChooseLocaleString(void);

// 0 with the firmware version "%02d.%02d" in `firmVer` (FIRM_VER_SIZE
// bytes); negative on failure.
int QueryFirmVer(VxsktModule* vxskt, char* firmVer);
// 0 with the timer in `*timer`: bit 15 set means off, the low bits hours.
int QueryAutoShutdownTime(VxsktModule* vxskt, unsigned short* timer);
// 0 when the daemon accepted the timer; -1 transport failure; -2 refused.
int WriteAutoShutdownTime(VxsktModule* vxskt, unsigned short timer);

// Whether a driver this old answers the timer items at all.
bool DriverVersionSupported(const char* driverVersion);
// The oldest driver version that does, for messages.
const char* MinDriverVersion(void);
// Whether `firmVer` reaches the minimum of `modelName`; false for a model
// outside the supported table.
bool FirmwareSupported(const char* modelName, const char* firmVer);

typedef enum {
    WRITE_UNCHANGED,      // already held: nothing written
    WRITE_CHANGED,        // written and read back (dry run: would be written)
    WRITE_REFUSED,        // the daemon refused the write
    WRITE_VERIFY_FAILED,  // accepted, but the printer reports another value
    WRITE_FAILED,         // transport failure: see the report for what is known
} WriteOutcome;

typedef struct WriteReport {
    WriteOutcome outcome;
    bool held_known;      // whether `held` is known
    unsigned short held;  // what the printer holds afterwards, as it reported
    bool reply_lost;      // the write went out, its reply did not come back
} WriteReport;

// Writes `wanted` and reads it back, without looking first: the window
// sends what its user confirmed, as it always has. A lost reply, and a
// read-back lost after the write was accepted, are handled as below.
WriteReport WriteAndReadBack(VxsktModule** vxskt, unsigned short wanted,
                             VxsktModule* (*reopen)(void* ctx), void* ctx);
// Writes `wanted` unless `held`, the timer just read on this connection,
// is already it, and reads it back. When the write's reply is lost the
// printer may or may not have taken it, so it is never written again: a
// connection from `reopen` (null: none) replaces `*vxskt` and reads back
// what the printer holds. With `dry_run` everything but the write happens.
WriteReport VerifiedWriteOver(VxsktModule** vxskt, unsigned short held, unsigned short wanted,
                              VxsktModule* (*reopen)(void* ctx), void* ctx, bool dry_run);
