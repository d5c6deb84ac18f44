// What CUPS makes every printer discovery do, and no more: the benchmarks'
// floor for discovery and for everything that starts with it.
#pragma once

// cupsGetDests, cupsGetPPD for each destination, deleting each copy, then
// cupsFreeDests. Returns how many PPD files CUPS handed out.
int DiscoveryFloor();

// The same over `connections` connections of its own at once, one thread
// each (httpConnect2 to the server libcups uses, cupsGetPPD3 per
// destination): the least a discovery that fetches concurrently does.
int ConcurrentDiscoveryFloor(int connections);
