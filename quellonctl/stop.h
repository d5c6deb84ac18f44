// SIGINT, SIGTERM and SIGHUP: before any printer is asked they end the
// process at once; from then on they cancel the one cancellable that the
// work on printers watches, so that the partial report is still printed.
#pragma once

#include <gio/gio.h>

// Takes the signals as messages instead of deaths, for as long as the
// process lives. Call it before any other thread starts: the signals are
// blocked in every thread and waited for on one of GLib's. When no thread
// can wait for them they stay deaths. A signal before the work ends the
// process with 128 + the signal, or with what `early` returns after saying
// what it must.
void WatchForStopSignals(int (*early)(int signo) = nullptr);
// From here on a signal cancels the returned cancellable.
GCancellable* BeginStoppableWork();
// 128 + the signal that stopped the run; 0 when none did.
int StopStatus();
