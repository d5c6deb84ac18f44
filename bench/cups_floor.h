// What CUPS makes every printer discovery do, and no more: the benchmarks'
// floor for discovery and for everything that starts with it.
#pragma once

// cupsGetDests, cupsGetPPD for each destination, deleting each copy, then
// cupsFreeDests. Returns how many PPD files CUPS handed out.
int DiscoveryFloor();
