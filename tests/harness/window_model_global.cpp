// The window model global lives in the program's main module, which tests
// do not link; tests that run code reading it link this definition.
#include "startcheck.h"

UIAutoShutdownWnd* g_autoshutdown_window = nullptr;
