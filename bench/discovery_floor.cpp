// discovery's floor as a process of its own, toolkit-free: ctl_bench and
// remote_discovery_bench time it from exec to exit next to "quellonctl
// list". With --concurrent N it fetches the PPD files over N connections at
// once. Prints how many PPD files CUPS handed out, so a run against the
// wrong scheduler shows.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cups_floor.h"

int main(int argc, char** argv)
{
    const bool concurrent = argc == 3 && std::strcmp(argv[1], "--concurrent") == 0;
    std::printf("%d\n",
                concurrent ? ConcurrentDiscoveryFloor(std::atoi(argv[2])) : DiscoveryFloor());
    return 0;
}
