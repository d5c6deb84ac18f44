// The allocations of the connection module, as a table that tests may
// replace to make one of them fail. The program never changes it.
#pragma once

#include <cstddef>

#include "buftool.h"

struct VxsktAllocator {
    void* (*zero_alloc)(size_t count, size_t size);  // freed with free()
    BufTool* (*new_buffer)(int max_buf_size, int big_endian);
};

extern VxsktAllocator vxskt_allocator;
