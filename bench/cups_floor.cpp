#include "cups_floor.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <unistd.h>

int DiscoveryFloor()
{
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests(&dests);
    int ppds = 0;
    for (int i = 0; i < count; ++i) {
        // Deprecated, but it is the call discovery makes.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        const char* ppd = cupsGetPPD(dests[i].name);
#pragma GCC diagnostic pop
        if (ppd) {
            unlink(ppd);
            ++ppds;
        }
    }
    cupsFreeDests(count, dests);
    return ppds;
}
