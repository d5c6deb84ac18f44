// The calls printer discovery makes to CUPS, the clock, the file system and
// the allocator, gathered in one table so that tests can stand in for what
// cannot be made real cheaply (CUPS's slow empty answer, a PPD that cannot
// be opened, exhausted memory). The program itself never changes it.
#pragma once

#include <cstddef>
#include <cstdio>

#include <cups/cups.h>

struct DiscoveryCalls {
    int (*get_dests)(cups_dest_t** dests);
    const char* (*get_ppd)(const char* name);
    void (*free_dests)(int num_dests, cups_dest_t* dests);
    unsigned (*sleep)(unsigned seconds);
    FILE* (*open)(const char* path, const char* mode);
    void* (*alloc_record)(size_t size);  // released with free()
    // How many connections of its own discovery fetches the PPD files over
    // at once; 0 fetches them one after the other with get_ppd.
    int ppd_connections;
};

extern DiscoveryCalls g_discovery_calls;
