#include "startcheck.h"

UIAutoShutdownWnd* g_autoshutdown_window = nullptr;

int main(int, char**)
{
    return 0;
}
