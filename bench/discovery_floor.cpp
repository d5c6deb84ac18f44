// discovery's floor as a process of its own, toolkit-free: ctl_bench and
// remote_discovery_bench time it from exec to exit next to "quellonctl
// list". With --concurrent N it fetches the PPD files over N connections at
// once; with --dests it only asks for the destination list. Prints how many
// PPD files (or destinations) CUPS handed out, so a run against the wrong
// scheduler shows.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cups/cups.h>

#include "cups_floor.h"

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--dests") == 0) {
        cups_dest_t* dests = nullptr;
        const int count = cupsGetDests(&dests);
        cupsFreeDests(count, dests);
        std::printf("%d\n", count);
        return 0;
    }
    const bool concurrent = argc == 3 && std::strcmp(argv[1], "--concurrent") == 0;
    std::printf("%d\n",
                concurrent ? ConcurrentDiscoveryFloor(std::atoi(argv[2])) : DiscoveryFloor());
    return 0;
}
