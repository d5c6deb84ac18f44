#include "vxsktmodule.h"

// Placeholder until the connection lands.
VxsktModule* vxsktNew(char*, char*, char*, int)
{
    return nullptr;
}

void vxsktDestroy(VxsktModule*) {}
