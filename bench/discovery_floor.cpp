// discovery's floor as a process of its own, toolkit-free: ctl_bench times
// it from exec to exit next to "quellonctl list". Prints how many PPD files
// CUPS handed out, so a run against the wrong scheduler shows.
#include <cstdio>

#include "cups_floor.h"

int main()
{
    std::printf("%d\n", DiscoveryFloor());
    return 0;
}
