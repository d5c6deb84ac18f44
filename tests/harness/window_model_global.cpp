// The window model pointer lives in the program's main module, which no test
// links; every test program compiles this definition in its place.
#include "startcheck.h"

UIAutoShutdownWnd* g_autoshutdown_window = nullptr;
